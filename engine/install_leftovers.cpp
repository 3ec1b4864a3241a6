// Removing what an interrupted installation leaves in the game folder.
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/file_system.h"

namespace fs = platform::fs;

void GameUninstallHelper::_deleteInstallTempFiles(const std::wstring& gamePath) {
    const std::filesystem::path tempFolder = std::filesystem::path(gamePath) / L".vexal_temp";
    if (fs::exists(tempFolder)) {
        if (!_shellDeleteItem(tempFolder)) _removeDirectoriesRecursive(tempFolder);
        if (fs::exists(tempFolder)) {
            std::error_code ec;
            fs::removeAll(tempFolder, ec);  // what stays is met again by the folder removal
        }
        LOG_INFO << L"Removed .vexal_temp: " << tempFolder;
    }

    const std::filesystem::path progressFile =
        std::filesystem::path(gamePath) / L"install_progress.json";
    if (!fs::exists(progressFile)) return;
    // Made writable and removed through the game folder's handle, never through a link.
    std::error_code ec;
    fs::removeChild(gamePath, progressFile.filename().native(), ec);
    if (!ec) LOG_INFO << L"Removed install_progress.json";
}
