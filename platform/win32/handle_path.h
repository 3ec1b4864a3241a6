#pragma once
// Where an open handle leads, and whether the platform shows links at all. Internal to
// the Win32 platform code.

#include <windows.h>

#include <string>

namespace platform::win32 {

// The final path of the item behind an open handle, every link, short name and drive
// mapping resolved (GetFinalPathNameByHandleW), in the ordinary form ("C:\...",
// "\\server\share\..."); empty when it cannot be read or the place has no such form.
std::wstring finalPathOfHandle(HANDLE handle);

// True where file links are invisible to Windows code: under Wine a Unix file link looks
// like a plain file in listings and through every handle, and deleting it deletes its
// target. Only the final path of a handle shows where such an item leads. Detected once,
// by Wine's own export in ntdll.
bool platformHidesLinks();

}  // namespace platform::win32
