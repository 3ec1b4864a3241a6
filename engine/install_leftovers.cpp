// Removing what an interrupted installation leaves in the game folder.
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"

namespace fs = platform::fs;

void GameUninstallHelper::_deleteInstallTempFiles(const std::wstring& gamePath) {
    // Both are reached through the game folder's handle, never through its path.
    if (_removeFromGameFolder(gamePath, L".vexal_temp")) {
        LOG_INFO << L"Removed .vexal_temp: " << std::filesystem::path(gamePath) / L".vexal_temp";
    }
    const fs::Path progressFile = fs::Path(gamePath) / L"install_progress.json";
    std::error_code ec;
    if (fs::removeChild(_gameFolder, progressFile.filename().native(), progressFile.native(), ec)) {
        LOG_INFO << L"Removed install_progress.json";
    }
}
