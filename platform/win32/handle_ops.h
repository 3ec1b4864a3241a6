#pragma once
// Changes made through an open handle, so they reach the item that was opened and checked
// and never another one put at its name since. Internal to the Win32 platform code.

#include <windows.h>

namespace platform::win32 {

// Clears the read-only attribute of the item open as `item` (which needs
// FILE_READ_ATTRIBUTES), through a second handle to the same item with
// FILE_WRITE_ATTRIBUTES. ERROR_SUCCESS when the item is now writable (read back, since
// Wine reports success where the mode cannot change), else the error.
[[nodiscard]] DWORD clearReadOnly(HANDLE item);

// Marks the item open as `item` (with DELETE access) for deletion: its name goes when the
// last handle to it is closed. ERROR_SUCCESS, else the error.
[[nodiscard]] DWORD deleteThroughHandle(HANDLE item);

}  // namespace platform::win32
