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

}  // namespace

bool GameUninstallHelper::_isGameRunning(const std::wstring& gamePath) {
    // The trailing separator keeps a sibling such as C:\Games\FooBar from matching C:\Games\Foo.
    // Both sides are compared in their plain forms: the game folder may be given in the
    // extended-length form ("\\?\C:\...").
    std::wstring prefix = lowerAscii(platform::plainForm(gamePath));
    if (!prefix.empty() && prefix.back() != platform::fs::kSeparator) {
        prefix.push_back(platform::fs::kSeparator);
    }

    bool found = false;
    platform::forEachProcessImage([&](const std::wstring& image) {
        const std::wstring lowered = lowerAscii(platform::plainForm(image));
        if (lowered.size() >= prefix.size() && lowered.compare(0, prefix.size(), prefix) == 0) {
            LOG_INFO << L"Game process detected: " << image;
            found = true;
        }
        return found;
    });
    return found;
}
