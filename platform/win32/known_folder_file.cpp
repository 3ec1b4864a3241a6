// One file below a known folder, deleted through a handle reached one name at a time.
#include "platform/known_folder_file.h"

#include <filesystem>

#include "platform/win32/handle_ops.h"
#include "platform/win32/known_folder_walk.h"
#include "platform/win32/relative_open.h"

namespace platform {
namespace {

// The file at `path`, opened for deletion without following links and checked through
// its handle: no folder, at the final path its names give. ERROR_SUCCESS with `file` set,
// else the error.
DWORD openCheckedFile(int csidl, const std::wstring& path, win32::HandleOwner& file) {
    win32::ItemFolder place;
    DWORD error = win32::openItemFolder(csidl, path, place);
    if (error != ERROR_SUCCESS) return error;
    win32::RelativeOpen how;
    how.access = DELETE | FILE_READ_ATTRIBUTES;
    how.disposition = win32::kFileOpen;
    how.options = win32::kNonDirectoryFile;
    win32::HandleOwner opened = win32::openRelative(place.folder.get(), place.name, how, error);
    if (!opened.valid()) return error;
    // A link or hard link opened as itself may go: only that name is deleted.
    DWORD attributes = 0;
    if (!win32::isItemAt(opened.get(), false, place.itemPath, attributes)) {
        return win32::kNotWhereExpected;
    }
    file = std::move(opened);
    return ERROR_SUCCESS;
}

}  // namespace

// Deletes the name through the checked handle, clearing a read-only attribute only when the
// deletion is refused for it.
void removeKnownFolderFile(int csidl, const std::wstring& path, std::error_code& ec) {
    ec.clear();
    win32::HandleOwner file;
    DWORD error = openCheckedFile(csidl, path, file);
    if (error == ERROR_SUCCESS) {
        DWORD attributeError = ERROR_SUCCESS;
        error = win32::deleteClearingReadOnly(file.get(), attributeError);
        if (attributeError != ERROR_SUCCESS) {
            throw std::filesystem::filesystem_error(
                "permissions", path,
                std::error_code(static_cast<int>(attributeError), std::system_category()));
        }
    }
    if (error != ERROR_SUCCESS) ec.assign(static_cast<int>(error), std::system_category());
}

}  // namespace platform
