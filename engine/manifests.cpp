// Removing the platform's two cached manifests of the game.
#include "engine/game_folder_rules.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/known_folder_file.h"
#include "platform/shell.h"

namespace fs = platform::fs;

std::wstring GameUninstallHelper::_manifestZone() const {
    std::wstring zone = _env;
    if (!zone.empty() && zone.front() == L'_') zone.erase(0, 1);
    if (zone == L"RIVA6") return L"DMQS";
    if (!zone.empty()) return zone;
    return L"live";
}

void GameUninstallHelper::_deleteTmpManifest(const std::wstring& recordGameNo) {
    if (recordGameNo.empty()) return;
    const std::wstring localAppData = platform::folderPath(platform::kCsidlLocalAppData);
    const std::wstring fileName =
        L"tmpgamemanifest_" + recordGameNo + L"_" + _manifestZone() + L".upf";
    // An unknown folder would root the path at the current drive, and a record number or
    // zone with separators would lead out of the manifest folder: neither is touched.
    if (localAppData.empty()) {
        LOG_ERROR << L"Local application data folder unknown, tmp manifest left";
        return;
    }
    if (!isPlainFileName(fileName)) {
        LOG_ERROR << L"Tmp manifest name refused: " << fileName;
        return;
    }
    const std::wstring tmpManifestPath =
        fs::localSeparators(localAppData + L"\\VEXAL\\tmpgamemanifest\\" + fileName);
    if (!fs::exists(tmpManifestPath)) return;
    // Made writable and removed only where the folder's own names lead (see the shortcuts).
    std::error_code ec;
    platform::removeKnownFolderFile(platform::kCsidlLocalAppData, tmpManifestPath, ec);
    if (!ec) LOG_INFO << L"Deleted tmp manifest: " << tmpManifestPath;
}

void GameUninstallHelper::_deleteCombinedataManifest(const std::wstring& gamePath) {
    // Through the game folder's handle: once the folder is gone there is nothing to find,
    // whatever has been put at its name since.
    if (_removeFromGameFolder(gamePath, L"combinedata_manifest")) {
        LOG_INFO << L"Deleted combinedata_manifest: "
                 << std::filesystem::path(gamePath) / L"combinedata_manifest";
    }
}
