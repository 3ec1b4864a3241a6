// File-system operations on the host's own file system (std::filesystem and POSIX calls,
// which see symbolic links here), with faults that tests inject per operation and path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "platform/sim/sim_state.h"

namespace platform::fs {

namespace stdfs = std::filesystem;

namespace {

// Throws the error unless it only says the item is not there.
void throwUnlessNotFound(const char* operation, const Path& p, const std::error_code& ec) {
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        throw stdfs::filesystem_error(operation, p, ec);
    }
}

ItemKind kindOfStatus(const stdfs::file_status& status) {
    switch (status.type()) {
        case stdfs::file_type::not_found:
        case stdfs::file_type::none:
            return ItemKind::absent;
        case stdfs::file_type::directory:
            return ItemKind::directory;
        case stdfs::file_type::symlink:
            return ItemKind::link;
        default:
            return ItemKind::file;
    }
}

}  // namespace

bool exists(const Path& p) {
    if (auto injected = sim::fault(sim::FsOp::status, p.wstring())) {
        throw stdfs::filesystem_error("exists", p, *injected);
    }
    std::error_code ec;
    const auto status = stdfs::status(p, ec);
    throwUnlessNotFound("exists", p, ec);
    return !ec && stdfs::exists(status);
}

ItemKind itemKind(const Path& p) {
    if (auto injected = sim::fault(sim::FsOp::status, p.wstring())) {
        throw stdfs::filesystem_error("status", p, *injected);
    }
    std::error_code ec;
    const auto status = stdfs::symlink_status(p, ec);
    throwUnlessNotFound("status", p, ec);
    return ec ? ItemKind::absent : kindOfStatus(status);
}

void makeWritable(const Path& p) {
    if (!platform::fs::exists(p)) return;
    if (auto injected = sim::fault(sim::FsOp::makeWritable, p.wstring())) {
        throw stdfs::filesystem_error("permissions", p, *injected);
    }
    if (platform::fs::itemKind(p) == ItemKind::link)
        return;  // a link has no permissions of its own here
    stdfs::permissions(p, stdfs::perms::owner_write, stdfs::perm_options::add);
}

bool removeItem(const Path& p, std::error_code& ec) noexcept {
    if (auto injected = sim::fault(sim::FsOp::remove, p.wstring())) {
        ec = *injected;
        return false;
    }
    return stdfs::remove(p, ec);  // removes a symbolic link itself, never its target
}

bool isAccessDenied(const std::error_code& ec) {
    return ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted;
}

// ---- Removal by handle: descriptors, openat and unlinkat with O_NOFOLLOW ----------------

// An item held open. Folders keep a descriptor, listed through `listing`; every item is
// deleted by its name in the folder it was opened from, which never follows a link.
struct OpenItemState {
    std::string path;  // for injected faults and the test hook
    std::string name;  // in its folder
    int parentFd = -1;
    bool ownsParent = false;  // the top's folder, opened for it
    ItemKind kind = ItemKind::absent;
    bool readOnly = false;  // no write permission for the owner
    DIR* listing = nullptr;
    bool handedOut = false;  // the listing has given an entry

    ~OpenItemState() {
        if (listing != nullptr) ::closedir(listing);
        if (ownsParent) ::close(parentFd);
    }
};

void OpenItemClose::operator()(OpenItemState* state) const { delete state; }

namespace {

// The error errno holds.
std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

// The test hook, then the fault injected for op on path, if any.
bool injected(sim::FsOp op, const std::string& path, std::error_code& ec) {
    sim::runFsHook(op, path);
    if (auto fault = sim::fault(op, Path(path).wstring())) {
        ec = *fault;
        return true;
    }
    return false;
}

// Opens `name` in the folder parentFd as itself; the state takes parentFd when it owns it.
bool openAt(int parentFd, bool ownsParent, const std::string& name, const std::string& path,
            OpenItem& item, std::error_code& ec) {
    OpenItem state(new OpenItemState);
    state->path = path;
    state->name = name;
    state->parentFd = parentFd;
    state->ownsParent = ownsParent;
    if (injected(sim::FsOp::status, path, ec)) return false;
    struct stat status {};
    if (::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        ec = lastError();
        return false;
    }
    state->kind = S_ISDIR(status.st_mode)   ? ItemKind::directory
                  : S_ISLNK(status.st_mode) ? ItemKind::link
                                            : ItemKind::file;
    state->readOnly = state->kind != ItemKind::link && (status.st_mode & S_IWUSR) == 0;
    if (state->kind == ItemKind::directory) {
        if (injected(sim::FsOp::list, path, ec)) return false;
        const int fd =
            ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
            // No longer a folder: it is deleted as what it is now, never entered.
            state->kind = errno == ELOOP ? ItemKind::link : ItemKind::file;
        } else if (fd < 0 || (state->listing = ::fdopendir(fd)) == nullptr) {
            ec = lastError();
            if (fd >= 0) ::close(fd);
            return false;
        }
    }
    item = std::move(state);
    return true;
}

}  // namespace

