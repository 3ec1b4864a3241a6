// A small program the tests start:
//   gu_platform_win_child.exe OUTPUT [LINGER_MS] [ANY...]
// writes moduleFileName() and its command line, each followed by a line end, in UTF-16 to
// OUTPUT (through a temporary file, so a reader never sees half of it), then stays
// LINGER_MS longer.

#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/shell.h"

// 0 when the report is written, 2 on a usage or write error.
int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring report = platform::moduleFileName() + L"\n" + GetCommandLineW() + L"\n";
    const std::wstring partial = std::wstring(argv[1]) + L".partial";
    const HANDLE file =
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const DWORD bytes = static_cast<DWORD>(report.size() * sizeof(wchar_t));
    DWORD written = 0;
    const bool ok = WriteFile(file, report.data(), bytes, &written, nullptr) && written == bytes;
    CloseHandle(file);
    if (!ok || !MoveFileExW(partial.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING)) return 2;
    if (argc >= 3) Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    return 0;
}
