#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

// The UTF-8 form of a path held as UTF-32 text; invalid code points become U+FFFD.
std::string utf8Path(const std::wstring& path) {
    std::string out;
    for (const wchar_t unit : path) {
        auto c = static_cast<char32_t>(unit);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static const unsigned kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
        for (int i = extra - 1; i >= 0; --i) {
            out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
        }
    }
    return out;
}

}  // namespace

struct LogFile::State {
    int fd = -1;
    std::size_t sizeAtOpen = 0;
};

// A log file that is not open yet.
LogFile::LogFile() : _state(std::make_unique<State>()) {}

// Closes the file, which also releases its lock.
LogFile::~LogFile() {
    if (_state->fd >= 0) ::close(_state->fd);
}

// Opens for appending and takes an exclusive lock, so a second writer is refused.
bool LogFile::open(const std::wstring& path) {
    if (isOpen()) return false;
    const int fd = ::open(utf8Path(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat info {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    _state->fd = fd;
    _state->sizeAtOpen = static_cast<std::size_t>(info.st_size);
    return true;
}

// True while the file is held.
bool LogFile::isOpen() const { return _state->fd >= 0; }

// The size the file had when it was opened.
std::size_t LogFile::sizeAtOpen() const { return _state->sizeAtOpen; }

// Writes all bytes, resuming after partial writes and interruptions.
bool LogFile::write(const char* data, std::size_t size) {
    if (!isOpen()) return false;
    while (size > 0) {
        const ssize_t written = ::write(_state->fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace platform
