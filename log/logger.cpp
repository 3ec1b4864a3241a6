// The log writer: one logger, its file opened by the first record, each record written whole.
#include "log/logger.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <locale>
#include <memory>
#include <mutex>

#include "platform/log_file.h"
#include "platform/process.h"

namespace logging {
namespace {

struct Logger {
    Severity threshold = Severity::none;
    std::wstring path;
    platform::LogFile file;
    bool openTried = false;
};

std::mutex gMutex;  // guards gLogger and every write to its file
std::unique_ptr<Logger> gLogger;
std::atomic<int> gThreshold{-1};  // -1 while there is no logger

// The current local time as milliseconds counted from 1970-01-01 00:00 local time.
long long localNowMillis() {
    const long long utcMillis = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
    const std::time_t seconds = static_cast<std::time_t>(utcMillis / 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const long long days = daysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1LL, local.tm_mday);
    const long long localSeconds =
        ((days * 24 + local.tm_hour) * 60 + local.tm_min) * 60 + local.tm_sec;
    return localSeconds * 1000 + utcMillis % 1000;
}

// Appends one code point to out as UTF-16 or UTF-32, depending on the width of wchar_t.
void appendWide(std::wstring& out, char32_t codePoint) {
    if (sizeof(wchar_t) == 2 && codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        out += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
        out += static_cast<wchar_t>(codePoint);
    }
}

// UTF-8 (ASCII included) to wide text; each malformed sequence becomes one U+FFFD.
std::wstring fromUtf8(const char* text, std::size_t size) {
    static const char32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::wstring out;
    out.reserve(size);
    for (std::size_t i = 0; i < size;) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC0 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF8 ? 4
                                                 : 0;
        char32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
        std::size_t used = 1;
        while (length > 1 && used < length && i + used < size &&
               (static_cast<unsigned char>(text[i + used]) & 0xC0) == 0x80) {
            codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + used]) & 0x3Fu);
            ++used;
        }
        const bool valid = length != 0 && used == length && codePoint >= kLowest[length] &&
                           codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
        appendWide(out, valid ? codePoint : 0xFFFD);
        i += used;
    }
    return out;
}

}  // namespace

// Replaces any logger with a new one; its file is opened by the first record written.
void init(Severity maxSeverity, const std::wstring& filePath) {
    auto logger = std::make_unique<Logger>();
    logger->threshold = maxSeverity;
    logger->path = filePath;
    std::lock_guard<std::mutex> lock(gMutex);
    gLogger = std::move(logger);
    gThreshold = static_cast<int>(maxSeverity);
}

// Lock-free, as every log statement asks it first.
bool isEnabled(Severity severity) { return static_cast<int>(severity) <= gThreshold.load(); }

// Drops the logger, closing its file; records after this are not written.
void shutdown() {
    std::lock_guard<std::mutex> lock(gMutex);
    gThreshold = -1;
    gLogger.reset();
}

// Numbers are written in the classic locale, so no digit grouping ever appears.
Record::Record(Severity severity, const char* prettyFunction, int line)
    : _severity(severity), _function(prettyFunction), _line(line) {
    _message.imbue(std::locale::classic());
}

// Formats and writes the record, opening the file on the first record; never throws.
Record::~Record() {
    try {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gLogger || static_cast<int>(_severity) > static_cast<int>(gLogger->threshold)) {
            return;
        }
        Logger& logger = *gLogger;
        if (!logger.openTried) {
            logger.openTried = true;
            if (logger.file.open(logger.path) && logger.file.sizeAtOpen() == 0) {
                logger.file.write("\xEF\xBB\xBF", 3);
            }
        }
        if (!logger.file.isOpen()) return;
        const std::string text =
            formatLine(localNowMillis(), _severity, platform::currentThreadId(),
                       functionName(_function), _line, _message.str()) +
            "\r\n";
        logger.file.write(text.data(), text.size());
    } catch (...) {
        // A record that cannot be written is dropped; the program goes on.
    }
}

// Appends wide text as it is.
Record& Record::operator<<(const std::wstring& text) {
    _message << text;
    return *this;
}

// Appends a wide C string; a null pointer appends nothing.
Record& Record::operator<<(const wchar_t* text) {
    if (text != nullptr) _message << text;
    return *this;
}

// Appends ASCII or UTF-8 text; a null pointer appends nothing.
Record& Record::operator<<(const char* text) {
    if (text != nullptr) _message << fromUtf8(text, std::strlen(text));
    return *this;
}

// Appends the path's native text (UTF-8 on Linux).
Record& Record::operator<<(const std::filesystem::path& path) {
#ifdef _WIN32
    _message << path.native();
#else
    _message << fromUtf8(path.native().data(), path.native().size());
#endif
    return *this;
}

}  // namespace logging
