// The one removal walk of the program, on the handle-level operations of each platform.
#include <chrono>
#include <thread>
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

// Pauses before each further try of a removal whose error may pass by itself: about a
// sixth of a second in all, so that a file another program holds for good still ends the
// run promptly.
constexpr std::chrono::milliseconds kRetryPauses[] = {std::chrono::milliseconds(10),
                                                      std::chrono::milliseconds(20),
                                                      std::chrono::milliseconds(40),
                                                      std::chrono::milliseconds(80)};

// Runs `attempt` (which sets ec) until it succeeds, fails for good, or the tries are used up.
template <typename Attempt>
bool retried(Attempt attempt, std::error_code& ec) {
    if (attempt()) return true;
    for (const auto pause : kRetryPauses) {
        if (!isTransient(ec)) return false;
        std::this_thread::sleep_for(pause);
        if (attempt()) return true;
    }
    return false;
}

// True for both separators a path may end in.
bool endsInSeparator(const Name& path) {
    return !path.empty() && (path.back() == '/' || path.back() == kJoin);
}

// One folder of the walk's stack: open and being listed.
struct Level {
    OpenItem folder;
    std::size_t pathLength;     // length of its path in the walk's path buffer
    std::size_t failuresBefore;  // failures reported before it was entered
};

// The walk's state: the open folders, one path buffer that grows and shrinks with the
// depth, and what it reports.
class Walk {
public:
    Walk(const RemovalWalk& how, std::error_code& ec) : _how(how), _ec(ec) {}

    std::uintmax_t run(OpenItem& top, const Name& path);

private:
    // Reports a failure; false when it ends the walk (ec then holds it).
    bool failed(RemovalFailure::What what, const Name& path, const std::error_code& error);
    // Deletes one non-folder item; false when a failure ends the walk.
    bool removeItem(OpenItem& item, const Name& path);
    // Clears the read-only attribute for the engine's removal; throws "permissions".
    void makeWritable(const OpenItem& item, const Name& path);

    const RemovalWalk& _how;
    std::error_code& _ec;
    std::uintmax_t _removed = 0;
    std::size_t _failures = 0;  // reported so far: each leaves something in its folder
};

// Hands the failure to the caller; the whole-tree removal stops at it.
bool Walk::failed(RemovalFailure::What what, const Name& path, const std::error_code& error) {
    ++_failures;
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

// Deletes a file or link through its handle; the engine's removal clears a read-only
// attribute when the deletion is refused for it (the whole-tree removal fails on it).
bool Walk::removeItem(OpenItem& item, const Name& path) {
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
std::uintmax_t Walk::run(OpenItem& top, const Name& topPath) {
    if (!top) return 0;
    if (kindOf(top) != ItemKind::directory) {
        // The engine's removal walks folders only; a link or file at the top is for the
        // whole-tree removal, which deletes it as itself.
        if (_how.ownRemoval) return 0;
        return removeItem(top, topPath) ? _removed : kFailed;
    }
    rewindListing(top);
    Name path = topPath;
    std::error_code error;

    // Depth-first with an explicit stack, so that a tree thousands of folders deep cannot
    // overflow the call stack. Every item is opened through its open folder. The top stays
    // the caller's: it is moved back when the walk ends without deleting it.
    std::vector<Level> levels;
    levels.push_back(Level{std::move(top), path.size(), _failures});
    struct GiveBack {
        std::vector<Level>& levels;
        OpenItem& top;
        ~GiveBack() {
            if (!levels.empty()) top = std::move(levels.front().folder);
        }
    } giveBack{levels, top};
    while (!levels.empty()) {
        Level& level = levels.back();
        ListedEntry entry;
        if (nextEntry(level.folder, entry, error)) {
            path.resize(level.pathLength);
            if (!endsInSeparator(path)) path += kJoin;
            path += entry.name;
            OpenItem item;
            const bool listedFolder = entry.kind == ItemKind::directory;
            const auto open = [&] { return openChild(level.folder, entry, path, item, error); };
            if (!retried(open, error)) {
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
                // `level` is stale once the stack grows.
                levels.push_back(Level{std::move(item), path.size(), _failures});
            } else if (!removeItem(item, path)) {
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
        // The listing has ended: the folder itself goes, through its own handle. Entries
        // deleted a moment ago may still be held open by others (an antivirus), which
        // keeps the folder from being empty for a while: it is tried again then, unless a
        // failure inside it says something stays.
        if (_how.ownRemoval && isReadOnly(level.folder)) makeWritable(level.folder, path);
        const auto remove = [&] { return deleteItem(level.folder, error); };
        const bool removed =
            _failures > level.failuresBefore ? remove() : retried(remove, error);
        if (removed) ++_removed;
        const bool reported = !removed && !isNotFound(error);
        if (levels.size() == 1 && !removed) {
            // The top that stays is given back to the caller, still open.
            if (reported && !failed(RemovalFailure::What::folderNotRemoved, path, error)) {
                return kFailed;
            }
            break;
        }
        levels.pop_back();
        if (reported && !failed(RemovalFailure::What::folderNotRemoved, path, error)) {
            return kFailed;
        }
    }
    return _removed;
}

}  // namespace

// Runs the walk; the whole-tree removal reports exceptions in ec.
std::uintmax_t removeTree(OpenItem& top, const Name& path, const RemovalWalk& how,
                          std::error_code& ec) {
    ec.clear();
    Walk walk(how, ec);
    if (how.ownRemoval) return walk.run(top, path);
    // The whole-tree removal reports in ec whatever the walk would throw.
    try {
        return walk.run(top, path);
    } catch (const std::filesystem::filesystem_error& error) {
        ec = error.code();
        return kFailed;
    }
}

// The whole-tree removal.
std::uintmax_t removeAll(OpenItem& top, const Name& path, std::error_code& ec) {
    return removeTree(top, path, RemovalWalk{}, ec);
}

// Lists the folder from its start: no entry (or a listing refused because it is being
// deleted) lets it be deleted through its own handle.
bool removeIfEmpty(OpenItem& folder) {
    if (!folder) return true;
    rewindListing(folder);
    ListedEntry entry;
    std::error_code ec;
    if (nextEntry(folder, entry, ec)) return false;
    if (ec && !isNotFound(ec)) return false;
    if (!deleteItem(folder, ec) && !isNotFound(ec)) return false;
    folder.reset();
    return true;
}

// Opens the item below the folder as a folder first (so that it could be listed), as
// whatever it is otherwise, and confirms it is itself.
bool openBelow(const OpenItem& folder, const Name& name, const Name& path, OpenItem& item,
               std::error_code& ec) {
    ListedEntry entry;
    entry.name = name;
    entry.kind = ItemKind::directory;
    if (!folder) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    if (!openChild(folder, entry, path, item, ec)) return false;
    if (isItself(folder, item, name, ec)) return true;
    item.reset();
    return false;
}

// Opens the item below the folder as itself and deletes it, as the engine's walk would.
bool removeChild(const OpenItem& folder, const Name& name, const Name& path, std::error_code& ec) {
    ec.clear();
    OpenItem item;
    if (!openBelow(folder, name, path, item, ec)) {
        if (isNotFound(ec)) ec.clear();
        return false;
    }
    if (deleteItem(item, ec)) return true;
    if (!isAccessDenied(ec) || !isReadOnly(item)) return false;
    std::error_code error;
    if (!clearReadOnly(item, error)) {
        throw std::filesystem::filesystem_error("permissions", Path(path), error);
    }
    return deleteItem(item, ec);
}

}  // namespace platform::fs
