// The one removal walk of the program, on the handle-level operations of each platform.
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace platform::fs {
namespace {

constexpr std::uintmax_t kFailed = static_cast<std::uintmax_t>(-1);

#ifdef _WIN32
constexpr Path::value_type kJoin = L'\\';
#else
constexpr Path::value_type kJoin = '/';
#endif

// True for both separators a path may end in.
bool endsInSeparator(const Name& path) {
    return !path.empty() && (path.back() == '/' || path.back() == kJoin);
}

// One folder of the walk's stack: open and being listed.
struct Level {
    OpenItem folder;
    std::size_t pathLength;  // length of its path in the walk's path buffer
};

// The walk's state: the open folders, one path buffer that grows and shrinks with the
// depth, and what it reports.
class Walk {
public:
    Walk(const RemovalWalk& how, std::error_code& ec) : _how(how), _ec(ec) {}

    std::uintmax_t run(const Path& p);

private:
    // Reports a failure; false when it ends the walk (ec then holds it).
    bool failed(RemovalFailure::What what, const Name& path, const std::error_code& error);
    // Deletes one non-folder item; false when a failure ends the walk.
    bool removeItem(OpenItem& item, const ListedEntry& entry, const Name& path);
    // Clears the read-only attribute for the engine's removal; throws "permissions".
    void makeWritable(const OpenItem& item, const Name& path);

    const RemovalWalk& _how;
    std::error_code& _ec;
    std::uintmax_t _removed = 0;
};

// Hands the failure to the caller; the whole-tree removal stops at it.
bool Walk::failed(RemovalFailure::What what, const Name& path, const std::error_code& error) {
    if (_how.onFailure != nullptr) _how.onFailure(RemovalFailure{what, path, error});
    if (_how.ownRemoval) return true;
    _ec = error;
    return false;
}

// Clears the read-only attribute or throws "permissions" with the item's path.
void Walk::makeWritable(const OpenItem& item, const Name& path) {
    std::error_code error;
    if (!clearReadOnly(item, error)) {
        throw std::filesystem::filesystem_error("permissions", Path(path), error);
    }
}

// Deletes a file or link through its handle, clearing read-only where the walk may.
bool Walk::removeItem(OpenItem& item, const ListedEntry& entry, const Name& path) {
    // The engine's removal clears a read-only attribute that the listing shows, or that a
    // refused delete finds; the whole-tree removal leaves it, and fails on it.
    if (_how.ownRemoval && entry.readOnly) makeWritable(item, path);
    std::error_code error;
    if (deleteItem(item, error)) {
        ++_removed;
        return true;
    }
    if (_how.ownRemoval && item && isAccessDenied(error) && isReadOnly(item)) {
        makeWritable(item, path);
        if (deleteItem(item, error)) {
            ++_removed;
            return true;
        }
    }
    if (isNotFound(error)) return true;  // gone meanwhile
    return failed(RemovalFailure::What::fileNotRemoved, path, error);
}

// The walk itself: the top, then every folder below it depth-first.
std::uintmax_t Walk::run(const Path& p) {
    Name path = p.native();
    OpenItem top;
    std::error_code error;
    if (!openItem(p, top, error)) {
        if (isNotFound(error)) return 0;
        return failed(RemovalFailure::What::cannotList, path, error) ? 0 : kFailed;
    }
    if (kindOf(top) != ItemKind::directory) {
        // The engine's removal walks folders only; a link or file at the top is for the
        // whole-tree removal, which deletes it as itself, once its folder confirms it.
        if (_how.ownRemoval) return 0;
        const Path named = p.has_filename() ? p : p.parent_path();
        OpenItem holder;  // stays empty when it cannot be opened: then nothing is confirmed
        std::error_code holderError;
        if (!openItem(named.parent_path(), holder, holderError)) holder.reset();
        if (!isItself(holder, top, named.filename().native(), error)) {
            return failed(RemovalFailure::What::fileNotRemoved, path, error) ? 0 : kFailed;
        }
        return removeItem(top, ListedEntry{}, path) ? _removed : kFailed;
    }

    // Depth-first with an explicit stack, so that a tree thousands of folders deep cannot
    // overflow the call stack. Every item is opened through its open folder.
    std::vector<Level> levels;
    levels.push_back(Level{std::move(top), path.size()});
    while (!levels.empty()) {
        Level& level = levels.back();
        ListedEntry entry;
        if (nextEntry(level.folder, entry, error)) {
            path.resize(level.pathLength);
            if (!endsInSeparator(path)) path += kJoin;
            path += entry.name;
            OpenItem item;
            const bool listedFolder = entry.kind == ItemKind::directory;
            if (!openChild(level.folder, entry, path, item, error)) {
                if (isNotFound(error)) continue;  // gone since the listing
                // A read-only item that cannot even be opened to change its attributes
                // is one whose attribute cannot be cleared.
                if (_how.ownRemoval && entry.readOnly && isAccessDenied(error)) {
                    throw std::filesystem::filesystem_error("permissions", Path(path), error);
                }
                if (!failed(listedFolder ? RemovalFailure::What::cannotList
                                         : RemovalFailure::What::fileNotRemoved,
                            path, error)) {
                    return kFailed;
                }
                continue;
            }
            const bool folder = kindOf(item) == ItemKind::directory;
            if (!isItself(level.folder, item, entry.name, error)) {
                if (!failed(folder ? RemovalFailure::What::folderNotRemoved
                                   : RemovalFailure::What::fileNotRemoved,
                            path, error)) {
                    return kFailed;
                }
                continue;
            }
            if (folder) {
                levels.push_back(Level{std::move(item), path.size()});  // `level` is stale now
            } else if (!removeItem(item, entry, path)) {
                return kFailed;
            }
            continue;
        }
        path.resize(level.pathLength);
        if (error) {
            if (_how.ownRemoval) {
                throw std::filesystem::filesystem_error("directory_iterator::operator++",
                                                        Path(path), error);
            }
            _ec = error;
            return kFailed;
        }
        // The listing has ended: the folder itself goes, through its own handle.
        OpenItem finished = std::move(level.folder);
        levels.pop_back();
        if (_how.ownRemoval && isReadOnly(finished)) makeWritable(finished, path);
        if (deleteItem(finished, error)) {
            ++_removed;
        } else if (!isNotFound(error) &&
                   !failed(RemovalFailure::What::folderNotRemoved, path, error)) {
            return kFailed;
        }
    }
    return _removed;
}

}  // namespace

// Runs the walk; the whole-tree removal reports exceptions in ec.
std::uintmax_t removeTree(const Path& p, const RemovalWalk& how, std::error_code& ec) {
    ec.clear();
    Walk walk(how, ec);
    if (how.ownRemoval) return walk.run(p);
    // The whole-tree removal reports in ec whatever the walk would throw.
    try {
        return walk.run(p);
    } catch (const std::filesystem::filesystem_error& error) {
        ec = error.code();
        return kFailed;
    }
}

// Opens the folder, then the item below it by name, and deletes it as itself.
bool removeChild(const Path& folder, const Name& name, std::error_code& ec) {
    ec.clear();
    OpenItem open;
    OpenItem item;
    ListedEntry entry;
    entry.name = name;
    Name path = folder.native();
    if (!endsInSeparator(path)) path += kJoin;
    path += name;
    if (!openItem(folder, open, ec) || !openChild(open, entry, path, item, ec)) {
        if (isNotFound(ec)) ec.clear();
        return false;
    }
    if (!isItself(open, item, name, ec)) return false;
    std::error_code error;
    if (isReadOnly(item) && !clearReadOnly(item, error)) {
        throw std::filesystem::filesystem_error("permissions", Path(path), error);
    }
    return deleteItem(item, ec);
}

// The whole-tree removal.
std::uintmax_t removeAll(const Path& p, std::error_code& ec) {
    return removeTree(p, RemovalWalk{}, ec);
}

}  // namespace platform::fs
