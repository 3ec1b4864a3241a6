// The one removal walk of the program, on the handle-level operations of each platform.
#include <chrono>
#include <deque>
#include <exception>
#include <thread>
#include <utility>

#include "platform/deletion_pool.h"
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

// What became of one listed entry.
struct Settled {
    enum class End { removed, gone, failed, thrown, folder } end = End::gone;
    RemovalFailure::What what = RemovalFailure::What::fileNotRemoved;  // End::failed
    std::error_code ec;                                                // End::failed
    std::exception_ptr thrown;                                         // End::thrown
    OpenItem folder;  // End::folder: a folder confirmed as itself, to be walked
};

// A failure to report.
Settled failure(RemovalFailure::What what, const std::error_code& ec) {
    Settled settled;
    settled.end = Settled::End::failed;
    settled.what = what;
    settled.ec = ec;
    return settled;
}

// Runs `settle`, handing back an exception it throws as what became of the entry.
template <typename Settle>
Settled catching(Settle settle) {
    try {
        return settle();
    } catch (...) {
        Settled settled;
        settled.end = Settled::End::thrown;
        settled.thrown = std::current_exception();
        return settled;
    }
}

// Clears the read-only attribute through the handle, or throws "permissions" with the
// item's path.
void makeWritable(const OpenItem& item, const Name& path) {
    std::error_code error;
    if (!clearReadOnly(item, error)) {
        throw std::filesystem::filesystem_error("permissions", Path(path), error);
    }
}

// Deletes a file or link through its handle; the engine's removal clears a read-only
// attribute when the deletion is refused for it (the whole-tree removal fails on it), and
// throws "permissions" when it cannot.
Settled deleteAsItself(OpenItem& item, const Name& path, bool ownRemoval) {
    Settled settled;
    std::error_code error;
    bool removed = deleteItem(item, error);
    if (!removed && ownRemoval && item && isAccessDenied(error) && isReadOnly(item)) {
        makeWritable(item, path);
        removed = deleteItem(item, error);
    }
    if (removed) {
        settled.end = Settled::End::removed;
    } else if (!isNotFound(error)) {  // else gone meanwhile
        settled = failure(RemovalFailure::What::fileNotRemoved, error);
    }
    return settled;
}

// Opens one listed entry of `folder` below it, as itself, into `item`. When it cannot be:
// false, with what to report in `settled` (nothing, when it is gone since the listing).
// Acts on nothing. Never throws.
bool openEntry(const OpenItem& folder, const ListedEntry& entry, const Name& path, bool ownRemoval,
               OpenItem& item, Settled& settled) {
    settled = catching([&] {
        std::error_code error;
        const auto open = [&] { return openChild(folder, entry, path, item, error); };
        if (retried(open, error) || isNotFound(error)) return Settled{};  // or gone
        // A read-only item that cannot even be opened to change its attributes is one
        // whose attribute cannot be cleared.
        if (ownRemoval && entry.readOnly && isAccessDenied(error)) {
            throw std::filesystem::filesystem_error("permissions", Path(path), error);
        }
        return failure(entry.kind == ItemKind::directory ? RemovalFailure::What::cannotList
                                                         : RemovalFailure::What::fileNotRemoved,
                       error);
    });
    return item != nullptr;
}

// What becomes of an entry openEntry opened: left when it is not itself, a folder handed
// back to be walked, anything else deleted. Never throws.
Settled settleOpened(const OpenItem& folder, const ListedEntry& entry, const Name& path,
                     bool ownRemoval, OpenItem& item) {
    return catching([&] {
        std::error_code error;
        const bool isFolder = kindOf(item) == ItemKind::directory;
        if (!isItself(folder, item, entry.name, error)) {
            return failure(isFolder ? RemovalFailure::What::folderNotRemoved
                                    : RemovalFailure::What::fileNotRemoved,
                           error);
        }
        if (!isFolder) return deleteAsItself(item, path, ownRemoval);
        Settled settled;
        settled.end = Settled::End::folder;
        settled.folder = std::move(item);
        return settled;
    });
}

