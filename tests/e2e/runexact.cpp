// runexact.exe EXE TAIL: starts EXE with the command line `"EXE" TAIL`, TAIL exactly as
// given, waits for it and exits with its exit status.
// Wine quotes every argument that holds a space or a tab when it builds a command line
// from Unix arguments, so a tab can reach a program's command line unquoted only this way.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 64;
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\" " + argv[2];
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
        return 65;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = 65;
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(status);
}
