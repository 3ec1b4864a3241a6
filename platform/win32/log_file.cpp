#include "platform/log_file.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>

namespace platform {
namespace {

// Owns a C runtime file descriptor and closes it once.
class Descriptor {
public:
    Descriptor() = default;
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    // Closes the descriptor held, if any, and takes fd.
    void reset(int fd = -1) {
        if (_fd >= 0) _close(_fd);
        _fd = fd;
    }
    int get() const { return _fd; }

private:
    int _fd = -1;
};

}  // namespace

struct LogFile::State {
    Descriptor fd;
    std::size_t sizeAtOpen = 0;
};

// A log file that is not open yet.
LogFile::LogFile() : _state(std::make_unique<State>()) {}

// Closes the file through its descriptor's owner.
LogFile::~LogFile() = default;

// Opens for appending, denying other writers: a second writer gets EACCES.
bool LogFile::open(const std::wstring& path) {
    if (isOpen()) return false;
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                  _SH_DENYWR, _S_IREAD | _S_IWRITE) != 0 ||
        fd < 0) {
        return false;
    }
    _state->fd.reset(fd);
    const __int64 size = _filelengthi64(fd);
    if (size < 0) {
        _state->fd.reset();
        return false;
    }
    _state->sizeAtOpen = static_cast<std::size_t>(size);
    return true;
}

// True while the file is held.
bool LogFile::isOpen() const { return _state->fd.get() >= 0; }

// The size the file had when it was opened.
std::size_t LogFile::sizeAtOpen() const { return _state->sizeAtOpen; }

// Writes all bytes, in pieces the C runtime accepts.
bool LogFile::write(const char* data, std::size_t size) {
    if (!isOpen()) return false;
    while (size > 0) {
        const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
        const int written = _write(_state->fd.get(), data, chunk);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace platform
