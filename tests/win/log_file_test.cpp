// The log file under Wine: where it may be opened, how it is shared and how it grows. Links
// planted at its place are tried end to end (tests/e2e/safety_test.py).

#include "platform/log_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/shell.h"
#include "platform/win32/handle_owner.h"
#include "tests/win/test_support.h"

namespace {

using gu_test::narrow;
using gu_test::present;
using gu_test::ScratchFolder;

// A scratch folder below the local application data folder.
class LogFileTest : public ::testing::Test {
protected:
    ScratchFolder _scratch{platform::folderPath(platform::kCsidlLocalAppData)};
};

TEST_F(LogFileTest, OpensOnlyAPlainFileBelowTheLocalAppDataFolder) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    gu_test::makeFolder(_scratch / L"dir.log");
    std::wstring upper = _scratch.path();
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    const struct {
        const char* what;
        std::wstring path;
        bool opens;
    } rows[] = {
        {"a new file in a plain folder", _scratch / L"new.log", true},
        {"the same file named in other letter case", upper + L"\\NEW.LOG", true},
        {"a folder in the file's place", _scratch / L"dir.log", false},
        {"a name that climbs out", _scratch / L"dir.log\\..\\new.log", false},
        {"a folder outside the local application data", std::wstring(windows) + L"\\gu.log", false},
    };
    for (const auto& row : rows) {
        const bool before = present(row.path);
        platform::LogFile file;
        EXPECT_EQ(file.open(row.path), row.opens) << row.what;
        if (!row.opens) {
            EXPECT_EQ(present(row.path), before) << row.what;
        }
    }
}

TEST_F(LogFileTest, AppendsWhileRefusingOtherWritersAndAllowingReaders) {
    const std::wstring path = _scratch / L"GameUninstaller.log";
    gu_test::writeFile(path, "old");
    {
        platform::LogFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(file.sizeAtOpen(), 3u);
        // Opened at its start, the file takes the bytes at its end all the same.
        EXPECT_TRUE(file.write("new", 3));

        platform::LogFile second;
        EXPECT_FALSE(second.open(path));
        const platform::win32::HandleOwner reader(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(reader.valid()) << GetLastError();
    }
    EXPECT_EQ(gu_test::readFile(path), "oldnew");
}

}  // namespace
