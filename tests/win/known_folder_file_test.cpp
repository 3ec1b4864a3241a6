// Deleting one file below a known folder under Wine: second names, read-only files,
// folders, files in use, paths outside the folder, and a known folder whose name is not
// its final path. Links planted on the way are tried end to end.

#include "platform/known_folder_file.h"

#include "platform/win32/handle_owner.h"
#include "tests/win/test_support.h"

namespace {

using gu_test::present;
using platform::kCsidlLocalAppData;

TEST(KnownFolderFile, DeletesOnlyAFileAtItsOwnNameBelowTheFolder) {
    const std::wstring local = platform::folderPath(kCsidlLocalAppData);
    const gu_test::ScratchFolder scratch(local);
    gu_test::writeFile(scratch / L"first", "kept");
    ASSERT_TRUE(
        CreateHardLinkW((scratch / L"second.url").c_str(), (scratch / L"first").c_str(), nullptr));
    gu_test::writeFile(scratch / L"readonly.url", "x", FILE_ATTRIBUTE_READONLY);
    gu_test::makeFolder(scratch / L"folder.url");
    gu_test::writeFile(scratch / L"held.url");
    const platform::win32::HandleOwner holder(CreateFileW((scratch / L"held.url").c_str(),
                                                          GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                          OPEN_EXISTING, 0, nullptr));
    const std::wstring outside = gu_test::environment(L"WINDIR") + L"\\gu-outside.url";
    gu_test::writeFile(outside);
    // A folder beside the known folder whose name only starts with the known folder's.
    const std::wstring sibling = local + L"x" + scratch.path().substr(local.size() + 1);
    gu_test::makeFolder(sibling);
    gu_test::writeFile(sibling + L"\\first");
    const std::pair<std::wstring, bool> rows[] = {
        {scratch / L"second.url", true},    // a second name of a file: only that name goes
        {scratch / L"readonly.url", true},  // made writable through its handle
        {scratch / L"folder.url", false},   // no file
        {scratch / L"held.url", false},     // held without delete sharing
        {scratch / L"missing.url", false},  // nothing there
        {outside, false},                   // not below the known folder
        {sibling + L"\\first", false},      // nor beside it
    };
    for (const auto& [path, removed] : rows) {
        const bool existed = present(path);
        std::error_code ec;
        platform::removeKnownFolderFile(kCsidlLocalAppData, path, ec);
        EXPECT_EQ(!ec, removed) << gu_test::narrow(path) << ": " << ec.message();
        EXPECT_EQ(present(path), existed && !removed) << gu_test::narrow(path);
    }
    EXPECT_EQ(gu_test::readFile(scratch / L"first"), "kept");
    EXPECT_TRUE(DeleteFileW(outside.c_str()));
    EXPECT_TRUE(DeleteFileW((sibling + L"\\first").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(sibling.c_str()));
}

// The desktop named by its short name, as the shell reads it: the file below it is still
// at the final path its names give.
TEST(KnownFolderFile, AFolderNamedOtherwiseThanByItsFinalPathKeepsItsFilesDeletable) {
    const gu_test::ScratchFolder scratch(platform::folderPath(kCsidlLocalAppData));
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(scratch.path().c_str(), shortName, MAX_PATH), 0u);
    ASSERT_FALSE(gu_test::samePath(shortName, scratch.path()));
    // The desktop's value, put back however the test ends.
    struct SavedDesktop {
        const wchar_t* key =
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
        wchar_t old[MAX_PATH * 2] = {};
        DWORD type = 0, size = sizeof old;
        // Initialised after the members above, which it fills.
        bool had = RegGetValueW(HKEY_CURRENT_USER, key, L"Desktop", RRF_RT_ANY | RRF_NOEXPAND,
                                &type, old, &size) == ERROR_SUCCESS;
        ~SavedDesktop() {
            if (had) RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Desktop", type, old, size);
            if (!had) RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Desktop");
        }
    } saved;
    RegSetKeyValueW(HKEY_CURRENT_USER, saved.key, L"Desktop", REG_SZ, shortName,
                    static_cast<DWORD>((wcslen(shortName) + 1) * sizeof(wchar_t)));
    gu_test::writeFile(scratch / L"game.url");
    const std::wstring desktop = platform::folderPath(platform::kCsidlDesktopCreate);
    // Otherwise the deletion below would reach the prefix's real desktop.
    ASSERT_EQ(desktop, shortName);
    std::error_code ec;
    platform::removeKnownFolderFile(platform::kCsidlDesktopCreate, desktop + L"\\game.url", ec);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_FALSE(present(scratch / L"game.url"));
}

}  // namespace