// Everything done with one listed entry of `folder`, on whichever thread: opened below
// the folder as itself, left when it is not itself, a folder handed back to be walked,
// anything else deleted. Never throws: an exception is handed back too.
Settled settleEntry(const OpenItem& folder, const ListedEntry& entry, const Name& path,
                    bool ownRemoval) {
    OpenItem item;
    Settled settled;
    if (!openEntry(folder, entry, path, ownRemoval, item, settled)) return settled;
    return settleOpened(folder, entry, path, ownRemoval, item);
}

// Whether a folder the walk entered before knowing is itself (isItself): made on a worker
// while the walk lists what lies below it. The checks are what costs most under Wine, and
// more the deeper the folder, so a chain of folders has its checks made side by side.
struct FolderCheck {
    const OpenItem* parent;  // the open folder above, its listing showed the folder
    const OpenItem* folder;
    Name name;  // in the folder above
    std::error_code ec;
    bool itself = false;
    bool done = false;  // set by the pool once `itself` and `ec` hold the outcome
};

// One folder of the walk's stack: open and being listed.
struct Level {
    OpenItem folder;
    std::size_t pathLength;     // length of its path in the walk's path buffer
    std::size_t failuresBefore;  // failures reported before it was entered
    // Until the folder is confirmed as itself; none when it was before it was entered.
    std::unique_ptr<FolderCheck> check;
};

// One entry handed to the workers: what they need, and what became of it.
struct Job {
    const OpenItem* folder;  // its folder, open until the job is reported
    ListedEntry entry;
    Name path;
    Settled settled;
    bool done = false;  // set by the pool once `settled` holds the outcome
};

// At most this many entries are handed out and not yet reported: enough to keep every
// worker busy, few enough that memory does not follow the size of a folder.
constexpr std::size_t kHandedOut = 64;

// At most this many folders are entered ahead of their checks: the checks of a deep chain
// keep the workers busy, and a folder swapped for a link just before it was opened leads
// the walk's listings only this far into what the link points to.
constexpr std::size_t kEnteredAhead = 64;

// What confirming the open folders came to: all of them are themselves, or the walk goes on
// in the parent of one that is not, or it ends.
enum class Confirmed { all, leftOne, ends };

// The walk's state: the open folders, one path buffer that grows and shrinks with the
// depth, the entries handed to the workers, and what it reports. Whatever the workers do,
// the failures are reported in the order of a walk without them, by this thread alone.
class Walk {
public:
    Walk(const RemovalWalk& how, std::error_code& ec, unsigned workers)
        : _how(how), _ec(ec), _pool(workers) {}

    std::uintmax_t run(OpenItem& top, const Name& path);

private:
    // Reports a failure; false when it ends the walk (ec then holds it).
    bool failed(RemovalFailure::What what, const Name& path, const std::error_code& error);
    // Acts on what became of an entry: counts it, reports it, throws it, or walks the
    // folder (pushed on `levels`, or in a walk of its own when `levels` is null); false
    // when the walk ends.
    bool settle(Settled& settled, const Name& path, std::deque<Level>* levels);
    // Hands a non-folder entry to the workers, first reporting the oldest ones when too
    // many are out; false when the walk ends.
    bool handOut(const OpenItem& folder, const ListedEntry& entry, const Name& path);
    // Reports the entries handed out, oldest first: all of them, waiting for each, when
    // `all`; else those done, waiting for the oldest when none is; false when the walk ends.
    bool report(bool all);
    // Enters the folder `folder`, listed as `name` in the innermost open folder, before it is
    // confirmed as itself: its check goes to the workers.
    void enter(std::deque<Level>& levels, OpenItem folder, const Name& name,
               std::size_t pathLength);
    // Waits for the checks of the open folders, from the top down to `depth` levels. One
    // that is not itself is closed, with everything opened below it, and reported in its
    // place; `path` is then its folder's. Nothing is deleted or reported in a folder before
    // it and every folder above it are confirmed.
    Confirmed confirm(std::deque<Level>& levels, Name& path, std::size_t depth);

    const RemovalWalk& _how;
    std::error_code& _ec;
    std::uintmax_t _removed = 0;
    std::size_t _failures = 0;  // reported so far: each leaves something in its folder
    std::deque<Job> _jobs;      // handed out, oldest first
    std::size_t _confirmed = 0;  // the open folders from the top known to be themselves
    DeletionPool _pool;
};

