// File-system operations on Win32 calls with extended-length paths. Links (every reparse
// point) are recognised by FILE_ATTRIBUTE_REPARSE_POINT and are never followed or entered.

#include "platform/file_system.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/win32/extended_path.h"
#include "platform/win32/handle_ops.h"
#include "platform/win32/handle_owner.h"
#include "platform/win32/handle_path.h"  // platformHidesLinks
#include "platform/win32/relative_open.h"

namespace platform::fs {
namespace {

using win32::extendedPath;
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
        case ERROR_DELETE_PENDING:
            return true;
        default:
            return false;
    }
}

// True when attributes mark a link (any reparse point).
bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The item's own kind from its attributes.
ItemKind kindOfAttributes(DWORD attributes) {
    if (isLink(attributes)) return ItemKind::link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ItemKind::directory;
    return ItemKind::file;
}

// True for the "." and ".." entries of a listing (names of `length` characters).
bool isDotEntry(const wchar_t* name, std::size_t length) {
    return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
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

// Windows gives 5 (system) and the C runtime 13 (generic); both compare equal here.
bool isAccessDenied(const std::error_code& ec) { return ec == std::errc::permission_denied; }

// ---- Removal by handle --------------------------------------------------------------------

// The declarations winternl.h leaves out: the listing call, its entry record and the
// information classes used here.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK status,
                                               PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS infoClass,
                                               BOOLEAN singleEntry, PUNICODE_STRING fileName,
                                               BOOLEAN restartScan);

// An item held open, with what is known of it.
struct OpenItemState {
    HandleOwner handle;
    bool canDelete = true;  // opened with DELETE access (not only to be listed)
    HandleOwner attributeWriter;  // set once clearReadOnly has changed the attribute
    ItemKind kind = ItemKind::absent;
    mutable DWORD attributes = INVALID_FILE_ATTRIBUTES;  // read when first asked
    // Folders: the listing read through the handle, a batch of entries at a time.
    std::vector<unsigned char> batch;
    ULONG next = 0;       // offset of the next entry in the batch, or `filled` at its end
    ULONG filled = 0;     // bytes of the batch in use
    bool listed = false;  // the listing has reached its end
    bool restart = true;  // the next listing call starts from the first entry
    // Its name with links resolved, read once where hidden: the deletion workers may ask
    // for a folder's at the same time.
    mutable std::wstring finalPath;
    mutable bool finalPathRead = false;
    mutable SRWLOCK finalPathLock = SRWLOCK_INIT;
};

void OpenItemClose::operator()(OpenItemState* state) const { delete state; }

namespace {

// FILE_ID_FULL_DIR_INFORMATION, the listing's entry record.
struct IdFullDirEntry {
    ULONG nextEntryOffset;
    ULONG fileIndex;
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
    LARGE_INTEGER endOfFile, allocationSize;
    ULONG fileAttributes;
    ULONG fileNameLength;  // in bytes
    ULONG eaSize;
    LARGE_INTEGER fileId;
    WCHAR fileName[1];
};

// ERROR_REPARSE_POINT_ENCOUNTERED: what a hidden link is reported as.
constexpr DWORD kLeadsOutside = 4395;
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr ULONG kFirstBatch = 4096;  // a folder holding one subfolder needs no more
constexpr ULONG kLargestBatch = 65536;

// Access for an item the walk deletes: deletion, and its attributes read (which Windows
// grants to whoever may list its folder). Writing attributes is asked for only where one
// must change, so an item whose access list grants deletion alone is still removed.
constexpr ACCESS_MASK kItemAccess = DELETE | FILE_READ_ATTRIBUTES;
// Access for a folder that another program holds without sharing deletion: listed only.
constexpr ACCESS_MASK kListAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
// The file system's number of the item (FileInternalInformation), the one its folder's
// listing shows; false with the error.
bool readFileNumber(HANDLE handle, std::uint64_t& id, DWORD& error) {
    LARGE_INTEGER number;
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = NtQueryInformationFile(
        handle, &io, &number, sizeof number,
        static_cast<FILE_INFORMATION_CLASS>(6) /* FileInternalInformation */);
    if (status < 0) {
        error = RtlNtStatusToDosError(status);
        return false;
    }
    id = static_cast<std::uint64_t>(number.QuadPart);
    return true;
}

// Fills a new state from an open handle: its kind from its own attributes, and its file
// number when `id` asks for it.
bool adopt(HandleOwner handle, OpenItem& item, std::uint64_t* id, std::error_code& ec) {
    DWORD attributes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!win32::readAttributes(handle.get(), attributes, error) ||
        (id != nullptr && !readFileNumber(handle.get(), *id, error))) {
        ec = systemError(error);
        return false;
    }
    item.reset(new OpenItemState);
    item->handle = std::move(handle);
    item->attributes = attributes;
    item->kind = kindOfAttributes(attributes);
    return true;
}

