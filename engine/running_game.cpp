// Refusing to uninstall while any process runs from inside the game folder.
#include <cwctype>

#include "engine/game_folder_rules.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/path_names.h"
#include "platform/process.h"

namespace {

// Folds A to Z only, as towlower does in the C locale that the program never changes.
std::wstring lowerAscii(std::wstring text) {
    for (auto& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

// The folder's lower-cased plain form with a trailing separator, which keeps a sibling such
// as C:\Games\FooBar from matching C:\Games\Foo; empty for an empty folder name.
std::wstring folderPrefix(const std::wstring& folder) {
    std::wstring prefix = lowerAscii(platform::plainForm(folder));
    if (!prefix.empty() && prefix.back() != platform::fs::kSeparator) {
        prefix.push_back(platform::fs::kSeparator);
    }
    return prefix;
}

}  // namespace

bool GameUninstallHelper::_isGameRunning(const std::wstring& gamePath) const {
    // A process counts when its image lies in the game folder as the record names it or
    // as its open handle resolves it (a game started through a link above its folder).
    // Both sides are compared in their plain forms: the game folder may be given in the
    // extended-length form ("\\?\C:\...").
    const std::wstring prefixes[] = {folderPrefix(gamePath),
                                     folderPrefix(platform::fs::finalPathOf(_gameFolder))};
    bool found = false;
    platform::forEachProcessImage([&](const std::wstring& image) {
        const std::wstring lowered = lowerAscii(platform::plainForm(image));
        for (const std::wstring& prefix : prefixes) {
            if (!prefix.empty() && lowered.compare(0, prefix.size(), prefix) == 0) found = true;
        }
        if (found) LOG_INFO << L"Game process detected: " << image;
        return found;
    });
    return found;
}