// Hands the failure to the caller; the whole-tree removal stops at it.
bool Walk::failed(RemovalFailure::What what, const Name& path, const std::error_code& error) {
    ++_failures;
    if (_how.onFailure != nullptr) _how.onFailure(RemovalFailure{what, path, error});
    if (_how.ownRemoval) return true;
    _ec = error;
    return false;
}

// The caller has reported everything before it, so the order stays that of the listing.
bool Walk::settle(Settled& settled, const Name& path, std::deque<Level>* levels) {
    switch (settled.end) {
        case Settled::End::removed:
            ++_removed;
            return true;
        case Settled::End::gone:
            return true;
        case Settled::End::failed:
            return failed(settled.what, path, settled.ec);
        case Settled::End::thrown:
            std::rethrow_exception(settled.thrown);
        case Settled::End::folder:
            break;
    }
    if (levels != nullptr) {
        levels->push_back(Level{std::move(settled.folder), path.size(), _failures, nullptr});
        return true;
    }
    // A worker found a folder where the listing showed none (it became one meanwhile, or
    // the listing does not tell): it is walked here and now, in its place in the order.
    Walk inner(_how, _ec, 0);
    const std::uintmax_t removed = inner.run(settled.folder, path);
    _failures += inner._failures;
    if (removed == kFailed) return false;
    _removed += removed;
    return true;
}

// Queues the entry with its own copy of the path.
bool Walk::handOut(const OpenItem& folder, const ListedEntry& entry, const Name& path) {
    if (_jobs.size() >= kHandedOut && !report(false)) return false;
    Job& job = _jobs.emplace_back(Job{&folder, entry, path, Settled{}});
    const bool ownRemoval = _how.ownRemoval;
    _pool.submit(
        [&job, ownRemoval] {
            job.settled = settleEntry(*job.folder, job.entry, job.path, ownRemoval);
        },
        job.done);
    return true;
}

// Takes the oldest job off the queue once it is done, then acts on what became of it.
bool Walk::report(bool all) {
    bool reported = false;
    while (!_jobs.empty()) {
        if (!_pool.isDone(_jobs.front().done)) {
            if (reported && !all) return true;
            _pool.wait(_jobs.front().done);
        }
        reported = true;
        Job job = std::move(_jobs.front());
        _jobs.pop_front();
        if (!settle(job.settled, job.path, nullptr)) return false;
    }
    return true;
}

// Pushes the folder with its check, which a worker makes while the walk goes on below it.
void Walk::enter(std::deque<Level>& levels, OpenItem folder, const Name& name,
                 std::size_t pathLength) {
    auto check = std::make_unique<FolderCheck>();
    check->parent = &levels.back().folder;
    check->name = name;
    FolderCheck& made = *check;
    const Level& level =
        levels.emplace_back(Level{std::move(folder), pathLength, _failures, std::move(check)});
    made.folder = &level.folder;
    _pool.submit(
        [&made] { made.itself = isItself(*made.parent, *made.folder, made.name, made.ec); },
        made.done);
}

// Confirms the levels one after another, from the first not yet confirmed.
Confirmed Walk::confirm(std::deque<Level>& levels, Name& path, std::size_t depth) {
    for (; _confirmed < depth; ++_confirmed) {
        Level& level = levels[_confirmed];
        if (!level.check) continue;  // checked before it was entered
        _pool.wait(level.check->done);
        if (level.check->itself) {
            level.check.reset();
            continue;
        }
        // Not itself: nothing below it has been deleted or reported. The checks still out
        // below it use the handles about to be closed, so they end first.
        const std::error_code error = level.check->ec;
        for (std::size_t below = _confirmed + 1; below < levels.size(); ++below) {
            if (levels[below].check) _pool.wait(levels[below].check->done);
        }
        path.resize(level.pathLength);
        levels.erase(levels.begin() + static_cast<std::ptrdiff_t>(_confirmed), levels.end());
        // What the workers were given in the folder above comes before it.
        if (!report(true) || !failed(RemovalFailure::What::folderNotRemoved, path, error)) {
            return Confirmed::ends;
        }
        return Confirmed::leftOne;
    }
    return Confirmed::all;
}

