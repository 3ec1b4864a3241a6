#pragma once
// Extended-length ("\\?\") paths for Win32 file calls, so paths past 260 characters reach
// the file system. Internal to the Win32 platform code.

#include <string>

namespace platform::win32 {

// Returns path in the extended-length form: "X:\a" becomes "\\?\X:\a", "\\server\share\a"
// becomes "\\?\UNC\server\share\a", a path already in that form is kept. Forward slashes
// become backslashes. Relative, drive-relative and "." or ".." holding paths are made full
// with GetFullPathNameW first, because the extended form is passed on without
// normalisation. Device paths ("\\.\") are kept as they are; a path GetFullPathNameW
// refuses is returned with only its separators changed, so the caller's call reports it.
std::wstring extendedPath(const std::wstring& path);

}  // namespace platform::win32
