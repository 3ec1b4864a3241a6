#pragma once
// Reaching an item below a known folder of the user one name at a time, never through a
// link: the log file and the single files deleted in the user's folders, which the
// program writes or deletes as administrator in folders the user's own programs can
// rearrange. Internal to the Win32 platform code.

#include <windows.h>

#include <string>

#include "platform/win32/handle_owner.h"

namespace platform::win32 {

// NtCreateFile's dispositions and options used with openRelative.
constexpr ULONG kFileOpen = 1;             // FILE_OPEN
constexpr ULONG kFileCreate = 2;           // FILE_CREATE
constexpr ULONG kDirectoryFile = 0x1;      // FILE_DIRECTORY_FILE
constexpr ULONG kNonDirectoryFile = 0x40;  // FILE_NON_DIRECTORY_FILE
// The error for an item that is not where its path says (ERROR_STOPPED_ON_SYMLINK).
constexpr DWORD kNotWhereExpected = 681;

// The open folder that holds an item below a known folder, and what the item must be.
struct ItemFolder {
    HandleOwner folder;     // open for traversal, at its expected final path
    std::wstring name;      // the item's name inside it
    std::wstring itemPath;  // the final path the item must have
};

// The user's profile folder as the system records it (GetUserProfileDirectoryW on the
// process token, kept where only administrators write); empty when the query fails.
std::wstring userProfileFolder();

// Opens the known folder `csidl` through whatever links lead to it and reads its final
// path, which must be the user's profile folder or lie below it (final paths compared:
// the user's own hive names the known folders); then opens each folder between it and the
// item at `path` from the folder before without following links; each must be a plain
// folder (no reparse point) at the final path the names give. ERROR_SUCCESS with `out`
// filled; else the failing open's error, ERROR_BAD_PATHNAME when `path` does not lie below
// the known folder, or kNotWhereExpected when a folder is not where it belongs.
[[nodiscard]] DWORD openItemFolder(int csidl, const std::wstring& path, ItemFolder& out);

// True when the item open as `item` is a folder or not, as `folder` says, and its final
// path is `expected` (letters compared as Windows compares names); `attributes` then holds
// its attributes (FileBasicInfo). Under Wine a Unix link looks like a plain item through its
// handle, and only the final path shows where it leads.
[[nodiscard]] bool isItemAt(HANDLE item, bool folder, const std::wstring& expected,
                            DWORD& attributes);

}  // namespace platform::win32
