// Removing the game's Internet shortcuts from the desktop and the Start menu.
#include <algorithm>

#include "engine/game_folder_rules.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/known_folder_file.h"
#include "platform/shell.h"

namespace fs = platform::fs;

std::wstring _sanitizeFileName(const std::wstring& name) {
    // The characters Windows forbids in file names.
    static const std::wstring forbidden = L"|\\?*<\":>/";
    std::wstring cleaned;
    cleaned.reserve(name.size());
    std::copy_if(name.begin(), name.end(), std::back_inserter(cleaned),
                 [](wchar_t c) { return forbidden.find(c) == std::wstring::npos; });
    return cleaned;
}

void GameUninstallHelper::_deleteGameShortcuts(const std::wstring& gameTitle) {
    const std::wstring fileName = _sanitizeFileName(gameTitle) + _env + L".url";
    // The environment token is not cleaned by the sanitiser: a name or folder that would
    // lead out of the shortcut folders is never used.
    if (!isPlainFileName(fileName) || (!_env.empty() && !isPlainFileName(L"VEXAL" + _env))) {
        LOG_ERROR << L"Shortcut name refused: " << fileName;
        return;
    }

    struct Shortcut {
        int folder;
        std::wstring below;  // what stands between the folder and the file name
        const wchar_t* notFound;
        const wchar_t* deleted;
    };
    const Shortcut shortcuts[] = {
        {platform::kCsidlDesktopCreate, L"\\", L"Desktop shortcut not found: ",
         L"Deleted desktop shortcut: "},
        {platform::kCsidlProgramsCreate, L"\\VEXAL" + _env + L"\\",
         L"Start menu shortcut not found: ", L"Deleted start menu shortcut: "},
    };
    for (const auto& shortcut : shortcuts) {
        // An unknown folder would root the path at the current drive: that one is skipped.
        const std::wstring folder = platform::folderPath(shortcut.folder);
        if (folder.empty()) {
            LOG_ERROR << L"Shortcut folder unknown (" << shortcut.folder << L"), shortcut left";
            continue;
        }
        const std::wstring path = fs::localSeparators(folder + shortcut.below + fileName);
        if (!fs::exists(path)) {
            LOG_DEBUG << shortcut.notFound << path;
            continue;
        }
        // Made writable and removed only where the folder's own names lead, never through
        // a link planted in the user's folder: a file refused there stays, with no line.
        std::error_code ec;
        platform::removeKnownFolderFile(shortcut.folder, path, ec);
        if (!ec) LOG_INFO << shortcut.deleted << path;
    }
}
