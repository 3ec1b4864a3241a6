#pragma once
// Deleting one file below a known folder of the user (the desktop, the Start menu's
// programs, the local application data folder): folders that the user's own programs can
// rearrange while this program deletes as administrator.

#include <string>
#include <system_error>

namespace platform {

// Makes the file at `path`, which lies below folderPath(csidl), writable and removes it, as
// fs::makeWritable and then a removal of that one item would: throws "permissions" (naming
// `path`) when a read-only attribute cannot be cleared, and reports a failed removal in ec.
// A file that is not where `path` says counts as a failed removal and is left as it is. On
// Windows the known folder is opened through whatever links lead to it and must lie in the
// user's profile as the system records it (the user's own registry names it); then each
// name below it from the folder before without following links: every folder must be a
// plain folder and the file no folder, each at the final path its names give, and the file
// is deleted through its handle, so a planted link leads the deletion nowhere. A link or
// hard link at the file's own name loses only that name.
void removeKnownFolderFile(int csidl, const std::wstring& path, std::error_code& ec);

}  // namespace platform
