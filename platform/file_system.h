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
// The same, but an unreadable status counts as absent.
bool existsNoThrow(const Path& p);
// The item's own kind, links not followed. Throws "status" when it cannot be read for a
// reason other than not-found.
ItemKind itemKind(const Path& p);
// True when p is an existing directory (links followed); false on any error.
bool isDirectoryNoThrow(const Path& p);

// Clears the read-only attribute of the item itself (never a link's target). Does
// nothing when p is absent. Throws "exists", "status" or "permissions".
void makeWritable(const Path& p);

// Removes one item: a file, an empty directory, or a link itself. An absent item is no
// error. Returns true when something was removed.
bool removeItem(const Path& p, std::error_code& ec) noexcept;

// Removes p and everything below it without following links, depth-first and without
// recursion on the call stack. Stops at the first failure and reports it in ec.
std::uintmax_t removeAll(const Path& p, std::error_code& ec);

// True for the platform's own access-denied condition.
bool isAccessDenied(const std::error_code& ec);

// One entry of a directory listing, with what the listing told about it.
struct DirEntry {
    Path path;
    ItemKind kind = ItemKind::absent;
    // False only when the listing showed the item writable (Windows: no read-only
    // attribute); true when it showed it read-only, or when nothing is known (the default,
    // and always on the host, where an item's own permissions never stop its removal).
    bool readOnly = true;
};

// makeWritable(entry.path) followed by removeItem(entry.path, ec), with the same results,
// exceptions and end state, in fewer system calls. A file or folder that its listing
// showed as not a link is removed at once, without reading its state again, unless its
// own read-only state would stop that: on Windows a read-only attribute does, so such
// entries take the general way; on the host an item's own permissions never do. When that
// removal fails, and for every other entry (links, entries not from a listing), the two
// general calls run and have the last word.
bool removeListedEntry(const DirEntry& entry, std::error_code& ec);

// Lists one directory, "." and ".." left out. The listing handle is released when the
// lister is destroyed.
class DirectoryLister {
public:
    DirectoryLister();
    ~DirectoryLister();
    DirectoryLister(const DirectoryLister&) = delete;
    DirectoryLister& operator=(const DirectoryLister&) = delete;

    // Opens the listing; false with ec set when it cannot be opened.
    bool open(const Path& dir, std::error_code& ec);
    // Fetches the next entry; false at the end. Throws "directory_iterator::operator++"
    // when the listing fails before its end.
    bool next(DirEntry& entry);

private:
    struct State;
    std::unique_ptr<State> _state;
};

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
