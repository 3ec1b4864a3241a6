// The handle-level file-system operations on the host's own file system: POSIX descriptors,
// openat and unlinkat relative to the open folder, links never followed (O_NOFOLLOW,
// AT_SYMLINK_NOFOLLOW), with the hook the tests set (fs_hook.h). The removal walk runs on
// them in the host's tests.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/file_system.h"
#include "platform/sim/fs_hook.h"

namespace platform::fs {

// An item held open through a descriptor of its folder of its own; folders are listed
// through `listing`. Every item is deleted and made writable by its name in that folder.
struct OpenItemState {
    std::string path;  // for the hook
    std::string name;  // in its folder
    int parentFd = -1;
    ItemKind kind = ItemKind::absent;
    mode_t mode = 0;
    DIR* listing = nullptr;
    bool handedOut = false;        // the listing has given an entry
    bool clearedReadOnly = false;  // clearReadOnly changed its mode
    int fd = -1;  // what is not a folder: a descriptor of the item itself (O_PATH)

    ~OpenItemState() {
        if (listing != nullptr) ::closedir(listing);
        if (fd >= 0) ::close(fd);
        ::close(parentFd);
    }
};

void OpenItemClose::operator()(OpenItemState* state) const { delete state; }

namespace {

// Runs the tests' hook before `op` on path; true when it fails the operation (ec set). The
// removal's workers call it at once: the hook runs for one of them at a time.
bool hooked(sim::FsOp op, const std::string& path, std::error_code& ec) {
    static std::mutex hookMutex;
    if (sim::fsHook) {
        const std::lock_guard<std::mutex> lock(hookMutex);
        ec = sim::fsHook(op, path);
    }
    return static_cast<bool>(ec);
}

// False with ec holding errno.
bool fail(std::error_code& ec) {
    ec.assign(errno, std::generic_category());
    return false;
}

// What a mode says an item is.
ItemKind kindOfMode(mode_t mode) {
    return S_ISDIR(mode) ? ItemKind::directory : S_ISLNK(mode) ? ItemKind::link : ItemKind::file;
}

// Opens `name` in the folder parentFd (which the item takes over) as itself.
bool openAt(int parentFd, const std::string& name, const std::string& path, OpenItem& item,
            std::error_code& ec) {
    OpenItem state(new OpenItemState{path, name, parentFd});
    struct stat status {};
    if (hooked(sim::FsOp::status, path, ec)) return false;
    if (::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return fail(ec);
    state->mode = status.st_mode & 07777;
    state->kind = kindOfMode(status.st_mode);
    if (state->kind == ItemKind::directory) {
        if (hooked(sim::FsOp::list, path, ec)) return false;
        const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
            // No longer a folder: it is deleted as what it is now, never entered.
            state->kind = errno == ELOOP ? ItemKind::link : ItemKind::file;
        } else if (fd < 0 || (state->listing = ::fdopendir(fd)) == nullptr) {
            fail(ec);
            if (fd >= 0) ::close(fd);
            return false;
        }
    }
    if (state->kind != ItemKind::directory) {
        // Held like a Windows handle: attribute changes reach this item, whatever is put
        // at its name later; its kind and mode are what the descriptor shows. A folder put
        // there since is not listed: it is deleted as itself (and refused).
        state->fd = ::openat(parentFd, name.c_str(), O_PATH | O_NOFOLLOW);
        if (state->fd < 0 || ::fstat(state->fd, &status) != 0) return fail(ec);
        state->mode = status.st_mode & 07777;
        state->kind = S_ISDIR(status.st_mode) ? ItemKind::file : kindOfMode(status.st_mode);
    }
    item = std::move(state);
    return true;
}

// Changes the mode of the open item itself: a folder through its listing's descriptor, a
// file through its own (the /proc name of an O_PATH descriptor leads to that very file).
bool changeMode(const OpenItemState& item, mode_t mode) {
    if (item.listing != nullptr) return ::fchmod(::dirfd(item.listing), mode) == 0;
    return ::chmod(("/proc/self/fd/" + std::to_string(item.fd)).c_str(), mode) == 0;
}

}  // namespace

bool isAccessDenied(const std::error_code& ec) {
    return ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted;
}

// Opens the folder holding p, then p below it without following it.
bool openItem(const Path& p, OpenItem& item, std::error_code& ec) {
    ec.clear();
    item.reset();
    const Path named = p.has_filename() ? p : p.parent_path();
    const Path folder = named.has_parent_path() ? named.parent_path() : Path(".");
    const int parentFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (parentFd < 0 && errno == ENOTDIR) errno = ENOENT;  // a file on the way: nothing at p
    if (parentFd < 0) return fail(ec);
    return openAt(parentFd, named.filename(), p.native(), item, ec);
}

bool openChild(const OpenItem& folder, const ListedEntry& entry, const Name& path, OpenItem& item,
               std::error_code& ec) {
    ec.clear();
    item.reset();
    return openAt(::dup(::dirfd(folder->listing)), entry.name, path, item, ec);
}

ItemKind kindOf(const OpenItem& item) { return item ? item->kind : ItemKind::absent; }

// No write permission for the owner.
bool isReadOnly(const OpenItem& item) {
    return item && item->kind != ItemKind::link && (item->mode & S_IWUSR) == 0;
}

// readdir on the open folder; the hook's advance fault fails the listing once it has given
// an entry, as a Windows listing can fail on a later batch after its first.
bool nextEntry(const OpenItem& folder, ListedEntry& entry, std::error_code& ec) {
    ec.clear();
    if (folder->handedOut && hooked(sim::FsOp::advance, folder->path, ec)) return false;
    for (errno = 0; const dirent* next = ::readdir(folder->listing); errno = 0) {
        entry.name = next->d_name;
        if (entry.name == "." || entry.name == "..") continue;
        // Only a folder's kind matters to the walk: it tells an unlistable folder from a file.
        entry.kind = next->d_type == DT_DIR ? ItemKind::directory : ItemKind::absent;
        folder->handedOut = true;
        return true;
    }
    return errno != 0 ? fail(ec) : false;
}

void rewindListing(const OpenItem& folder) {
    ::rewinddir(folder->listing);
    folder->handedOut = false;
}

bool clearReadOnly(const OpenItem& item, std::error_code& ec) {
    ec.clear();
    if (hooked(sim::FsOp::makeWritable, item->path, ec)) return false;
    if (isReadOnly(item)) {
        if (!changeMode(*item, item->mode | S_IWUSR)) return fail(ec);
        item->clearedReadOnly = true;
    }
    item->mode |= S_IWUSR;
    return true;
}

// unlinkat by name in the folder it was opened from. A read-only file is refused, as
// Windows refuses it, so the callers' handling of read-only files is the same on both.
bool deleteItem(OpenItem& item, std::error_code& ec) {
    ec.clear();
    if (hooked(sim::FsOp::remove, item->path, ec)) return false;
    if (item->kind == ItemKind::file && isReadOnly(item)) {
        ec = std::make_error_code(std::errc::permission_denied);
        return false;
    }
    if (::unlinkat(item->parentFd, item->name.c_str(),
                   item->kind == ItemKind::directory ? AT_REMOVEDIR : 0) != 0) {
        return fail(ec);
    }
    // A file whose mode was changed for its deletion keeps it for its other names.
    struct stat status {};
    if (item->clearedReadOnly && item->fd >= 0 && ::fstat(item->fd, &status) == 0 &&
        status.st_nlink > 0) {
        (void)changeMode(*item, item->mode & ~static_cast<mode_t>(0222));
    }
    item.reset();
    return true;
}

// The host shows every link: an open item is always itself, unless a test says otherwise.
bool isItself(const OpenItem&, const OpenItem& item, const Name&, std::error_code& ec) {
    ec.clear();
    return !hooked(sim::FsOp::identity, item->path, ec);
}

bool isNotFound(const std::error_code& ec) { return ec == std::errc::no_such_file_or_directory; }

// What a sharing violation is closest to here: the item is busy.
bool isTransient(const std::error_code& ec) { return ec == std::errc::device_or_resource_busy; }

// The host's one root is "/"; the game-folder rules judge host paths by it.
PathForm pathForm(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return PathForm::relative;
    return path.find_first_not_of(L'/') == std::wstring::npos ? PathForm::root : PathForm::full;
}

}  // namespace platform::fs
