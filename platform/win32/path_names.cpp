// Long and final path names from Win32 calls, reached through extended-length paths.

#include "platform/path_names.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/extended_path.h"
#include "platform/win32/handle_owner.h"
#include "platform/win32/handle_path.h"
#include "platform/win32/text_buffer.h"

namespace platform {
namespace {

// The plain form of what the system gives: "\\?\C:\a" gives "C:\a" and
// "\\?\UNC\server\share" gives "\\server\share"; other extended forms (volume names,
// Wine's "\\?\unix\..." for places outside its drives) give empty.
std::wstring ordinaryForm(const std::wstring& path) {
    std::wstring plain = plainForm(path);
    if (plain.compare(0, kExtendedPrefix.size(), kExtendedPrefix) == 0) return {};
    return plain;
}

}  // namespace

std::wstring longPathName(const std::wstring& path) {
    // Wine hands an extended-length path back as it was given, short names and all, so
    // the ordinary form is asked while it fits; only longer paths need the extended one.
    std::wstring asked = path;
    std::replace(asked.begin(), asked.end(), L'/', L'\\');
    if (asked.size() >= MAX_PATH) asked = win32::extendedPath(path);
    return ordinaryForm(win32::grownText([&asked](wchar_t* buffer, DWORD size) {
        return GetLongPathNameW(asked.c_str(), buffer, size);
    }));
}

std::wstring finalPathName(const std::wstring& path) {
    // No access is asked for, only the object, links followed; folders need the flag.
    win32::HandleOwner item(CreateFileW(win32::extendedPath(path).c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    if (!item.valid()) return {};
    return win32::finalPathOfHandle(item.get());
}

namespace win32 {

std::wstring finalPathOfHandle(HANDLE handle) {
    return ordinaryForm(win32::grownText([handle](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(handle, buffer, size,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }));
}

bool platformHidesLinks() {
    // ntdll is in every process; Wine's adds wine_get_version, which Windows never has.
    static const bool hides = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return hides;
}

}  // namespace win32
}  // namespace platform
