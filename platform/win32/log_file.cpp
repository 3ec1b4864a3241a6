// The log file, reached from the local application data folder one name at a time.
#include "platform/log_file.h"

#include <windows.h>

#include "platform/shell.h"
#include "platform/win32/handle_owner.h"
#include "platform/win32/known_folder_walk.h"
#include "platform/win32/relative_open.h"

namespace platform {
namespace {

using win32::HandleOwner;

// The log file in `folder`, opened for appending only with other writers refused: an
// existing file as it is, else a new one. Never "open or create" in one step: through a
// link that leads nowhere that would create the link's target, while creating only where
// no item of that name exists refuses every link.
HandleOwner openOrCreateLog(HANDLE folder, const std::wstring& name) {
    win32::RelativeOpen how;
    how.access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    how.share = FILE_SHARE_READ;
    how.disposition = win32::kFileOpen;
    how.options = win32::kNonDirectoryFile;
    DWORD error = ERROR_SUCCESS;
    HandleOwner file = win32::openRelative(folder, name, how, error);
    if (file.valid() || error != ERROR_FILE_NOT_FOUND) return file;
    how.disposition = win32::kFileCreate;
    return win32::openRelative(folder, name, how, error);
}

}  // namespace

struct LogFile::State {
    HandleOwner file;
    std::size_t sizeAtOpen = 0;
};

// A log file that is not open yet.
LogFile::LogFile() : _state(std::make_unique<State>()) {}

// Closes the file through its handle's owner.
LogFile::~LogFile() = default;

// Reaches the Logs folder from the local application data folder without following
// links, then opens or creates the file in it: a plain file with one name only, at its
// expected final path.
bool LogFile::open(const std::wstring& path) {
    if (isOpen()) return false;
    win32::ItemFolder place;
    if (win32::openItemFolder(kCsidlLocalAppData, path, place) != ERROR_SUCCESS) return false;
    HandleOwner file = openOrCreateLog(place.folder.get(), place.name);
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;  // the number of names and the size
    if (!file.valid() || !win32::isItemAt(file.get(), false, place.itemPath, attributes) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
        standard.NumberOfLinks != 1) {
        return false;
    }
    _state->file = std::move(file);
    _state->sizeAtOpen = static_cast<std::size_t>(standard.EndOfFile.QuadPart);
    return true;
}

// True while the file is held.
bool LogFile::isOpen() const { return _state->file.valid(); }

// The size the file had when it was opened.
std::size_t LogFile::sizeAtOpen() const { return _state->sizeAtOpen; }

// Writes all bytes; with append access only, every write lands at the file's end.
bool LogFile::write(const char* data, std::size_t size) {
    if (!isOpen()) return false;
    while (size > 0) {
        const DWORD chunk = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(_state->file.get(), data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace platform
