// Stands in for a running game: stays alive until a line appears in a file (or a time-out
// passes), so that tests can hold an executable in use for exactly as long as needed.
//   blocker.exe <file to watch> <text> <time-out in ms>
// Exit status: 0 when the text appeared, 2 on time-out, 1 on bad arguments.
#include <windows.h>

#include <string>

namespace {

// The file's bytes, read while another process may hold it open for writing.
std::string readShared(const wchar_t* path) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    return content;
}

// The UTF-8 form of a wide text.
std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 1;
    const std::string wanted = utf8(argv[2]);
    const DWORD timeoutMs = static_cast<DWORD>(_wtoi(argv[3]));
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < timeoutMs) {
        if (readShared(argv[1]).find(wanted) != std::string::npos) return 0;
        Sleep(5);
    }
    return 2;
}
