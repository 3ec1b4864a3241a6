// The game-folder rule on what the platform tells of the folder and the protected folders.
#include "engine/game_folder_rules.h"
#include "platform/file_system.h"
#include "platform/path_names.h"

namespace {

// True when the item at path is a link itself. Throws "exists" (through the existence
// test) when its status cannot be read: the run then ends as for any unreadable status.
bool isLink(const std::wstring& path) {
    if (!platform::fs::exists(path)) return false;
    return platform::fs::itemKind(path) == platform::fs::ItemKind::link;
}

}  // namespace

bool isRemovableGameFolder(const std::wstring& path) {
    // The text alone first: the platform is asked about no name the rules refuse as written.
    if (!isGameFolderName(path, {}, {})) return false;
    std::vector<platform::ProtectedFolder> kept;
    for (const auto& folder : platform::protectedFolders()) {
        kept.push_back(folder);
        kept.push_back({platform::finalPathName(folder.path), folder.guard});
    }
    // The same folder under its other names: long names for short ones, and the place
    // that links above it or a mapped drive lead to. The clean-up steps reach into the
    // game folder by name, so a game folder that is a link would let them work in the
    // link's target; the removal itself never enters it.
    return isGameFolderName(path, {platform::longPathName(path), platform::finalPathName(path)},
                            kept) &&
           !isLink(path);
}
