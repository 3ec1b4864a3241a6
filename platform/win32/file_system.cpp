// File-system operations on Win32 calls with extended-length paths. Links (every reparse
// point) are recognised by FILE_ATTRIBUTE_REPARSE_POINT and are never followed or entered.

#include "platform/file_system.h"

#include <windows.h>

#include <new>
#include <utility>
#include <vector>

#include "platform/win32/extended_path.h"
#include "platform/win32/handle_owner.h"

namespace platform::fs {
namespace {

using win32::extendedPath;
using win32::FindOwner;
using win32::HandleOwner;

// A Windows error as an error code of the system category.
std::error_code systemError(DWORD error) {
    return std::error_code(static_cast<int>(error), std::system_category());
}

// Throws the filesystem_error for operation `what` on p with the Windows error.
[[noreturn]] void throwError(const char* what, const Path& p, DWORD error) {
    throw std::filesystem::filesystem_error(what, p, systemError(error));
}

// Errors that mean "nothing is there" when reading an item's status: missing items or
// folders, names the system cannot hold, unknown drives or shares, a file used as folder.
// ERROR_BAD_DEV_TYPE is what Wine gives for a share on an unknown server, where Windows
// gives ERROR_BAD_NETPATH.
bool isNotFoundError(DWORD error) {
    switch (error) {
        case ERROR_BAD_DEV_TYPE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_NOT_READY:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY:
            return true;
        default:
            return false;
    }
}

// Errors of a delete that mean the item had already gone.
bool isGoneError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// True when attributes mark a link (any reparse point).
bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The item's own kind from its attributes.
ItemKind kindOf(DWORD attributes) {
    if (isLink(attributes)) return ItemKind::link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ItemKind::directory;
    return ItemKind::file;
}

// True for the "." and ".." entries of a listing.
bool isDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// The extended-length form of p without trailing separators, except after a drive
// ("\\?\C:\"), so that "\name" can be appended.
std::wstring listablePath(const Path& p) {
    std::wstring path = extendedPath(p.wstring());
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') {
        path.pop_back();
    }
    return path;
}

// Opens a listing of the folder at path (extended form); data receives the first entry.
FindOwner openListing(const std::wstring& path, WIN32_FIND_DATAW& data) {
    std::wstring pattern = path;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    return FindOwner(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
}

// Removes the single item at path (extended form) with the given attributes: folders and
// folder links with RemoveDirectoryW, files and file links with DeleteFileW. Both act on
// a link itself. False with the Windows error when it fails.
bool removeOne(const std::wstring& path, DWORD attributes, DWORD& error) {
    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                             ? RemoveDirectoryW(path.c_str())
                             : DeleteFileW(path.c_str());
    error = removed ? ERROR_SUCCESS : GetLastError();
    return removed != FALSE;
}

// Whether an item exists at path (extended form) with links followed. Returns false with
// error set when the status could not be read for another reason than not-found.
bool existsFollowing(const std::wstring& path, DWORD& error) {
    error = ERROR_SUCCESS;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD failure = GetLastError();
        if (!isNotFoundError(failure)) error = failure;
        return false;
    }
    if (!isLink(attributes)) return true;
    // Opening without FILE_FLAG_OPEN_REPARSE_POINT follows the link: it exists when its
    // target does. No access is asked for, only the object itself.
    HandleOwner target(CreateFileW(path.c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (target.valid()) return true;
    const DWORD failure = GetLastError();
    if (!isNotFoundError(failure)) error = failure;
    return false;
}

}  // namespace

// True when something exists at p, links followed; throws "exists" on other failures.
bool exists(const Path& p) {
    DWORD error = ERROR_SUCCESS;
    const bool found = existsFollowing(extendedPath(p.wstring()), error);
    if (error != ERROR_SUCCESS) throwError("exists", p, error);
    return found;
}

// exists() with every failure counted as absent.
bool existsNoThrow(const Path& p) {
    try {
        DWORD error = ERROR_SUCCESS;
        return existsFollowing(extendedPath(p.wstring()), error);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The item's own kind from GetFileAttributesW, which does not follow a final link.
ItemKind itemKind(const Path& p) {
    const DWORD attributes = GetFileAttributesW(extendedPath(p.wstring()).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (isNotFoundError(error)) return ItemKind::absent;
        throwError("status", p, error);
    }
    return kindOf(attributes);
}

// True for a directory, or a link whose target is one; false on any failure.
bool isDirectoryNoThrow(const Path& p) {
    try {
        const std::wstring path = extendedPath(p.wstring());
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return false;
        if (!isLink(attributes)) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A link: ask the target, opened through the link.
        HandleOwner target(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!target.valid() || !GetFileInformationByHandle(target.get(), &info)) return false;
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Clears FILE_ATTRIBUTE_READONLY of the item itself, keeping its other attributes.
void makeWritable(const Path& p) {
    if (!fs::exists(p)) return;  // qualified: std::filesystem::exists is found too
    const std::wstring path = extendedPath(p.wstring());
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throwError("status", p, GetLastError());
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
    // SetFileAttributesW takes FILE_ATTRIBUTE_NORMAL to mean "no attributes".
    DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (writable == 0) writable = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileAttributesW(path.c_str(), writable)) throwError("permissions", p, GetLastError());
}

// Removes one file, empty folder or link; an item already absent is no error.
bool removeItem(const Path& p, std::error_code& ec) noexcept {
    ec.clear();
    try {
        const std::wstring path = extendedPath(p.wstring());
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (!isNotFoundError(error)) ec = systemError(error);
            return false;
        }
        DWORD error = ERROR_SUCCESS;
        if (removeOne(path, attributes, error)) return true;
        if (!isGoneError(error)) ec = systemError(error);
        return false;
    } catch (const std::bad_alloc&) {
        ec = std::make_error_code(std::errc::not_enough_memory);
        return false;
    }
}

// The listing's attributes say whether the item is a link and whether it is read-only,
// which is all the general calls would read (three attribute reads for a plain file).
// For a plain, writable file or folder the single delete is therefore all there is to
// do. A delete that fails (refused, gone, or the item changed since it was listed) leaves
// the item as it was, so the general calls then run as if the delete had never been
// tried, and their result stands.
bool removeListedEntry(const DirEntry& entry, std::error_code& ec) {
    ec.clear();
    if (!entry.readOnly && (entry.kind == ItemKind::file || entry.kind == ItemKind::directory)) {
        const DWORD attributes =
            entry.kind == ItemKind::directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        DWORD error = ERROR_SUCCESS;
        if (removeOne(extendedPath(entry.path.wstring()), attributes, error)) return true;
    }
    makeWritable(entry.path);
    return removeItem(entry.path, ec);
}

// Depth-first removal with an explicit stack of open listings, one per folder level, and
// one path buffer that grows and shrinks with the depth: memory follows the depth, never
// the size of the tree. Each folder's entries are removed while it is listed; the folder
// itself goes once its listing ends. Links are removed as items, never listed. Like
// std::filesystem::remove_all it returns the number of items removed, or
// static_cast<std::uintmax_t>(-1) with ec set at the first failure.
std::uintmax_t removeAll(const Path& p, std::error_code& ec) {
    ec.clear();
    constexpr std::uintmax_t kFailed = static_cast<std::uintmax_t>(-1);
    // Reports a Windows error the way the function's contract asks.
    const auto fail = [&ec](DWORD error) {
        ec = systemError(error);
        return kFailed;
    };

    std::wstring path = listablePath(p);
    const DWORD rootAttributes = GetFileAttributesW(path.c_str());
    if (rootAttributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return isNotFoundError(error) ? 0 : fail(error);
    }
    DWORD error = ERROR_SUCCESS;
    if ((rootAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || isLink(rootAttributes)) {
        if (removeOne(path, rootAttributes, error)) return 1;
        return isGoneError(error) ? 0 : fail(error);
    }

    struct Level {
        FindOwner listing;       // empty when the folder had nothing to list
        std::size_t pathLength;  // length of this folder's path in `path`
    };
    std::vector<Level> levels;
    WIN32_FIND_DATAW data;
    bool haveEntry = false;  // data holds an entry not yet handled
    std::uintmax_t removed = 0;

    // Starts listing the folder named by `path`; false with `error` set when that fails.
    const auto descend = [&]() {
        FindOwner listing = openListing(path, data);
        if (!listing.valid()) {
            error = GetLastError();
            // A folder without even "." and ".." (a drive root) lists as not found.
            if (error != ERROR_FILE_NOT_FOUND) return false;
        }
        haveEntry = listing.valid();
        levels.push_back(Level{std::move(listing), path.size()});
        return true;
    };

    if (!descend()) return fail(error);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (!haveEntry) {
            if (level.listing.valid() && FindNextFileW(level.listing.get(), &data)) {
                haveEntry = true;
            } else {
                error = level.listing.valid() ? GetLastError() : ERROR_NO_MORE_FILES;
                if (error != ERROR_NO_MORE_FILES) return fail(error);
                // The folder is empty now: close its listing, then remove it.
                level.listing.reset();
                path.resize(level.pathLength);
                levels.pop_back();
                if (removeOne(path, FILE_ATTRIBUTE_DIRECTORY, error)) {
                    ++removed;
                } else if (!isGoneError(error)) {
                    return fail(error);
                }
                continue;
            }
        }
        haveEntry = false;
        if (isDotEntry(data.cFileName)) continue;
        path.resize(level.pathLength);
        path += L'\\';
        path += data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            !isLink(data.dwFileAttributes)) {
            if (!descend()) return fail(error);  // `level` is stale after this
            continue;
        }
        // An entry listed but gone by now (removed by someone else) is skipped.
        if (removeOne(path, data.dwFileAttributes, error)) {
            ++removed;
        } else if (!isGoneError(error)) {
            return fail(error);
        }
    }
    return removed;
}

// Windows gives 5 (system) and the C runtime 13 (generic); both compare equal here.
bool isAccessDenied(const std::error_code& ec) { return ec == std::errc::permission_denied; }

// An open listing: the first entry comes with FindFirstFileExW, the rest from FindNextFileW.
struct DirectoryLister::State {
    // The folder as plain text: a path object also keeps each of its components as a path
    // of its own, so with one lister per open level of a walk, memory would grow with the
    // square of the depth.
    std::wstring dir;
    FindOwner listing;
    WIN32_FIND_DATAW data = {};
    bool haveEntry = false;  // data holds the first entry, not yet handed out
};

// A lister with nothing open.
DirectoryLister::DirectoryLister() = default;
// Closes the listing, if one is open (FindOwner).
DirectoryLister::~DirectoryLister() = default;

// Opens the listing with FindFirstFileExW; a failure leaves the Windows error in ec.
bool DirectoryLister::open(const Path& dir, std::error_code& ec) {
    ec.clear();
    _state.reset();
    if (dir.empty()) {  // the pattern "*" alone would list the current folder
        ec = systemError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    _state = std::make_unique<State>();
    _state->dir = dir.native();
    _state->listing = openListing(listablePath(dir), _state->data);
    if (_state->listing.valid()) {
        _state->haveEntry = true;
        return true;
    }
    const DWORD error = GetLastError();
    // A folder without even "." and ".." (a drive root) lists as not found: it is empty.
    if (error == ERROR_FILE_NOT_FOUND && isDirectoryNoThrow(dir)) return true;
    _state.reset();
    ec = systemError(error);
    return false;
}

// Hands out the next entry other than "." and "..", its kind and read-only state from the
// listing's attributes.
bool DirectoryLister::next(DirEntry& entry) {
    if (!_state || !_state->listing.valid()) return false;
    while (true) {
        if (_state->haveEntry) {
            _state->haveEntry = false;
        } else if (!FindNextFileW(_state->listing.get(), &_state->data)) {
            const DWORD error = GetLastError();
            _state->listing.reset();
            if (error == ERROR_NO_MORE_FILES) return false;
            throwError("directory_iterator::operator++", Path(_state->dir), error);
        }
        if (isDotEntry(_state->data.cFileName)) continue;
        std::wstring path = _state->dir;
        if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
        path += _state->data.cFileName;
        entry.path = std::move(path);
        entry.kind = kindOf(_state->data.dwFileAttributes);
        entry.readOnly = (_state->data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        return true;
    }
}

namespace {

// True for both separators Windows accepts.
bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// True when path holds nothing but separators from index `from` on.
bool onlySeparatorsFrom(const std::wstring& path, std::size_t from) {
    for (std::size_t i = from; i < path.size(); ++i) {
        if (!isSeparator(path[i])) return false;
    }
    return true;
}

// The index of the first separator at or after `from`, or npos.
std::size_t findSeparator(const std::wstring& path, std::size_t from) {
    return path.find_first_of(L"\\/", from);
}

}  // namespace

// Classifies drive paths ("X:\..."), UNC paths ("\\server\share\...") and the rest.
PathForm pathForm(const std::wstring& path) {
    const bool driveLetter = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                                                  (path[0] >= L'a' && path[0] <= L'z'));
    if (driveLetter && path[1] == L':' && isSeparator(path[2])) {
        return onlySeparatorsFrom(path, 3) ? PathForm::root : PathForm::full;
    }
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1])) {
        return PathForm::relative;
    }
    // "\\server\share...": the server and share names must both be there. A server named
    // "?" or "." is a device path ("\\?\", "\\.\"), which is not accepted.
    const std::size_t serverEnd = findSeparator(path, 2);
    if (serverEnd == std::wstring::npos || serverEnd == 2) return PathForm::relative;
    const std::wstring server = path.substr(2, serverEnd - 2);
    if (server == L"?" || server == L".") return PathForm::relative;
    const std::size_t shareEnd = findSeparator(path, serverEnd + 1);
    if (shareEnd == serverEnd + 1 || serverEnd + 1 == path.size()) return PathForm::relative;
    if (shareEnd == std::wstring::npos) return PathForm::root;
    return onlySeparatorsFrom(path, shareEnd) ? PathForm::root : PathForm::full;
}

}  // namespace platform::fs
