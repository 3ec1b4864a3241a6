// Removing the game folder, and the removal the other steps share.
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"

namespace fs = platform::fs;

bool GameUninstallHelper::_deleteGameFolder(const std::wstring& gamePath) {
    // Nothing was there when the folder was judged: nothing to remove.
    if (!_gameFolder) return true;

    // Two ways through the handle held since the judgement, the second tried only when
    // the first left the folder in place.
    _removeDirectoriesRecursive(_gameFolder, gamePath);
    if (!_gameFolder) return true;

    std::error_code ec;
    fs::removeAll(_gameFolder, fs::Path(gamePath).native(), ec);
    if (!_gameFolder) return true;

    if (fs::isAccessDenied(ec) && !_elevated) {
        LOG_INFO << L"Access denied, relaunching elevated: " << gamePath;
        _relaunchElevated();
        // The elevated copy removes what it can through a handle of its own; the folder,
        // which this process still holds, goes as that handle is closed once empty.
        return fs::removeIfEmpty(_gameFolder);
    }
    LOG_ERROR << L"Failed to delete game folder: " << gamePath;
    return false;
}

void GameUninstallHelper::_removeDirectoriesRecursive(fs::OpenItem& dir, const fs::Path& path) {
    // The platform's one removal walk: every item is opened through its already open
    // folder and never followed when it is a link, so nothing outside dir can be reached,
    // even when a folder is swapped for a link while the walk runs. It goes on past
    // individual failures, which are logged here.
    fs::RemovalWalk walk;
    walk.ownRemoval = true;
    walk.onFailure = [](const fs::RemovalFailure& failure) {
        const std::filesystem::path failed(failure.path);
        switch (failure.what) {
            case fs::RemovalFailure::What::cannotList:
                LOG_ERROR << L"Cannot iterate directory: " << failed << L" ("
                          << failure.ec.value() << L")";
                break;
            case fs::RemovalFailure::What::fileNotRemoved:
                LOG_ERROR << L"Remove file failed: " << failed;
                break;
            case fs::RemovalFailure::What::folderNotRemoved:
                LOG_ERROR << L"Remove dir failed: " << failed;
                break;
        }
    };
    std::error_code ec;
    fs::removeTree(dir, path.native(), walk, ec);
}

bool GameUninstallHelper::_removeFromGameFolder(const std::wstring& gamePath,
                                                const std::wstring& name) {
    if (!_gameFolder) return false;  // the folder is gone, or was never there
    const fs::Path path = fs::Path(gamePath) / name;
    fs::OpenItem item;
    std::error_code ec;
    if (!fs::openBelow(_gameFolder, fs::Path(name).native(), path.native(), item, ec)) {
        // Something is there that cannot be opened as itself here (a link the platform
        // hides, say): it is left, and the game folder's removal meets and reports it.
        return !fs::isNotFound(ec);
    }
    _removeDirectoriesRecursive(item, path);
    if (item) fs::removeAll(item, path.native(), ec);  // what stays is met again later
    return true;
}
