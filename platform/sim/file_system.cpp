// File-system operations on the host's own file system (std::filesystem and POSIX calls,
// which see symbolic links here), with faults that tests inject per operation and path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

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

// True when no test has injected a fault anywhere. Until one does, the per-path lookups
// (a lock, a conversion to wide text and a map search each) can be skipped.
bool noFaultsInjected() {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    return sim::state().faults.empty();
}

// True for the "." and ".." entries of a listing.
bool isDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

ItemKind kindOf(const stdfs::file_status& status) {
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

bool existsNoThrow(const Path& p) {
    if (sim::fault(sim::FsOp::status, p.wstring())) return false;
    std::error_code ec;
    return stdfs::exists(p, ec) && !ec;
}

ItemKind itemKind(const Path& p) {
    if (auto injected = sim::fault(sim::FsOp::status, p.wstring())) {
        throw stdfs::filesystem_error("status", p, *injected);
    }
    std::error_code ec;
    const auto status = stdfs::symlink_status(p, ec);
    throwUnlessNotFound("status", p, ec);
    return ec ? ItemKind::absent : kindOf(status);
}

bool isDirectoryNoThrow(const Path& p) {
    if (sim::fault(sim::FsOp::status, p.wstring())) return false;
    std::error_code ec;
    return stdfs::is_directory(p, ec) && !ec;
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

// On the host an item's own permissions never decide whether it can be removed (only its
// folder's do), so an entry listed as a plain file or folder is removed at once with the
// one call that fits its kind (unlink or rmdir), whatever its permissions; making it
// writable first would change nothing that outlives the removal. If that removal fails,
// which leaves the item as it was, the general calls run and decide. With any fault
// injected the general calls always run, so that tests see every fault where they put it.
bool removeListedEntry(const DirEntry& entry, std::error_code& ec) {
    ec.clear();
    if ((entry.kind == ItemKind::file || entry.kind == ItemKind::directory) && noFaultsInjected()) {
        const char* path = entry.path.c_str();
        if ((entry.kind == ItemKind::directory ? ::rmdir(path) : ::unlink(path)) == 0) return true;
    }
    makeWritable(entry.path);
    return removeItem(entry.path, ec);
}

std::uintmax_t removeAll(const Path& p, std::error_code& ec) {
    ec.clear();
    std::uintmax_t removed = 0;
    // Depth-first without recursion: each frame is a directory whose listing is open. Its
    // path is kept as plain text, as a path object per frame would make memory grow with
    // the square of the depth.
    struct Frame {
        std::string dir;
        DirectoryLister lister;
    };
    std::vector<std::unique_ptr<Frame>> stack;
    auto push = [&](const Path& dir) {
        auto frame = std::make_unique<Frame>();
        frame->dir = dir.native();
        if (!frame->lister.open(dir, ec)) return false;
        stack.push_back(std::move(frame));
        return true;
    };
    try {
        const ItemKind top = itemKind(p);
        if (top == ItemKind::absent) return 0;
        if (top != ItemKind::directory) return removeItem(p, ec) ? 1 : 0;
        if (!push(p)) return removed;
        while (!stack.empty()) {
            DirEntry entry;
            if (stack.back()->lister.next(entry)) {
                if (entry.kind == ItemKind::directory) {
                    if (!push(entry.path)) return removed;
                } else if (removeItem(entry.path, ec)) {
                    ++removed;
                } else if (ec) {
                    return removed;
                }
                continue;
            }
            const Path dir(std::move(stack.back()->dir));
            stack.pop_back();
            if (removeItem(dir, ec)) ++removed;
            if (ec) return removed;
        }
    } catch (const stdfs::filesystem_error& error) {
        ec = error.code();
    }
    return removed;
}

bool isAccessDenied(const std::error_code& ec) {
    return ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted;
}

// The listing is read with opendir and readdir, as std::filesystem::directory_iterator
// does (it too reads the first entry when it opens), but kept in hand: each entry's kind
// comes from the listing itself (d_type), and only where the file system does not give it
// is the status read, relative to the open folder (fstatat), which spares the kernel
// walking the whole path again.
struct DirectoryLister::State {
    std::string dir;  // plain text, for the reason removeAll gives
    DIR* listing = nullptr;
    const dirent* coming = nullptr;  // the entry next() hands out; null at the end
    std::string previous;            // the name handed out last, for the advance fault
    bool started = false;            // an entry has been handed out

    ~State() {
        if (listing != nullptr) ::closedir(listing);
    }

    // The path of the entry called name.
    Path entryPath(const std::string& name) const {
        if (!dir.empty() && dir.back() != '/') return Path(dir + '/' + name);
        return Path(dir + name);
    }

    // Reads the next entry other than "." and ".." into `coming`; false with ec set when
    // reading fails (readdir tells the end from a failure only through errno).
    bool advance(std::error_code& ec) {
        do {
            errno = 0;
            coming = ::readdir(listing);
        } while (coming != nullptr && isDotEntry(coming->d_name));
        if (coming == nullptr && errno != 0) {
            ec = std::error_code(errno, std::generic_category());
            return false;
        }
        return true;
    }
};

DirectoryLister::DirectoryLister() = default;
DirectoryLister::~DirectoryLister() = default;

bool DirectoryLister::open(const Path& dir, std::error_code& ec) {
    ec.clear();
    _state.reset();
    if (auto injected = sim::fault(sim::FsOp::list, dir.wstring())) {
        ec = *injected;
        return false;
    }
    auto state = std::make_unique<State>();
    state->dir = dir.native();
    state->listing = ::opendir(dir.c_str());
    if (state->listing == nullptr) {
        ec = std::error_code(errno, std::generic_category());
        return false;
    }
    if (!state->advance(ec)) return false;
    _state = std::move(state);
    return true;
}

bool DirectoryLister::next(DirEntry& entry) {
    if (!_state) return false;
    if (_state->started) {
        // Moving past the entry handed out last; a failure names that entry, as the
        // directory iterator's increment does.
        std::error_code ec;
        _state->advance(ec);
        if (!noFaultsInjected()) {
            const Path current = _state->entryPath(_state->previous);
            if (auto injected = sim::fault(sim::FsOp::advance, current.wstring())) ec = *injected;
        }
        if (ec) {
            const Path current = _state->entryPath(_state->previous);
            _state.reset();
            throw stdfs::filesystem_error("directory_iterator::operator++", current, ec);
        }
    }
    if (_state->coming == nullptr) {
        _state.reset();  // the end: the listing is closed, and next() stays false
        return false;
    }
    _state->started = true;
    _state->previous = _state->coming->d_name;
    entry.path = _state->entryPath(_state->previous);
    // The host says nothing of read-only state: its removals never depend on it.
    entry.readOnly = true;
    switch (_state->coming->d_type) {
        case DT_DIR:
            entry.kind = ItemKind::directory;
            return true;
        case DT_LNK:
            entry.kind = ItemKind::link;
            return true;
        case DT_UNKNOWN:
            break;
        default:
            entry.kind = ItemKind::file;
            return true;
    }
    // The file system did not tell the kind: one status read, links not followed.
    struct stat status {};
    const int folder = ::dirfd(_state->listing);
    if (::fstatat(folder, _state->coming->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        entry.kind = itemKind(entry.path);  // the general status read decides, and may throw
        return true;
    }
    entry.kind = S_ISDIR(status.st_mode)   ? ItemKind::directory
                 : S_ISLNK(status.st_mode) ? ItemKind::link
                                           : ItemKind::file;
    return true;
}

PathForm pathForm(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return PathForm::relative;
    for (wchar_t c : path) {
        if (c != L'/') return PathForm::full;
    }
    return PathForm::root;
}

}  // namespace platform::fs
