// File-system operations on the host's own file system (std::filesystem, which sees
// symbolic links here), with faults that tests inject per operation and path.
#include <sys/stat.h>

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
    if (platform::fs::itemKind(p) == ItemKind::link) return;  // a link has no permissions of its own here
    stdfs::permissions(p, stdfs::perms::owner_write, stdfs::perm_options::add);
}

bool removeItem(const Path& p, std::error_code& ec) noexcept {
    if (auto injected = sim::fault(sim::FsOp::remove, p.wstring())) {
        ec = *injected;
        return false;
    }
    return stdfs::remove(p, ec);  // removes a symbolic link itself, never its target
}

std::uintmax_t removeAll(const Path& p, std::error_code& ec) {
    ec.clear();
    std::uintmax_t removed = 0;
    // Depth-first without recursion: each frame is a directory whose listing is open.
    struct Frame {
        Path dir;
        DirectoryLister lister;
    };
    std::vector<std::unique_ptr<Frame>> stack;
    auto push = [&](const Path& dir) {
        auto frame = std::make_unique<Frame>();
        frame->dir = dir;
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
            const Path dir = stack.back()->dir;
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

struct DirectoryLister::State {
    stdfs::directory_iterator it;
    bool first = true;
};

DirectoryLister::DirectoryLister() = default;
DirectoryLister::~DirectoryLister() = default;

bool DirectoryLister::open(const Path& dir, std::error_code& ec) {
    if (auto injected = sim::fault(sim::FsOp::list, dir.wstring())) {
        ec = *injected;
        return false;
    }
    _state = std::make_unique<State>();
    _state->it = stdfs::directory_iterator(dir, ec);
    if (ec) _state.reset();
    return !ec;
}

bool DirectoryLister::next(DirEntry& entry) {
    if (!_state) return false;
    if (!_state->first) {
        std::error_code ec;
        const Path current = _state->it->path();
        _state->it.increment(ec);
        if (auto injected = sim::fault(sim::FsOp::advance, current.wstring())) ec = *injected;
        if (ec) throw stdfs::filesystem_error("directory_iterator::operator++", current, ec);
    }
    _state->first = false;
    if (_state->it == stdfs::directory_iterator()) return false;
    entry.path = _state->it->path();
    std::error_code ec;
    entry.kind = kindOf(_state->it->symlink_status(ec));
    if (ec) entry.kind = itemKind(entry.path);
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
