// Deleting one item through the shell's file operation.
#include <algorithm>

#include "engine/game_uninstall_helper.h"
#include "platform/file_system.h"
#include "platform/shell.h"

bool GameUninstallHelper::_shellDeleteItem(const std::filesystem::path& item) {
    // The shell parses only backslashes as separators.
    std::wstring text = item.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (!platform::shellDeleteItem(text)) return false;
    return !platform::fs::exists(item);
}
