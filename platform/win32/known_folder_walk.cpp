// The walk from a known folder to the folder of an item, one checked name at a time.
#include "platform/win32/known_folder_walk.h"

#include <cwchar>
#include <vector>

#include <userenv.h>

#include "platform/path_names.h"
#include "platform/shell.h"
#include "platform/win32/handle_path.h"
#include "platform/win32/relative_open.h"
#include "platform/win32/text_buffer.h"

namespace platform::win32 {
namespace {

// True when the two paths are the same text, letters compared as Windows compares names.
bool sameNames(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The names of path below folder ("VEXALqa", "Logs", "GameUninstaller.log"); empty when
// path does not lie below folder.
std::vector<std::wstring> namesBelow(const std::wstring& folder, const std::wstring& path) {
    if (folder.empty() || path.size() <= folder.size() + 1 || path[folder.size()] != L'\\' ||
        !sameNames(path.substr(0, folder.size()), folder)) {
        return {};
    }
    std::vector<std::wstring> names;
    std::size_t start = folder.size() + 1;
    for (std::size_t end; (end = path.find(L'\\', start)) != std::wstring::npos; start = end + 1) {
        names.push_back(path.substr(start, end - start));
    }
    names.push_back(path.substr(start));
    return names;
}

// True when the final path `place` is the user's profile folder or lies below it, both
// compared as final paths.
bool inUserProfile(const std::wstring& place) {
    const std::wstring profile = finalPathName(userProfileFolder());
    return !profile.empty() && (sameNames(place, profile) || !namesBelow(profile, place).empty());
}

}  // namespace

// GetUserProfileDirectoryW, which says how much room it needs when the buffer is short.
std::wstring userProfileFolder() {
    HandleOwner token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    return grownText([&token](wchar_t* buffer, DWORD size) {
        DWORD needed = size;
        if (GetUserProfileDirectoryW(token.get(), buffer, &needed)) {
            return static_cast<DWORD>(wcsnlen(buffer, size));
        }
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? needed : 0;
    });
}

bool isItemAt(HANDLE item, bool folder, const std::wstring& expected, DWORD& attributes) {
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic)) return false;
    const bool isFolder = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != folder || !sameNames(finalPathOfHandle(item), expected)) return false;
    attributes = basic.FileAttributes;
    return true;
}

DWORD openItemFolder(int csidl, const std::wstring& path, ItemFolder& out) {
    const std::wstring knownFolder = folderPath(csidl);
    const std::vector<std::wstring> names = namesBelow(knownFolder, path);
    if (names.empty()) return ERROR_BAD_PATHNAME;
    HandleOwner folder(CreateFileW(knownFolder.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) return GetLastError();
    // The user's own hive names the folder: as administrator nothing is done in it unless
    // it lies in the user's profile.
    std::wstring expected = finalPathOfHandle(folder.get());
    if (expected.empty() || !inUserProfile(expected)) return kNotWhereExpected;

    RelativeOpen how;
    how.access = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
    how.disposition = kFileOpen;
    how.options = kDirectoryFile;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        DWORD error = ERROR_SUCCESS;
        HandleOwner inner = openRelative(folder.get(), names[i], how, error);
        if (!inner.valid()) return error;
        expected += L"\\" + names[i];
        DWORD attributes = 0;
        // A folder's link count says nothing about other names (Wine reports one, some
        // file systems count subfolders), so only its reparse attribute and place count.
        if (!isItemAt(inner.get(), true, expected, attributes) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return kNotWhereExpected;
        }
        folder = std::move(inner);
    }
    out.folder = std::move(folder);
    out.name = names.back();
    out.itemPath = expected + L"\\" + names.back();
    return ERROR_SUCCESS;
}

}  // namespace platform::win32
