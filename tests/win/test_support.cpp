// Helpers for the Windows unit tests.

#include "tests/win/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/shell.h"

namespace gu_test {

// Makes "<base>\gu_win_test_<pid>_<tick>_<n>"; Wine numbers processes afresh with each
// server start, so the process id alone repeats across runs.
ScratchFolder::ScratchFolder(std::wstring base) {
    static std::atomic<int> counter{0};
    if (base.empty()) base = std::filesystem::temp_directory_path().wstring();
    if (base.back() == L'\\') base.pop_back();
    _path = base + L"\\gu_win_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(counter++);
    makeFolder(_path);
}

// Removes the folder with the code under test; a leftover is reported, not hidden.
ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    platform::fs::removeAll(_path, ec);
    EXPECT_FALSE(present(_path)) << "left behind: " << narrow(_path) << ": " << ec.message();
}

std::wstring longForm(const std::wstring& path) { return L"\\\\?\\" + path; }

void makeFolder(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(longForm(path).c_str(), nullptr)) << narrow(path);
}

// CreateFileW + WriteFile on the long form, then the attributes.
void writeFile(const std::wstring& path, const std::string& text, DWORD attributes) {
    const HANDLE file = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    CloseHandle(file);
    if (attributes != 0) {
        ASSERT_TRUE(SetFileAttributesW(longForm(path).c_str(), attributes));
    }
}

// CreateFileW + ReadFile on the path as given.
std::string readFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
           got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

DWORD attributesOf(const std::wstring& path) { return GetFileAttributesW(longForm(path).c_str()); }

// GetEnvironmentVariableW with a buffer as large as asked for.
std::wstring environment(const wchar_t* name) {
    std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The log's own encoder, so the tests see text as the log writes it.
std::string narrow(const std::wstring& text) { return logging::toUtf8(text); }

// Wine names a program outside every drive "unix\..." (no drive, no "\\?\"), which opens
// only in the "\\?\unix\..." form.
void copyChildProgram(const std::wstring& path) {
    const std::wstring self = platform::moduleFileName();
    std::wstring source = self.substr(0, self.find_last_of(L'\\')) + L"\\gu_platform_win_child.exe";
    if (platform::fs::pathForm(source) == platform::fs::PathForm::relative) {
        source = L"\\\\?\\" + source;
    }
    ASSERT_TRUE(CopyFileW(source.c_str(), longForm(path).c_str(), FALSE)) << narrow(source);
}

// Polls for the file, which the helper renames into place once written.
std::wstring waitForReport(const std::wstring& file, DWORD ms) {
    for (DWORD waited = 0; !present(file) && waited < ms; waited += 50) Sleep(50);
    const std::string bytes = readFile(file);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                        bytes.size() / sizeof(wchar_t));
}

}  // namespace gu_test
