#pragma once
// File-system operations for the removal steps. Unlike std::filesystem on Windows, they
// see links (symbolic links, junctions and every other reparse point) and never follow
// them into their targets, and they reach paths longer than 260 characters.
//
// Error forms: operations that take a std::error_code report through it; the others
// throw std::filesystem::filesystem_error with the operation text and path named below.
// Error numbers are the platform's own (Windows system errors, errno elsewhere).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace platform::fs {

using Path = std::filesystem::path;

// What an item is in itself: a link is reported as a link, whatever it points to.
enum class ItemKind { absent, file, directory, link };

// True when an item exists at p, links followed (a dangling link is absent). Throws
// "exists" when the status cannot be read for a reason other than not-found.
bool exists(const Path& p);

// True for the platform's own access-denied condition.
bool isAccessDenied(const std::error_code& ec);

// ---- Removal by handle ------------------------------------------------------------------
// Every item below the top of a removal is opened through its already open folder and
// never followed when it is a link, so that a folder swapped for a link while the removal
// runs cannot lead it anywhere else. These operations never throw: each returns false with
// ec holding the platform's own error (Windows system errors, errno elsewhere).

// One component of a path, in the platform's own text.
using Name = Path::string_type;

// An item held open: a handle (Windows) or a descriptor (host). Closed when its owner goes.
struct OpenItemState;
struct OpenItemClose {
    void operator()(OpenItemState* state) const;
};
using OpenItem = std::unique_ptr<OpenItemState, OpenItemClose>;

// What a listing shows of one entry.
struct ListedEntry {
    Name name;
    ItemKind kind = ItemKind::absent;  // absent when the listing does not tell
    bool readOnly = false;             // Windows: the read-only attribute; never set on the host
    std::uint64_t id = 0;              // the file system's number of the item, where shown
};

// Opens the item at p itself, never following it when it is a link (links above it are
// followed); a folder is opened ready to be listed and deleted, or only to be listed when
// another program's open refuses deletion (a sharing violation). Shares reading, writing
// and deletion, so other openers (the elevated copy of this program) are never blocked.
[[nodiscard]] bool openItem(const Path& p, OpenItem& item, std::error_code& ec);
// Opens the listed entry of the open folder `folder` relative to it, as itself (a link is
// never followed). `path` is its full path: where a file system refuses opens relative to
// a folder, the path is opened instead, and the item must still be what the listing showed
// (kind, file number and final path). A folder whose deletion another program's open
// refuses is opened for listing only.
[[nodiscard]] bool openChild(const OpenItem& folder, const ListedEntry& entry, const Name& path,
                             OpenItem& item, std::error_code& ec);
// Opens the item `name` of the open folder `folder` (a folder when it is one) and
// confirms that it is itself (isItself). `path` names it in errors. False with ec set when
// it cannot be opened or leads elsewhere; isNotFound(ec) when it is not there.
[[nodiscard]] bool openBelow(const OpenItem& folder, const Name& name, const Name& path,
                             OpenItem& item, std::error_code& ec);
// The full path of the open item with every link, short name and drive mapping resolved,
// in the ordinary form ("C:\...", "\\server\share\..."); empty when
// unknown or when it has no such form.
std::wstring finalPathOf(const OpenItem& item);
// What the open item is in itself, and whether it is read-only, as its handle shows it.
ItemKind kindOf(const OpenItem& item);
bool isReadOnly(const OpenItem& item);
// Reads the next entry of an open folder, "." and ".." left out. False at the end (ec
// clear) or when the listing fails (ec set).
[[nodiscard]] bool nextEntry(const OpenItem& folder, ListedEntry& entry, std::error_code& ec);
// Starts the listing of an open folder again from its first entry.
void rewindListing(const OpenItem& folder);
// Clears the read-only attribute through the handle.
[[nodiscard]] bool clearReadOnly(const OpenItem& item, std::error_code& ec);
// Deletes the open item (a link as itself; a folder must be empty) and closes it. A file
// whose read-only attribute clearReadOnly cleared gets it back before it goes when it has
// other names, since the attribute belongs to the file and not to this name.
[[nodiscard]] bool deleteItem(OpenItem& item, std::error_code& ec);
// False with ec set when the platform hides links (Wine's Unix file links) and the open
// item is not itself what `name` names in the open folder `folder`: its final path is not
// the folder's final path joined with the name, so it is a link to somewhere else. Always
// true where links show as links.
[[nodiscard]] bool isItself(const OpenItem& folder, const OpenItem& item, const Name& name,
                            std::error_code& ec);
