// A small program the tests start.
//   gu_platform_win_child.exe OUTPUT [WAIT_MS [LINGER_MS]] [ANY...]
//     waits WAIT_MS, then writes moduleFileName() and its command line, one per line in
//     UTF-16, to OUTPUT (through a temporary file, so a reader never sees half of it),
//     then stays LINGER_MS longer. Arguments that are not numbers count as 0.
//   gu_platform_win_child.exe --exit STATUS
//     calls exitProcess(STATUS).
//   gu_platform_win_child.exe --exit-from-worker STATUS
//     runs the message loop while a worker thread calls exitProcess(STATUS).

#include <windows.h>

#include <cwchar>
#include <string>
#include <thread>

#include "platform/shell.h"
#include "platform/ui.h"

namespace {

// Writes the report to output; 0 on success, 2 on a write error.
int writeReport(const std::wstring& output) {
    const std::wstring report = platform::moduleFileName() + L"\n" + GetCommandLineW() + L"\n";
    const std::wstring partial = output + L".partial";
    const HANDLE file =
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    const DWORD bytes = static_cast<DWORD>(report.size() * sizeof(wchar_t));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, report.data(), bytes, &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes) return 2;
    return MoveFileExW(partial.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}

}  // namespace

// Picks the mode from the arguments; 2 on a usage error, 98 or 99 when an exit failed.
int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring first = argv[1];
    if (argc >= 3 && (first == L"--exit" || first == L"--exit-from-worker")) {
        const int status = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
        if (first == L"--exit") {
            platform::exitProcess(status);
            return 98;
        }
        std::thread([status] {
            Sleep(50);
            platform::exitProcess(status);
        }).detach();
        platform::runMessageLoop();
        return 99;
    }
    if (argc >= 3) Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    const int status = writeReport(first);
    if (argc >= 4) Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
    return status;
}
