// One file below a known folder on the host: removed by its path, with links refused.
#include "platform/known_folder_file.h"

#include "platform/file_system.h"
#include "platform/shell.h"

namespace platform {

// Refuses the file when it or a folder between it and the known folder is a symbolic
// link, or when it does not lie below that folder; else the general calls do the rest.
void removeKnownFolderFile(int csidl, const std::wstring& path, std::error_code& ec) {
    ec.clear();
    const fs::Path folder = folderPath(csidl);
    fs::Path at = path;
    for (; at != folder && at.has_relative_path(); at = at.parent_path()) {
        if (fs::itemKind(at) == fs::ItemKind::link) {
            ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
            return;
        }
    }
    if (at != folder || at == fs::Path(path)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    fs::makeWritable(path);
    std::filesystem::remove(path, ec);  // a link goes itself, never its target
}

}  // namespace platform
