// Reading the game's record: its title, install folder and number as the platform
// stored them below HKEY_CURRENT_USER.
#include <vector>

#include "engine/game_folder_rules.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"

namespace {

// Reads a value's type and size, then its data, once; false when the value changed size
// or stopped being text in between.
bool readTextOnce(const platform::RegKey& key, const std::wstring& valueName, std::wstring& text) {
    std::uint32_t type = 0;
    std::uint32_t bytes = 0;
    (void)key.queryValue(valueName, &type, nullptr, &bytes);  // a missing value leaves type 0
    if ((type != platform::kRegSz && type != platform::kRegExpandSz) || bytes == 0) {
        text.clear();
        return true;
    }
    // Storage for the whole byte count (an odd count has one byte beyond the characters),
    // in UTF-16 units whatever the width of wchar_t.
    std::vector<std::uint16_t> units((bytes + 1) / 2, 0);
    std::uint32_t secondType = 0;
    std::uint32_t secondBytes = bytes;
    const long status = key.queryValue(valueName, &secondType, units.data(), &secondBytes);
    const bool stillText = secondType == platform::kRegSz || secondType == platform::kRegExpandSz;
    if (status != platform::kErrorSuccess || secondBytes != bytes || !stillText) return false;
    text.assign(bytes / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<wchar_t>(units[i]);
    return true;
}

}  // namespace

std::wstring GameUninstallHelper::_regReadString(const std::wstring& subKey,
                                                 const std::wstring& valueName) {
    platform::RegKey key;
    if (key.open(platform::RegRoot::currentUser, subKey, platform::kKeyRead) !=
        platform::kErrorSuccess) {
        return L"";
    }
    // A value that changes size between the size query and the read is read again, a few
    // times; one that keeps changing counts as missing. Nothing half-read is returned.
    std::wstring text;
    bool complete = false;
    for (int attempt = 0; attempt < 3 && !complete; ++attempt) {
        complete = readTextOnce(key, valueName, text);
    }
    key.close();
    if (!complete) return L"";
    while (!text.empty() && text.back() == L'\0') text.pop_back();
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
    // with administrator rights: a folder that is no game's own is never removed.
    if (!isRemovableGameFolder(gamePath)) {
        errorCode = GameInfoNotFound;
        LOG_ERROR << L"GamePath refused, not a game folder: " << gamePath;
        return false;
    }

    recordGameNo = _regReadString(gameRecordKey, L"GameNo");
    return true;
}