// Opens the item at path (extended form) as itself, with the access asked for.
HandleOwner openByPath(const std::wstring& path, ACCESS_MASK access, DWORD& error) {
    HandleOwner handle(
        CreateFileW(path.c_str(), access | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    error = handle.valid() ? ERROR_SUCCESS : GetLastError();
    return handle;
}

}  // namespace

// CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT, asking for less access where refused.
bool openItem(const Path& p, OpenItem& item, std::error_code& ec) {
    ec.clear();
    item.reset();
    const std::wstring path = extendedPath(p.wstring());
    DWORD error = ERROR_SUCCESS;
    // A file cannot be opened for listing: it is opened as an item. A folder that may not
    // be deleted, or that another program holds without sharing deletion, is opened to be
    // listed only.
    const ACCESS_MASK tries[] = {kItemAccess | FILE_LIST_DIRECTORY, kItemAccess, kListAccess};
    HandleOwner handle;
    ACCESS_MASK granted = 0;
    for (const ACCESS_MASK access : tries) {
        handle = openByPath(path, access, error);
        granted = access;
        if (handle.valid() || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
            break;
        }
    }
    if (!handle.valid()) {
        ec = systemError(error);
        return false;
    }
    if (!adopt(std::move(handle), item, nullptr, ec)) return false;
    item->canDelete = (granted & DELETE) != 0;
    // Where links are hidden, a folder link may be opened as its target folder; its own
    // attributes, read by path, still show it as a link.
    if (win32::platformHidesLinks() && item->kind == ItemKind::directory) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && isLink(attributes)) {
            item->kind = ItemKind::link;
        }
    }
    return true;
}

