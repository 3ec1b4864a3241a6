// Helpers for the Windows unit tests.

#include "tests/win/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>

#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/shell.h"

namespace gu_test {

// Makes "<temp>\gu_win_test_<pid>_<tick>_<n>"; Wine numbers processes afresh with each
// server start, so the process id alone repeats across runs.
ScratchFolder::ScratchFolder(std::wstring base) {
    static std::atomic<int> counter{0};
    if (base.empty()) {
        wchar_t temp[MAX_PATH + 1] = {};
        base.assign(temp, GetTempPathW(MAX_PATH + 1, temp));
    }
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    _path = base + L"\\gu_win_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(counter++);
    makeFolder(_path);
}

// Removes the folder with the code under test; a leftover is reported, not hidden.
ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    platform::fs::removeAll(_path, ec);
    EXPECT_FALSE(present(_path)) << "scratch folder left behind: " << narrow(_path) << ": "
                                 << ec.message();
}

// Prefixes a full drive path with "\\?\".
std::wstring longForm(const std::wstring& path) { return L"\\\\?\\" + path; }

// CreateDirectoryW on the long form.
void makeFolder(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(longForm(path).c_str(), nullptr))
        << narrow(path) << " error " << GetLastError();
}

// CreateFileW + WriteFile on the long form.
void writeFile(const std::wstring& path, const std::string& text) {
    const HANDLE file = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << narrow(path) << " error " << GetLastError();
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == text.size()) << narrow(path);
}

// CreateFileW + ReadFile on the path as given.
std::string readFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

// GetFileAttributesW on the long form.
DWORD attributesOf(const std::wstring& path) { return GetFileAttributesW(longForm(path).c_str()); }

// Any attributes at all means something is there.
bool present(const std::wstring& path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

// GetEnvironmentVariableW with a buffer as large as asked for.
std::wstring environment(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return {};
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(length);
    return value;
}

// CompareStringOrdinal ignoring case.
bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The log's own encoder, so the tests see text as the log writes it.
std::string narrow(const std::wstring& text) { return logging::toUtf8(text); }

// The child is found next to this program. Wine names a program outside every drive
// "unix\..." (no drive, no "\\?\"), which opens only in the "\\?\unix\..." form.
void copyChildProgram(const std::wstring& path) {
    const std::wstring self = platform::moduleFileName();
    std::wstring source = self.substr(0, self.find_last_of(L'\\')) + L"\\gu_platform_win_child.exe";
    if (platform::fs::pathForm(source) == platform::fs::PathForm::relative) {
        source = L"\\\\?\\" + source;
    }
    ASSERT_TRUE(CopyFileW(source.c_str(), longForm(path).c_str(), FALSE))
        << narrow(source) << " error " << GetLastError();
}

// Polls for the file, then splits its UTF-16 text at the line ends.
ChildReport waitForReport(const std::wstring& file, DWORD ms) {
    for (DWORD waited = 0; !present(file) && waited < ms; waited += 50) Sleep(50);
    const std::string bytes = readFile(file);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()),
                            bytes.size() / sizeof(wchar_t));
    const std::size_t first = text.find(L'\n');
    if (first == std::wstring::npos) return {};
    const std::size_t second = text.find(L'\n', first + 1);
    return {text.substr(0, first), text.substr(first + 1, second - first - 1)};
}

// CreateProcessW with the program's long form and a command line naming it first.
ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // Started in its own folder: Wine cannot start it in this program's folder when that
    // lies outside every drive.
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    if (!CreateProcessW(longForm(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, folder.c_str(), &startup, &_info)) {
        ADD_FAILURE() << "cannot start " << narrow(program) << ": error " << GetLastError();
        _info = {};
    }
}

// Waits for the program, then closes its handles.
ChildProcess::~ChildProcess() {
    if (!started()) return;
    wait();
    CloseHandle(_info.hThread);
    CloseHandle(_info.hProcess);
}

// WaitForSingleObject with a limit, then GetExitCodeProcess.
DWORD ChildProcess::wait() {
    if (!started()) return STILL_ACTIVE;
    WaitForSingleObject(_info.hProcess, 30000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(_info.hProcess, &code);
    return code;
}

}  // namespace gu_test