// The walk itself: the top, then every folder below it depth-first.
std::uintmax_t Walk::run(OpenItem& top, const Name& topPath) {
    if (!top) return 0;
    if (kindOf(top) != ItemKind::directory) {
        // The engine's removal walks folders only; a link or file at the top is for the
        // whole-tree removal, which deletes it as itself.
        if (_how.ownRemoval) return 0;
        Settled settled = deleteAsItself(top, topPath, false);
        return settle(settled, topPath, nullptr) ? _removed : kFailed;
    }
    rewindListing(top);
    Name path = topPath;
    std::error_code error;

    // Depth-first with an explicit stack, so that a tree thousands of folders deep cannot
    // overflow the call stack. Every item is opened through its open folder. The top stays
    // the caller's: it is moved back when the walk ends without deleting it. The stack is
    // a deque, so that the folders the workers use stay where they are as it grows.
    std::deque<Level> levels;
    levels.push_back(Level{std::move(top), path.size(), _failures, nullptr});
    _confirmed = 1;
    struct GiveBack {
        std::deque<Level>& levels;
        OpenItem& top;
        ~GiveBack() {
            if (!levels.empty()) top = std::move(levels.front().folder);
        }
    } giveBack{levels, top};
    // However the walk ends, no worker still uses its folders.
    struct StopWorkers {
        DeletionPool& pool;
        std::deque<Job>& jobs;
        ~StopWorkers() {
            pool.cancel();
            jobs.clear();
        }
    } stopWorkers{_pool, _jobs};
    while (!levels.empty()) {
        Level& level = levels.back();  // stays valid: the deque grows at its end only
        ListedEntry entry;
        if (nextEntry(level.folder, entry, error)) {
            path.resize(level.pathLength);
            if (!endsInSeparator(path)) path += kJoin;
            path += entry.name;
            OpenItem item;
            Settled settled;
            const bool opened =
                entry.kind == ItemKind::directory &&
                openEntry(level.folder, entry, path, _how.ownRemoval, item, settled);
            if (opened && kindOf(item) == ItemKind::directory) {
                // A folder is entered as soon as it is open; its check is made meanwhile.
                enter(levels, std::move(item), entry.name, path.size());
                if (levels.size() - _confirmed <= kEnteredAhead) continue;
                if (confirm(levels, path, levels.size() - kEnteredAhead) == Confirmed::ends) {
                    return kFailed;
                }
                continue;
            }
            // Whatever else becomes of the entry is done in this folder.
            const Confirmed confirmed = confirm(levels, path, levels.size());
            if (confirmed == Confirmed::ends) return kFailed;
            if (confirmed == Confirmed::leftOne) continue;
            if (opened) {
                settled = settleOpened(level.folder, entry, path, _how.ownRemoval, item);
            } else if (entry.kind != ItemKind::directory) {
                if (_pool.workers() > 0) {
                    if (!handOut(level.folder, entry, path)) return kFailed;
                    continue;
                }
                settled = settleEntry(level.folder, entry, path, _how.ownRemoval);
            }
            // What this thread reports or throws comes after what the workers were given.
            const bool reports =
                settled.end == Settled::End::failed || settled.end == Settled::End::thrown;
            if ((reports && !report(true)) || !settle(settled, path, &levels)) return kFailed;
            continue;
        }
        path.resize(level.pathLength);
        // Nothing is reported or deleted in the folder before it is confirmed.
        const Confirmed confirmed = confirm(levels, path, levels.size());
        if (confirmed == Confirmed::ends) return kFailed;
        if (confirmed == Confirmed::leftOne) continue;
        // Every entry of the folder is done and reported before it goes.
        if (!report(true)) return kFailed;
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
        const bool removed = _failures > level.failuresBefore ? remove() : retried(remove, error);
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
        _confirmed = levels.size();  // all were confirmed before the folder went
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
    Walk walk(how, ec, deletionWorkers());
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
    makeWritable(item, path);
    return deleteItem(item, ec);
}

}  // namespace platform::fs
