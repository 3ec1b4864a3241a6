#pragma once
// Other names of a path. A folder can be named by its short (8.3) name, through a link or
// junction above it, or through a mapped drive; checks on paths that come from outside
// the program compare these forms too, so that no second name slips past them.

#include <string>

namespace platform {

// The extended-length prefixes of Win32 paths: before a drive path ("\\?\C:\..."), and
// before a share's ("\\?\UNC\server\share\...").
inline const std::wstring kExtendedPrefix = L"\\\\?\\";
inline const std::wstring kExtendedUncPrefix = L"\\\\?\\UNC\\";

// The plain form of an extended-length path: "\\?\C:\a" gives "C:\a" and
// "\\?\UNC\server\share" (UNC in any letter case) gives "\\server\share". Any other
// path, extended forms of other places included (volume names), is returned as it is.
std::wstring plainForm(const std::wstring& path);

// The path with every short (8.3) component replaced by its long name
// (GetLongPathNameW); empty when it cannot be read (the item is absent or unreachable).
std::wstring longPathName(const std::wstring& path);

// The full path of the item at path once every link, junction, short name and drive
// mapping on the way is resolved (GetFinalPathNameByHandleW), in the ordinary form
// ("C:\...", "\\server\share\..."); empty when the item cannot be opened or its place
// has no such form.
std::wstring finalPathName(const std::wstring& path);

}  // namespace platform
