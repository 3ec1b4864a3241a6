// The game-folder rule on the folder's open handle and what the platform tells of the
// protected folders.
#include "engine/game_folder_rules.h"
#include "platform/path_names.h"

namespace {

// The protected folders, each under its final path too, the user's own profile as well.
std::vector<platform::ProtectedFolder> protectedFoldersUnderAllNames() {
    std::vector<platform::ProtectedFolder> kept;
    for (auto folder : platform::protectedFolders()) {
        std::vector<std::wstring> own = folder.own;
        for (const auto& name : own) folder.own.push_back(platform::finalPathName(name));
        kept.push_back(folder);
        folder.path = platform::finalPathName(folder.path);
        kept.push_back(folder);
    }
    return kept;
}

}  // namespace

bool openRemovableGameFolder(const std::wstring& path, platform::fs::OpenItem& folder) {
    folder.reset();
    // The text alone first: nothing is opened by a name the rules refuse as written.
    if (!isGameFolderName(path, {}, {})) return false;
    const std::vector<platform::ProtectedFolder> kept = protectedFoldersUnderAllNames();
    if (!isGameFolderName(path, {platform::longPathName(path)}, kept)) return false;
    std::error_code ec;
    if (!platform::fs::openItem(path, folder, ec)) {
        if (platform::fs::isNotFound(ec)) return true;  // nothing there: nothing to remove
        throw std::filesystem::filesystem_error("exists", std::filesystem::path(path), ec);
    }
    // The clean-up steps reach into the game folder through this handle, so it must be a
    // folder of its own, and it is judged again where the handle leads (links above it and
    // mapped drives resolved).
    if (platform::fs::kindOf(folder) == platform::fs::ItemKind::directory &&
        isGameFolderName(path, {platform::fs::finalPathOf(folder)}, kept)) {
        return true;
    }
    folder.reset();
    return false;
}
