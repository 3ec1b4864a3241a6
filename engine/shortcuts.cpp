// Removing the game's Internet shortcuts from the desktop and the Start menu.
#include <algorithm>

#include "engine/game_folder_rules.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/file_system.h"
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

namespace {

// Deletes one shortcut if it is there, with the log texts of its place.
void deleteShortcut(const std::wstring& path, const wchar_t* notFoundText, const wchar_t* deletedText) {
    if (!fs::exists(path)) {
        LOG_DEBUG << notFoundText << path;
        return;
    }
    fs::makeWritable(path);
    std::error_code ec;
    fs::removeItem(path, ec);
    if (!ec) LOG_INFO << deletedText << path;
}

}  // namespace

void GameUninstallHelper::_deleteGameShortcuts(const std::wstring& gameTitle) {
    const std::wstring fileName = _sanitizeFileName(gameTitle) + _env + L".url";
    // The environment token is not cleaned by the sanitiser: a name or folder that would
    // lead out of the shortcut folders is never used. An unknown folder would root the
    // path at the current drive, so that shortcut is skipped.
    if (!isPlainFileName(fileName) || (!_env.empty() && !isPlainFileName(L"VEXAL" + _env))) {
        LOG_ERROR << L"Shortcut name refused: " << fileName;
        return;
    }

    const std::wstring desktop = platform::folderPath(platform::kCsidlDesktopCreate);
    if (desktop.empty()) {
        LOG_ERROR << L"Desktop folder unknown, desktop shortcut left";
    } else {
        deleteShortcut(fs::localSeparators(desktop + L"\\" + fileName), L"Desktop shortcut not found: ",
                       L"Deleted desktop shortcut: ");
    }

    const std::wstring programs = platform::folderPath(platform::kCsidlProgramsCreate);
    if (programs.empty()) {
        LOG_ERROR << L"Start menu folder unknown, start menu shortcut left";
    } else {
        deleteShortcut(fs::localSeparators(programs + L"\\VEXAL" + _env + L"\\" + fileName),
                       L"Start menu shortcut not found: ", L"Deleted start menu shortcut: ");
    }
}
