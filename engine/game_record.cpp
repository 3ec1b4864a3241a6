// Reading the game's record: its title, install folder and number as the platform
// stored them below HKEY_CURRENT_USER.
#include "engine/game_folder_rules.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"

// Empty when the key or value is missing, not text or keeps changing: readString leaves
// the text alone then.
std::wstring GameUninstallHelper::_regReadString(const std::wstring& subKey,
                                                 const std::wstring& valueName) {
    platform::RegKey key;
    std::wstring text;
    if (key.open(platform::RegRoot::currentUser, subKey, platform::kKeyRead) ==
        platform::kErrorSuccess) {
        (void)key.readString(valueName, text);
    }
    return text;
}

bool GameUninstallHelper::_readGameInfo(std::wstring& gamePath, std::wstring& gameTitle,
                                        std::wstring& recordGameNo, std::int32_t& errorCode) {
    const std::wstring gameRecordKey = _gameRecordKey();
    {
        platform::RegKey key;
        if (key.open(platform::RegRoot::currentUser, gameRecordKey, platform::kKeyRead) !=
            platform::kErrorSuccess) {
            errorCode = GameInfoNotFound;
            LOG_ERROR << L"Apps registry not found: " << gameRecordKey;
            return false;
        }
    }

    gameTitle = _regReadString(gameRecordKey, L"GameTitle");
    if (gameTitle.empty()) {
        errorCode = GameTitleNotFound;
        LOG_ERROR << L"GameTitle not found in registry: " << gameRecordKey;
        return false;
    }

    gamePath = _regReadString(gameRecordKey, L"GamePath");
    if (gamePath.empty()) {
        errorCode = GameInfoNotFound;
        LOG_ERROR << L"GamePath not found in registry: " << gameRecordKey;
        return false;
    }
    // The folder comes from a registry hive the user can write, and this program runs
    // with administrator rights: a folder that is no game's own is never removed. It is
    // judged once, through the handle that every later step uses.
    if (!openRemovableGameFolder(gamePath, _gameFolder)) {
        errorCode = GameInfoNotFound;
        LOG_ERROR << L"GamePath refused, not a game folder: " << gamePath;
        return false;
    }

    recordGameNo = _regReadString(gameRecordKey, L"GameNo");
    return true;
}
