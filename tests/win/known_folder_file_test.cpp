// The walk from a known folder to one file, under Wine: the refusals the program's own
// paths never reach (a file not below the folder, or beside it), and what a name there may
// be. Links planted on the way, read-only and missing files are tried end to end.

#include "platform/known_folder_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/shell.h"
#include "platform/win32/handle_owner.h"

namespace {

bool present(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(KnownFolderFile, DeletesOnlyAFileAtItsOwnNameBelowTheFolder) {
    // Wine numbers processes afresh with each server start: the tick makes the names unique.
    const std::wstring id =
        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
    const std::wstring local = platform::folderPath(platform::kCsidlLocalAppData);
    // A folder beside the known folder whose name only starts with the known folder's.
    const std::wstring folder = local + L"\\gu_" + id, sibling = local + L"x_gu_" + id;
    const std::wstring outside = L"C:\\gu_outside_" + id + L".url";
    for (const auto& made : {folder, folder + L"\\folder.url", sibling}) {
        ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr)) << GetLastError();
    }
    for (const auto& file :
         {folder + L"\\first", folder + L"\\held.url", outside, sibling + L"\\x.url"}) {
        std::ofstream(file.c_str(), std::ios::binary) << "kept";
    }
    ASSERT_TRUE(CreateHardLinkW((folder + L"\\second.url").c_str(), (folder + L"\\first").c_str(),
                                nullptr));
    platform::win32::HandleOwner holder(CreateFileW((folder + L"\\held.url").c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                                    nullptr));
    const std::pair<std::wstring, bool> rows[] = {
        {folder + L"\\second.url", true},   // a second name of a file: only that name goes
        {folder + L"\\folder.url", false},  // no file
        {folder + L"\\held.url", false},    // held without delete sharing
        {outside, false},                   // not below the known folder
        {sibling + L"\\x.url", false},      // nor beside it
    };
    for (const auto& [path, removed] : rows) {
        const bool existed = present(path);
        std::error_code ec;
        platform::removeKnownFolderFile(platform::kCsidlLocalAppData, path, ec);
        EXPECT_EQ(!ec, removed) << logging::toUtf8(path) << ": " << ec.message();
        EXPECT_EQ(present(path), existed && !removed) << logging::toUtf8(path);
    }
    EXPECT_TRUE(present(folder + L"\\first"));
    holder.reset();
    std::error_code ec;  // no links here: the standard removal may take them
    for (const auto& made : {folder, sibling, outside}) std::filesystem::remove_all(made, ec);
}

}  // namespace
