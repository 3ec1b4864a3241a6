// Finding and deleting the game's Windows uninstall entry and its game record.
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"

bool GameUninstallHelper::_findUninstallKey(std::wstring& uninstallKeyPath, std::uint32_t& view) {
    uninstallKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexal" + _env +
                       L" App " + _gameNo;
    // The default view first; an entry written by a 32-bit installer lives in the other.
    for (const std::uint32_t candidate : {0u, platform::kKeyWow64_32Key}) {
        platform::RegKey key;
        if (key.open(platform::RegRoot::localMachine, uninstallKeyPath,
                     platform::kKeyRead | candidate) == platform::kErrorSuccess) {
            view = candidate;
            return true;
        }
    }
    view = 0;
    return false;
}

void GameUninstallHelper::_regDeleteKey(platform::RegRoot root, const std::wstring& subKey,
                                        std::uint32_t view) {
    const long status = platform::regDeleteKey(root, subKey, view);
    if (status == platform::kErrorSuccess) {
        LOG_INFO << L"Deleted registry key: " << subKey;
    } else {
        LOG_ERROR << L"Failed to delete registry key: " << subKey << L" (" << status << L")";
    }
}
