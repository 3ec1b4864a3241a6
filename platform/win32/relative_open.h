#pragma once
// Opening one item relative to an already open folder, never following a link: the base
// of every removal and write that must stay where it was meant to go. Internal to the
// Win32 platform code.

#include <windows.h>

#include <string>

#include "platform/win32/handle_owner.h"

namespace platform::win32 {

// How an item is opened below its folder (NtCreateFile's terms).
struct RelativeOpen {
    ACCESS_MASK access = 0;  // SYNCHRONIZE is always added
    ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ULONG disposition = 1;  // FILE_OPEN; 3 (FILE_OPEN_IF) creates a missing file
    ULONG options = 0;      // e.g. FILE_DIRECTORY_FILE (1), FILE_NON_DIRECTORY_FILE (0x40)
};

// Opens `name`, one component without separators, inside the folder open as `parent`
// (NtCreateFile with RootDirectory). A link or other reparse point is opened as itself
// (FILE_OPEN_REPARSE_POINT), so nothing past the folder's own entry is reached by name.
// Returns an empty owner with `error` set to the Windows error when the open fails or the
// name is not a single component; `error` is ERROR_SUCCESS otherwise.
[[nodiscard]] HandleOwner openRelative(HANDLE parent, const std::wstring& name,
                                       const RelativeOpen& how, DWORD& error);

// The Windows error for a failed NT call's status, with an item already being deleted
// reported as such (ERROR_DELETE_PENDING) rather than as access denied.
DWORD errorOfStatus(LONG status);

}  // namespace platform::win32
