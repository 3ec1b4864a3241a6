// The handle-level file-system operations on the host's own file system: POSIX descriptors,
// openat and unlinkat relative to the open folder, links never followed (O_NOFOLLOW,
// AT_SYMLINK_NOFOLLOW), with the hook the tests set (fs_hook.h). The removal walk runs on
// them in the host's tests.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
    bool handedOut = false;  // the listing has given an entry

    ~OpenItemState() {
        if (listing != nullptr) ::closedir(listing);
        ::close(parentFd);
    }
};

void OpenItemClose::operator()(OpenItemState* state) const { delete state; }

namespace {

// Runs the tests' hook before `op` on path; true when it fails the operation (ec set).
bool hooked(sim::FsOp op, const std::string& path, std::error_code& ec) {
    if (sim::fsHook) ec = sim::fsHook(op, path);
    return static_cast<bool>(ec);
}

// False with ec holding errno.
bool fail(std::error_code& ec) {
    ec.assign(errno, std::generic_category());
    return false;
}

// Opens `name` in the folder parentFd (which the item takes over) as itself.
bool openAt(int parentFd, const std::string& name, const std::string& path, OpenItem& item,
            std::error_code& ec) {
    OpenItem state(new OpenItemState{path, name, parentFd});
    struct stat status {};
    if (hooked(sim::FsOp::status, path, ec)) return false;
    if (::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return fail(ec);
    state->mode = status.st_mode & 07777;
    state->kind = S_ISDIR(status.st_mode)   ? ItemKind::directory
                  : S_ISLNK(status.st_mode) ? ItemKind::link
                                            : ItemKind::file;
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
    item = std::move(state);
    return true;
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

bool clearReadOnly(const OpenItem& item, std::error_code& ec) {
    ec.clear();
    if (hooked(sim::FsOp::makeWritable, item->path, ec)) return false;
    if (isReadOnly(item) && ::fchmodat(item->parentFd, item->name.c_str(), item->mode | S_IWUSR,
                                       AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(ec);
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
    item.reset();
    return true;
}

// The host shows every link: an open item is always itself.
bool isItself(const OpenItem&, const OpenItem&, const Name&, std::error_code& ec) {
    ec.clear();
    return true;
}

bool isNotFound(const std::error_code& ec) { return ec == std::errc::no_such_file_or_directory; }

// The host's one root is "/"; the game-folder rules judge host paths by it.
PathForm pathForm(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return PathForm::relative;
    return path.find_first_not_of(L'/') == std::wstring::npos ? PathForm::root : PathForm::full;
}

}  // namespace platform::fs
