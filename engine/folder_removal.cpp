// Removing the game folder, and the two removal operations the other steps share.
#include <memory>
#include <vector>

#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/file_system.h"

namespace fs = platform::fs;

bool GameUninstallHelper::_deleteGameFolder(const std::wstring& gamePath) {
    const std::filesystem::path folder(gamePath);
    if (!fs::exists(folder)) return true;

    // Three ways, each tried only when the one before left the folder in place.
    if (_shellDeleteItem(folder)) return true;

    _removeDirectoriesRecursive(folder);
    if (!fs::exists(folder)) return true;

    std::error_code ec;
    fs::removeAll(folder, ec);
    if (!fs::exists(folder)) return true;

    if (fs::isAccessDenied(ec) && !_elevated) {
        LOG_INFO << L"Access denied, relaunching elevated: " << gamePath;
        _relaunchElevated();
        return !fs::exists(folder);
    }
    LOG_ERROR << L"Failed to delete game folder: " << gamePath;
    return false;
}

void GameUninstallHelper::_removeDirectoriesRecursive(const std::filesystem::path& dir) {
    // isDirectoryNoThrow holds only for an item that exists, so it answers both questions.
    if (!fs::isDirectoryNoThrow(dir)) return;
    // A link to a folder is never entered: the whole-tree removal removes the link itself.
    if (fs::itemKind(dir) == fs::ItemKind::link) return;

    // Depth-first, in listing order, like a recursive walk, but with an explicit stack so
    // that a tree thousands of folders deep cannot overflow the worker's call stack. Each
    // level keeps its listing open while its subfolders are removed, as recursion would.
    // Every item is removed through fs::removeListedEntry, which makes it writable and
    // removes it like _makeWritable and fs::removeItem would, but uses what the listing
    // already told about it (its kind, whether it is read-only) instead of asking again.
    // A level keeps its folder's path as plain text: a std::filesystem::path also keeps
    // each of its components as a path of its own, so with one per open level the memory
    // of a deep tree would grow with the square of its depth.
    struct Level {
        std::filesystem::path::string_type path;
        fs::ItemKind kind = fs::ItemKind::directory;  // as its parent's listing showed it
        bool readOnly = true;
        fs::DirectoryLister lister;
    };
    std::vector<std::unique_ptr<Level>> levels;
    const auto enter = [&levels](const fs::DirEntry& folder) {
        auto level = std::make_unique<Level>();
        level->path = folder.path.native();
        level->kind = folder.kind;
        level->readOnly = folder.readOnly;
        std::error_code ec;
        if (!level->lister.open(folder.path, ec)) {
            LOG_ERROR << L"Cannot iterate directory: " << folder.path << L" (" << ec.value()
                      << L")";
            return;
        }
        levels.push_back(std::move(level));
    };

    // The top folder was not listed: its entry tells nothing (readOnly stays true), so its
    // removal reads its state like the general calls.
    fs::DirEntry top;
    top.path = dir;
    top.kind = fs::ItemKind::directory;
    enter(top);
    while (!levels.empty()) {
        fs::DirEntry entry;
        if (levels.back()->lister.next(entry)) {
            if (entry.kind == fs::ItemKind::directory) {
                if (fs::isDirectoryNoThrow(entry.path)) enter(entry);
                continue;
            }
            // Files, links (removed as links) and entries that vanished since the listing.
            std::error_code ec;
            fs::removeListedEntry(entry, ec);
            if (ec) LOG_ERROR << L"Remove file failed: " << entry.path;
            continue;
        }
        fs::DirEntry finished;
        finished.path = std::move(levels.back()->path);
        finished.kind = levels.back()->kind;
        finished.readOnly = levels.back()->readOnly;
        levels.pop_back();  // the listing is closed before its folder is removed
        std::error_code ec;
        fs::removeListedEntry(finished, ec);
        if (ec) LOG_ERROR << L"Remove dir failed: " << finished.path;
    }
}

void GameUninstallHelper::_makeWritable(const std::filesystem::path& p) { fs::makeWritable(p); }
