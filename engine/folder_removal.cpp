// Removing the game folder, and the two removal operations the other steps share.
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
    // The platform's one removal walk: every item is opened through its already open
    // folder and never followed when it is a link, so nothing outside dir can be reached,
    // even when a folder is swapped for a link while the walk runs. It goes on past
    // individual failures, which are logged here.
    fs::RemovalWalk walk;
    walk.ownRemoval = true;
    walk.onFailure = [](const fs::RemovalFailure& failure) {
        const std::filesystem::path path(failure.path);
        switch (failure.what) {
            case fs::RemovalFailure::What::cannotList:
                LOG_ERROR << L"Cannot iterate directory: " << path << L" (" << failure.ec.value()
                          << L")";
                break;
            case fs::RemovalFailure::What::fileNotRemoved:
                LOG_ERROR << L"Remove file failed: " << path;
                break;
            case fs::RemovalFailure::What::folderNotRemoved:
                LOG_ERROR << L"Remove dir failed: " << path;
                break;
        }
    };
    std::error_code ec;
    fs::removeTree(dir, walk, ec);
}

void GameUninstallHelper::_makeWritable(const std::filesystem::path& p) { fs::makeWritable(p); }