namespace {

// The name the system gives the item behind an open handle, every link resolved (under
// Wine the resolved Unix place; NtQueryObject, which GetFinalPathNameByHandleW also
// asks, but without its 260-character limit under Wine), read once; empty when unknown.
const std::wstring& finalNameOf(const OpenItemState& state) {
    AcquireSRWLockExclusive(&state.finalPathLock);
    if (!state.finalPathRead) {
        state.finalPathRead = true;
        std::vector<unsigned char> buffer(1024);
        for (int attempt = 0; attempt < 2; ++attempt) {
            ULONG needed = 0;
            const NTSTATUS status =
                NtQueryObject(state.handle.get(), ObjectNameInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
            if (status >= 0) {
                const auto* info = reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data());
                state.finalPath.assign(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
                break;
            }
            if (needed <= buffer.size()) break;
            buffer.resize(needed);
        }
    }
    ReleaseSRWLockExclusive(&state.finalPathLock);
    return state.finalPath;
}

// True when the open item's resolved name is its folder's resolved name joined with
// `name`. Under Wine both sides come from the same lookup of a file system that tells
// letter cases apart, so they must match exactly: a link to a sibling whose name differs
// only in case is not the item itself. Windows compares names as its file systems do.
// (Wine resolves a name relative to a folder through the folder's path as it was opened:
// once a folder above has been moved, what a relative open finds no longer fits here, and
// is left.)
bool resolvesAsNamed(const OpenItemState& folder, const OpenItemState& item, const Name& name) {
    std::wstring named = finalNameOf(folder);
    if (named.empty()) return false;
    if (named.back() != L'\\') named += L'\\';
    named += name;
    const std::wstring& final = finalNameOf(item);
    return !final.empty() &&
           CompareStringOrdinal(final.c_str(), static_cast<int>(final.size()), named.c_str(),
                                static_cast<int>(named.size()),
                                win32::platformHidesLinks() ? FALSE : TRUE) == CSTR_EQUAL;
}

}  // namespace

// NtCreateFile relative to the folder's handle; by full path where that is refused.
bool openChild(const OpenItem& folder, const ListedEntry& entry, const Name& path, OpenItem& item,
               std::error_code& ec) {
    ec.clear();
    item.reset();
    // A folder is asked for as one, so that it can be listed; when it is something else
    // by now, it is opened as what it is. Either way a link is opened as itself. A folder
    // that another program holds without sharing deletion is opened to be listed only,
    // so that what is inside still goes.
    const bool listedFolder = entry.kind == ItemKind::directory;
    win32::RelativeOpen how;
    how.access = kItemAccess | (listedFolder ? FILE_LIST_DIRECTORY : 0);
    how.options = listedFolder ? FILE_DIRECTORY_FILE : 0;
    DWORD error = ERROR_SUCCESS;
    HandleOwner handle = win32::openRelative(folder->handle.get(), entry.name, how, error);
    if (!handle.valid() && listedFolder && error == ERROR_SHARING_VIOLATION) {
        how.access = kListAccess;
        handle = win32::openRelative(folder->handle.get(), entry.name, how, error);
    }
    if (!handle.valid() && listedFolder && error == ERROR_DIRECTORY) {
        how.access = kItemAccess;
        how.options = 0;
        handle = win32::openRelative(folder->handle.get(), entry.name, how, error);
    }
    const bool canDelete = (how.access & DELETE) != 0;
    // Some file systems (network redirectors) refuse opens relative to a folder.
    if (!handle.valid() && win32::isUnsupported(error)) {
        // Opened by its full path instead, it must be the item the listing showed: the
        // same file number and kind, and where the folder's name leads with this name
        // (file numbers are shared by a file's names, and some file systems give none).
        std::uint64_t id = 0;
        handle = openByPath(extendedPath(path), how.access, error);
        if (!handle.valid()) {
            ec = systemError(error);
            return false;
        }
        if (!adopt(std::move(handle), item, &id, ec)) return false;
        item->canDelete = canDelete;
        if (id != entry.id || item->kind != entry.kind ||
            !resolvesAsNamed(*folder, *item, entry.name)) {
            item.reset();
            ec = systemError(ERROR_FILE_NOT_FOUND);  // what was listed is gone from there
            return false;
        }
        return true;
    }
    if (!handle.valid()) {
        ec = systemError(error);
        return false;
    }
    if (!listedFolder) {
        // Whatever it is now, it is deleted as itself; its attributes are read only when a
        // delete is refused.
        item.reset(new OpenItemState);
        item->handle = std::move(handle);
        item->kind = entry.kind;
        return true;
    }
    // A folder is entered only when its handle confirms it is one and not a link.
    if (!adopt(std::move(handle), item, nullptr, ec)) return false;
    item->canDelete = canDelete;
    return true;
}

// The final path of the item's handle, in the ordinary form.
std::wstring finalPathOf(const OpenItem& item) {
    return item ? win32::finalPathOfHandle(item->handle.get()) : std::wstring();
}

// The kind the handle showed, or the listing's for an item deleted as itself unread.
ItemKind kindOf(const OpenItem& item) { return item ? item->kind : ItemKind::absent; }

// The read-only attribute, read through the handle when not yet known.
bool isReadOnly(const OpenItem& item) {
    if (!item) return false;
    if (item->attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ERROR_SUCCESS;
        if (!win32::readAttributes(item->handle.get(), item->attributes, error)) return false;
    }
    return (item->attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// NtQueryDirectoryFile through the folder's handle, a batch at a time.
bool nextEntry(const OpenItem& folder, ListedEntry& entry, std::error_code& ec) {
    ec.clear();
    OpenItemState& state = *folder;
    while (true) {
        if (state.next >= state.filled) {
            if (state.listed) return false;
            // Each refill may take a larger batch: a folder with many entries gets few calls,
            // a deep chain of folders with one entry each stays small.
            const ULONG size =
                state.batch.empty()
                    ? kFirstBatch
                    : std::min<ULONG>(static_cast<ULONG>(state.batch.size()) * 2, kLargestBatch);
            state.batch.resize(size);
            IO_STATUS_BLOCK io = {};
            const NTSTATUS status = NtQueryDirectoryFile(
                state.handle.get(), nullptr, nullptr, nullptr, &io, state.batch.data(), size,
                static_cast<FILE_INFORMATION_CLASS>(38) /* FileIdFullDirectoryInformation */, FALSE,
                nullptr, state.restart ? TRUE : FALSE);
            state.restart = false;
            if (status == kStatusNoMoreFiles || status == kStatusNoSuchFile) {
                state.listed = true;
                state.batch.clear();
                state.batch.shrink_to_fit();
                return false;
            }
            if (status < 0) {
                ec = systemError(win32::errorOfStatus(status));
                return false;
            }
            state.next = 0;
            state.filled = static_cast<ULONG>(io.Information);
            if (state.filled == 0) continue;
        }
        const auto* record =
            reinterpret_cast<const IdFullDirEntry*>(state.batch.data() + state.next);
        state.next =
            record->nextEntryOffset == 0 ? state.filled : state.next + record->nextEntryOffset;
        const std::size_t length = record->fileNameLength / sizeof(WCHAR);
        if (isDotEntry(record->fileName, length)) continue;
        entry.name.assign(record->fileName, length);
        entry.kind = kindOfAttributes(record->fileAttributes);
        entry.readOnly = (record->fileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        entry.id = static_cast<std::uint64_t>(record->fileId.QuadPart);
        return true;
    }
}

// Forgets where the listing stands; the next call asks from the first entry again.
void rewindListing(const OpenItem& folder) {
    folder->next = 0;
    folder->filled = 0;
    folder->listed = false;
    folder->restart = true;
}

// Through the shared handle operation, which keeps its writing handle in the state for
// deleteItem; the attributes are read again afterwards.
bool clearReadOnly(const OpenItem& item, std::error_code& ec) {
    ec.clear();
    if (!isReadOnly(item)) return true;
    const DWORD error = win32::clearReadOnly(item->handle.get(), item->attributeWriter);
    item->attributes = INVALID_FILE_ATTRIBUTES;  // read again when next asked
    if (error != ERROR_SUCCESS) {
        ec = systemError(error);
        return false;
    }
    return true;
}

// The delete disposition through the handle; the item goes when it is closed. A folder
// opened to be listed only asks for deletion now, through a second handle to the same
// folder, so that the error says why it was refused (a sharing violation).
bool deleteItem(OpenItem& item, std::error_code& ec) {
    ec.clear();
    HANDLE handle = item->handle.get();
    HandleOwner deleter;
    if (!item->canDelete) {
        deleter.reset(ReOpenFile(handle, DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
        if (!deleter.valid()) {
            ec = systemError(GetLastError());
            return false;
        }
        handle = deleter.get();
    }
    const DWORD error = win32::deleteThroughHandle(handle);
    if (error != ERROR_SUCCESS) {
        // An item another program has already deleted (its name gone or going) refuses a
        // second deletion with access denied; it is reported as what it is.
        FILE_STANDARD_INFO standard;
        const bool pending = GetFileInformationByHandleEx(item->handle.get(), FileStandardInfo,
                                                          &standard, sizeof standard) &&
                             standard.DeletePending;
        ec = systemError(pending ? ERROR_DELETE_PENDING : error);
        return false;
    }
    if (item->attributeWriter.valid()) {
        win32::restoreReadOnly(item->handle.get(), item->attributeWriter.get());
    }
    item.reset();  // the item goes as its handle is closed
    return true;
}

// Compares resolved names where links are hidden; true at once elsewhere.
bool isItself(const OpenItem& folder, const OpenItem& item, const Name& name, std::error_code& ec) {
    ec.clear();
    if (!win32::platformHidesLinks()) return true;
    if (folder && item && resolvesAsNamed(*folder, *item, name)) return true;
    // A link the platform does not show: it is left where it is.
    ec = systemError(kLeadsOutside);
    return false;
}

// The Windows errors that mean nothing is there.
bool isNotFound(const std::error_code& ec) {
    if (ec.category() != std::system_category()) return ec == std::errc::no_such_file_or_directory;
    return isNotFoundError(static_cast<DWORD>(ec.value()));
}

// A sharing violation, or a folder not empty yet.
bool isTransient(const std::error_code& ec) {
    return ec.category() == std::system_category() &&
           (ec.value() == ERROR_SHARING_VIOLATION || ec.value() == ERROR_DIR_NOT_EMPTY);
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
