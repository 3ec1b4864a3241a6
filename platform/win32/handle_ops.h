#pragma once
// Attribute changes and deletion through open handles, so they reach the item that was
// opened and checked and never another one put at its name since. Internal to the Win32
// platform code.

#include <windows.h>

#include "platform/win32/handle_owner.h"

namespace platform::win32 {

// True for the errors with which a system or file system refuses a request it does not
// support: an information class or flag it lacks, or an open relative to a folder.
bool isUnsupported(DWORD error);

// The item's attributes through its handle: FileBasicInfo is one request, where
// GetFileInformationByHandle also asks for the volume (a round trip to the mount manager
// under Wine). False with the error, `attributes` left as it was.
[[nodiscard]] bool readAttributes(HANDLE item, DWORD& attributes, DWORD& error);

// Clears the read-only attribute of the item open as `item` (which needs
// FILE_READ_ATTRIBUTES) through a second handle to the same item with
// FILE_WRITE_ATTRIBUTES, asked for only now, and keeps that handle in `writer` (for
// restoreReadOnly). ERROR_SUCCESS when the item is now writable (read back, since Wine
// reports success where the mode cannot change), else the error.
[[nodiscard]] DWORD clearReadOnly(HANDLE item, HandleOwner& writer);

// Marks the item open as `item` (with DELETE access) for deletion: its name goes when the
// last handle to it is closed. Where the system can, a read-only file is deleted as it is,
// without its attribute changing. ERROR_SUCCESS, else the error.
[[nodiscard]] DWORD deleteThroughHandle(HANDLE item);

// Puts the read-only attribute back through `writer` (from clearReadOnly) when the item
// has more names than the one being deleted: the attribute belongs to the file, and its
// other names keep it.
void restoreReadOnly(HANDLE item, HANDLE writer);

// Deletes the item open as `item`: as it is first; when that is refused and the item is
// read-only, with its attribute cleared (and put back for its other names). ERROR_SUCCESS,
// else the error of the deletion; `attributeError` holds the error when the attribute
// could not be cleared (the deletion's error is then ERROR_ACCESS_DENIED).
[[nodiscard]] DWORD deleteClearingReadOnly(HANDLE item, DWORD& attributeError);

}  // namespace platform::win32
