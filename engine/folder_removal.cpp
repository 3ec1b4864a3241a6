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
    if (!fs::existsNoThrow(dir) || !fs::isDirectoryNoThrow(dir)) return;
    // A link to a folder is never entered: the whole-tree removal removes the link itself.
    if (fs::itemKind(dir) == fs::ItemKind::link) return;

    // Depth-first, in listing order, like a recursive walk, but with an explicit stack so
    // that a tree thousands of folders deep cannot overflow the worker's call stack. Each
    // level keeps its listing open while its subfolders are removed, as recursion would.
    struct Level {
        std::filesystem::path dir;
        fs::DirectoryLister lister;
    };
    std::vector<std::unique_ptr<Level>> levels;
    const auto enter = [&levels](const std::filesystem::path& folder) {
        auto level = std::make_unique<Level>();
        level->dir = folder;
        std::error_code ec;
        if (!level->lister.open(folder, ec)) {
            LOG_ERROR << L"Cannot iterate directory: " << folder << L" (" << ec.value() << L")";
            return;
        }
        levels.push_back(std::move(level));
    };

    enter(dir);
    while (!levels.empty()) {
        fs::DirEntry entry;
        if (levels.back()->lister.next(entry)) {
            if (entry.kind == fs::ItemKind::directory) {
                if (fs::existsNoThrow(entry.path) && fs::isDirectoryNoThrow(entry.path)) {
                    enter(entry.path);
                }
                continue;
            }
            // Files, links (removed as links) and entries that vanished since the listing.
            _makeWritable(entry.path);
            std::error_code ec;
            fs::removeItem(entry.path, ec);
            if (ec) LOG_ERROR << L"Remove file failed: " << entry.path;
            continue;
        }
        const std::filesystem::path finished = levels.back()->dir;
        levels.pop_back();  // the listing is closed before its folder is removed
        _makeWritable(finished);
        std::error_code ec;
        fs::removeItem(finished, ec);
        if (ec) LOG_ERROR << L"Remove dir failed: " << finished;
    }
}

void GameUninstallHelper::_makeWritable(const std::filesystem::path& p) { fs::makeWritable(p); }