// True for errors that mean nothing is there (any more), or that it is already being
// deleted.
bool isNotFound(const std::error_code& ec);
// True for errors that may pass by themselves: a file or folder held for a moment by
// another program (an antivirus, an indexer), a folder whose deleted entries are still
// held open.
bool isTransient(const std::error_code& ec);

// ---- The removal walk ---------------------------------------------------------------------

// A failure the walk met and went past (it stops at none when `keepGoing` is false).
struct RemovalFailure {
    enum class What { cannotList, fileNotRemoved, folderNotRemoved } what;
    const Name& path;
    std::error_code ec;
};

// How the walk removes a tree.
struct RemovalWalk {
    // The engine's own removal: only a folder is walked (a top that is a file or a link is
    // left alone), read-only attributes are cleared, failures are reported and passed.
    // Otherwise the whole-tree removal: the top goes whatever it is, nothing is made
    // writable, and the first failure ends the walk.
    bool ownRemoval = false;
    void (*onFailure)(const RemovalFailure&) = nullptr;
};

// Removes the open item `top` and everything below it, depth-first in listing order, each
// folder after its entries, without recursion on the call stack (memory follows the depth,
// not the size); `path` names it in reports. The listing starts again from its first
// entry, so the same open folder can be walked more than once. Links are deleted as
// themselves and never entered; where the platform hides links, an item that is not itself
// (isItself) is left and counts as not removed. A folder is entered as soon as it is open
// and checked meanwhile; nothing in it is deleted or reported before it and every folder
// above it are confirmed, and the walk goes at most 64 folders deeper before that. A failed
// removal of a file or a folder is tried again a few times, with a short pause, when its
// error may pass by itself (isTransient). When the top goes, `top` is left empty. Returns
// the number of items removed, or static_cast<std::uintmax_t>(-1) with ec set at the first
// failure of the whole-tree removal. The engine's removal throws "permissions" and
// "directory_iterator::operator++" (with the path) where its contract says so; the
// whole-tree removal reports those in ec.
std::uintmax_t removeTree(OpenItem& top, const Name& path, const RemovalWalk& how,
                          std::error_code& ec);

// The whole-tree removal: removeTree with the default walk.
std::uintmax_t removeAll(OpenItem& top, const Name& path, std::error_code& ec);

// Deletes the open folder when nothing is left in it, or finds it already marked for
// deletion (by another program), and then closes it: true when it is gone or goes as it is
// closed. An absent `folder` counts as gone.
bool removeIfEmpty(OpenItem& folder);

// Removes the single item `name` of the open folder `folder` the way the walk removes one:
// opened below the folder as itself, left when it is not itself (isItself), deleted (a
// folder only when it is empty), clearing a read-only attribute when the deletion is
// refused for it. `path` names it. Returns true when it was removed; an absent item is no
// error. Throws "permissions" when a read-only attribute cannot be cleared.
bool removeChild(const OpenItem& folder, const Name& name, const Name& path, std::error_code& ec);

// How a path names its place.
enum class PathForm {
    relative,  // not a full path: relative, drive-relative, rooted at the current drive
    root,      // a drive root or share root ("C:\", "\\server\share", "/")
    full,      // a full local or UNC path below a root
};
PathForm pathForm(const std::wstring& path);

// The host's own path separator: "\\" on Windows, "/" elsewhere.
#ifdef _WIN32
constexpr wchar_t kSeparator = L'\\';
#else
constexpr wchar_t kSeparator = L'/';
#endif

// A path built with Windows separators, in the host's own form.
inline std::wstring localSeparators(std::wstring path) {
    for (auto& c : path) {
        if (c == L'\\') c = kSeparator;
    }
    return path;
}

}  // namespace platform::fs
