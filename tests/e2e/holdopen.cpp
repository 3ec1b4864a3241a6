// holdopen.exe FILE READY MS: holds FILE open the way another program that is using it
// would, so that deleting it fails with a sharing violation and a second writer is
// refused. FILE is opened for reading and writing, shared for reading and writing only
// (never FILE_SHARE_DELETE); once it is open the file READY is created, and the handle
// is kept until READY is deleted or MS milliseconds have passed. FILE may be given in
// the extended-length form ("\\?\C:\...") to reach paths longer than 260 characters.
// Exit status: 0 released by the removal of READY, 2 time-out, 1 FILE or READY could not
// be opened (the Windows error is printed), 64 bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 64;
    HANDLE held =
        CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::printf("open failed: %lu\n", GetLastError());
        return 1;
    }
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) {
        std::printf("ready failed: %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(ready);
    const DWORD timeoutMs = static_cast<DWORD>(_wtoi(argv[3]));
    const DWORD started = GetTickCount();
    int status = 2;
    while (GetTickCount() - started < timeoutMs) {
        if (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
            status = 0;
            break;
        }
        Sleep(5);
    }
    CloseHandle(held);
    return status;
}
