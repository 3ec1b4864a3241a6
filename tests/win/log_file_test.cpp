// The log file's opening under Wine: below the local application data folder only, shared
// with readers. Links planted at its place, appending and a writer already holding the
// file are tried end to end (tests/e2e).

#include "platform/log_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/shell.h"
#include "platform/win32/handle_owner.h"
#include "tests/win/test_support.h"

namespace {

TEST(LogFile, OpensOnlyBelowTheLocalAppDataFolderAndLetsReadersIn) {
    const gu_test::ScratchFolder scratch(platform::folderPath(platform::kCsidlLocalAppData));
    const std::wstring log = scratch / L"a.log";
    gu_test::writeFile(log);
    std::wstring upper = log;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring outside = std::wstring(windows) + L"\\gu.log";
    const struct {
        const char* what;
        std::wstring path;
        bool opens;
    } rows[] = {
        {"the file named in other letter case", upper, true},
        {"a folder outside the local application data folder", outside, false},
    };
    for (const auto& row : rows) {
        platform::LogFile file;
        EXPECT_EQ(file.open(row.path), row.opens) << row.what;
    }
    EXPECT_FALSE(gu_test::present(outside));

    platform::LogFile held;
    ASSERT_TRUE(held.open(log));
    platform::LogFile second;
    EXPECT_FALSE(second.open(log));
    const platform::win32::HandleOwner reader(
        CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader.valid()) << GetLastError();
}

}  // namespace
