// Conversion to extended-length paths.

#include "platform/win32/extended_path.h"

#include <windows.h>

#include <algorithm>

#include "platform/path_names.h"
#include "platform/win32/text_buffer.h"

namespace platform::win32 {
namespace {

// True when text starts with prefix.
bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// True for "X:\" followed by anything: a full path on a drive.
bool isFullDrivePath(const std::wstring& path) {
    return path.size() >= 3 &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
           path[1] == L':' && path[2] == L'\\';
}

// True for "\\server..." (and not the "\\?\" or "\\.\" forms, checked before).
bool isUncPath(const std::wstring& path) {
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

// True when a component past the root (which starts at `from`) is empty, "." or "..", or
// ends in a dot or space (which ordinary Win32 paths trim), so the path needs normalising
// into the form every other program sees. A single trailing separator is allowed.
bool needsNormalising(const std::wstring& path, std::size_t from) {
    std::size_t start = from;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring component = path.substr(start, end - start);
        const bool trailing = end == path.size();
        const bool trimmed =
            !component.empty() && (component.back() == L'.' || component.back() == L' ');
        if ((component.empty() && !trailing) || trimmed) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// GetFullPathNameW with a buffer as large as it asks for; empty when it fails.
std::wstring fullPathName(const std::wstring& path) {
    return grownText([&path](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
}

}  // namespace

// Converts path to the extended-length form, as the header describes.
std::wstring extendedPath(const std::wstring& path) {
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.empty() || startsWith(text, kExtendedPrefix) || startsWith(text, L"\\\\.\\")) {
        return text;
    }
    // The root ends after "X:\" or after "\\"; components are checked from there.
    const bool drive = isFullDrivePath(text);
    const bool unc = !drive && isUncPath(text);
    if (!(drive || unc) || needsNormalising(text, drive ? 3 : 2)) {
        std::wstring full = fullPathName(text);
        if (full.empty()) return text;
        text = std::move(full);
        if (startsWith(text, kExtendedPrefix) || startsWith(text, L"\\\\.\\")) return text;
    }
    if (isUncPath(text)) return kExtendedUncPrefix + text.substr(2);
    return kExtendedPrefix + text;
}

}  // namespace platform::win32
