// Deleting one file below a known folder under Wine, where the end-to-end rows do not
// reach: second names, folders, files in use, paths outside the folder, and a known folder
// whose name is not its final path. Links planted on the way are tried end to end.

#include "platform/known_folder_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <system_error>

#include "platform/shell.h"
#include "platform/win32/handle_owner.h"
#include "tests/win/test_support.h"

namespace {

using platform::win32::HandleOwner;

TEST(KnownFolderFile, DeletesOnlyAFileAtItsOwnNameBelowTheFolder) {
    const gu_test::ScratchFolder scratch(platform::folderPath(platform::kCsidlLocalAppData));
    gu_test::writeFile(scratch / L"first", "kept");
    ASSERT_TRUE(
        CreateHardLinkW((scratch / L"second.url").c_str(), (scratch / L"first").c_str(), nullptr));
    gu_test::makeFolder(scratch / L"folder.url");
    gu_test::writeFile(scratch / L"held.url");
    const HandleOwner holder(CreateFileW((scratch / L"held.url").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring outside = std::wstring(windows) + L"\\gu-outside.url";
    gu_test::writeFile(outside);
    const struct {
        const char* what;
        std::wstring path;
        bool removed;
    } rows[] = {
        {"a second name of a file", scratch / L"second.url", true},
        {"a folder", scratch / L"folder.url", false},
        {"a file held without delete sharing", scratch / L"held.url", false},
        {"a file outside the known folder", outside, false},
    };
    for (const auto& row : rows) {
        std::error_code ec;
        platform::removeKnownFolderFile(platform::kCsidlLocalAppData, row.path, ec);
        EXPECT_EQ(!ec, row.removed) << row.what << ": " << ec.message();
        EXPECT_EQ(gu_test::present(row.path), !row.removed) << row.what;
    }
    EXPECT_EQ(gu_test::readFile(scratch / L"first"), "kept");
    DeleteFileW(outside.c_str());
}

constexpr wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Names the profile's desktop `folder` as the shell reads it, until the end of the scope.
class DesktopNamed {
public:
    explicit DesktopNamed(const std::wstring& folder) {
        _had = RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop",
                            RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &_type, _old,
                            &_size) == ERROR_SUCCESS;
        RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", REG_SZ, folder.c_str(),
                        static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    ~DesktopNamed() {
        if (_had) {
            RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", _type, _old, _size);
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop");
        }
    }

private:
    bool _had = false;
    DWORD _type = 0;
    DWORD _size = sizeof _old;
    wchar_t _old[MAX_PATH * 2] = {};
};

TEST(KnownFolderFile, AFolderNamedOtherwiseThanByItsFinalPathKeepsItsFilesDeletable) {
    const gu_test::ScratchFolder scratch(platform::folderPath(platform::kCsidlLocalAppData));
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(scratch.path().c_str(), shortName, MAX_PATH), 0u);
    ASSERT_FALSE(gu_test::samePath(shortName, scratch.path()));
    const DesktopNamed desktop(shortName);
    ASSERT_EQ(platform::folderPath(platform::kCsidlDesktopCreate), shortName);
    gu_test::writeFile(scratch / L"game.url");
    std::error_code ec;
    platform::removeKnownFolderFile(platform::kCsidlDesktopCreate,
                                    std::wstring(shortName) + L"\\game.url", ec);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_FALSE(gu_test::present(scratch / L"game.url"));
}

}  // namespace