// Opens the folder holding p, then p below it without following it.
bool openItem(const Path& p, OpenItem& item, std::error_code& ec) {
    ec.clear();
    item.reset();
    std::string path = p.native();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto cut = path.rfind('/');
    const std::string folder =
        cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.empty() || name == "/") {  // the root has no folder to be deleted from
        ec = std::make_error_code(std::errc::device_or_resource_busy);
        return false;
    }
    const int parentFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        // A file on the way means nothing is at p, as for the other status reads.
        ec = errno == ENOTDIR ? std::make_error_code(std::errc::no_such_file_or_directory)
                              : lastError();
        return false;
    }
    return openAt(parentFd, true, name, p.native(), item, ec);
}

// openat below the open folder, never following a link.
bool openChild(const OpenItem& folder, const ListedEntry& entry, const Name& path, OpenItem& item,
               std::error_code& ec) {
    ec.clear();
    item.reset();
    return openAt(::dirfd(folder->listing), false, entry.name, path, item, ec);
}

// The kind the open read without following links.
ItemKind kindOf(const OpenItem& item) { return item ? item->kind : ItemKind::absent; }

// True when the owner may not write the item.
bool isReadOnly(const OpenItem& item) { return item && item->readOnly; }

// readdir on the open folder, with the kind d_type tells (absent when it does not).
bool nextEntry(const OpenItem& folder, ListedEntry& entry, std::error_code& ec) {
    ec.clear();
    OpenItemState& state = *folder;
    // An injected fault fails the listing once it has given an entry, as a listing that
    // cannot be advanced does.
    std::error_code fault;
    if (injected(sim::FsOp::advance, state.path, fault) && state.handedOut) {
        ec = fault;
        return false;
    }
    while (true) {
        errno = 0;
        const dirent* next = ::readdir(state.listing);
        if (next == nullptr) {
            if (errno != 0) ec = lastError();
            return false;
        }
        const std::string name = next->d_name;
        if (name == "." || name == "..") continue;
        entry.name = name;
        entry.kind = next->d_type == DT_DIR       ? ItemKind::directory
                     : next->d_type == DT_LNK     ? ItemKind::link
                     : next->d_type == DT_UNKNOWN ? ItemKind::absent
                                                  : ItemKind::file;
        entry.readOnly = false;
        entry.id = next->d_ino;
        state.handedOut = true;
        return true;
    }
}

// Adds the owner's write permission through a descriptor of the item itself.
bool clearReadOnly(const OpenItem& item, std::error_code& ec) {
    ec.clear();
    if (injected(sim::FsOp::makeWritable, item->path, ec)) return false;
    if (!item->readOnly) return true;
    // Through a descriptor of the item itself: a link swapped in is never followed.
    const int fd = item->listing != nullptr
                       ? ::dup(::dirfd(item->listing))
                       : ::openat(item->parentFd, item->name.c_str(),
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    const bool done = fd >= 0 && ::fstat(fd, &status) == 0 &&
                      ::fchmod(fd, (status.st_mode & 07777) | S_IWUSR) == 0;
    if (!done) ec = lastError();
    if (fd >= 0) ::close(fd);
    if (done) item->readOnly = false;
    return done;
}

// unlinkat by name in the folder it was opened from.
bool deleteItem(OpenItem& item, std::error_code& ec) {
    ec.clear();
    if (injected(sim::FsOp::remove, item->path, ec)) return false;
    // As Windows refuses to delete a read-only file, so does this double: the callers'
    // handling of read-only files is then the same on both.
    if (item->kind == ItemKind::file && item->readOnly) {
        ec = std::make_error_code(std::errc::permission_denied);
        return false;
    }
    const int flags = item->kind == ItemKind::directory ? AT_REMOVEDIR : 0;
    if (::unlinkat(item->parentFd, item->name.c_str(), flags) != 0) {
        ec = lastError();
        return false;
    }
    item.reset();
    return true;
}

// The host shows every link: an open item is always itself.
bool isItself(const OpenItem&, const OpenItem&, const Name&, std::error_code& ec) {
    ec.clear();
    return true;
}

// ENOENT: nothing is there.
bool isNotFound(const std::error_code& ec) { return ec == std::errc::no_such_file_or_directory; }

PathForm pathForm(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return PathForm::relative;
    for (wchar_t c : path) {
        if (c != L'/') return PathForm::full;
    }
    return PathForm::root;
}

}  // namespace platform::fs
