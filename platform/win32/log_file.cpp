// The log file, reached from the local application data folder one name at a time.
#include "platform/log_file.h"

#include <windows.h>

#include <vector>

#include "platform/shell.h"
#include "platform/win32/handle_owner.h"
#include "platform/win32/handle_path.h"
#include "platform/win32/relative_open.h"

namespace platform {
namespace {

using win32::HandleOwner;

constexpr ULONG kOpenExisting = 1;      // FILE_OPEN
constexpr ULONG kCreateNew = 2;         // FILE_CREATE
constexpr ULONG kFolderOnly = 0x1;      // FILE_DIRECTORY_FILE
constexpr ULONG kNonFolderOnly = 0x40;  // FILE_NON_DIRECTORY_FILE

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

// True when the item open as `item` is a plain folder (or file, as `folder` says) that
// is no reparse point, has one name only and whose final path is `expected`. Under Wine a
// Unix link looks like a plain item through its handle, and only the final path shows
// where it leads: a folder is judged by it too, before anything is created inside it.
bool isExpectedItem(HANDLE item, bool folder, const std::wstring& expected) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(item, &info)) return false;
    const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A folder's link count says nothing about other names (Wine reports one, some file
    // systems count subfolders); only a file is asked for its single name.
    return isFolder == folder && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           (folder || info.nNumberOfLinks == 1) &&
           sameNames(win32::finalPathOfHandle(item), expected);
}

// The log file in `folder`, opened for appending only with other writers refused: an
// existing file as it is, else a new one. Never "open or create" in one step: through a
// link that leads nowhere that would create the link's target, while creating only where
// no item of that name exists refuses every link.
HandleOwner openOrCreateLog(HANDLE folder, const std::wstring& name) {
    win32::RelativeOpen how;
    how.access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    how.share = FILE_SHARE_READ;
    how.disposition = kOpenExisting;
    how.options = kNonFolderOnly;
    DWORD error = ERROR_SUCCESS;
    HandleOwner file = win32::openRelative(folder, name, how, error);
    if (file.valid() || error != ERROR_FILE_NOT_FOUND) return file;
    how.disposition = kCreateNew;
    return win32::openRelative(folder, name, how, error);
}

}  // namespace

struct LogFile::State {
    HandleOwner file;
    std::size_t sizeAtOpen = 0;
};

// A log file that is not open yet.
LogFile::LogFile() : _state(std::make_unique<State>()) {}

// Closes the file through its handle's owner.
LogFile::~LogFile() = default;

// Opens the known folder through whatever links lead to it, then each name below it from
// the folder before without following links, checking each item through its handle.
bool LogFile::open(const std::wstring& path) {
    if (isOpen()) return false;
    const std::wstring knownFolder = folderPath(kCsidlLocalAppData);
    const std::vector<std::wstring> names = namesBelow(knownFolder, path);
    if (names.empty()) return false;
    HandleOwner folder(CreateFileW(knownFolder.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring expected = win32::finalPathOfHandle(folder.get());
    if (!folder.valid() || expected.empty()) return false;

    win32::RelativeOpen folderOpen;
    folderOpen.access = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
    folderOpen.disposition = kOpenExisting;
    folderOpen.options = kFolderOnly;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        DWORD error = ERROR_SUCCESS;
        HandleOwner inner = win32::openRelative(folder.get(), names[i], folderOpen, error);
        expected += L"\\" + names[i];
        if (!inner.valid() || !isExpectedItem(inner.get(), true, expected)) return false;
        folder = std::move(inner);
    }
    HandleOwner file = openOrCreateLog(folder.get(), names.back());
    LARGE_INTEGER size;
    if (!file.valid() || !isExpectedItem(file.get(), false, expected + L"\\" + names.back()) ||
        !GetFileSizeEx(file.get(), &size)) {
        return false;
    }
    _state->file = std::move(file);
    _state->sizeAtOpen = static_cast<std::size_t>(size.QuadPart);
    return true;
}

// True while the file is held.
bool LogFile::isOpen() const { return _state->file.valid(); }

// The size the file had when it was opened.
std::size_t LogFile::sizeAtOpen() const { return _state->sizeAtOpen; }

// Writes all bytes; with append access only, every write lands at the file's end.
bool LogFile::write(const char* data, std::size_t size) {
    if (!isOpen()) return false;
    while (size > 0) {
        const DWORD chunk = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(_state->file.get(), data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace platform
