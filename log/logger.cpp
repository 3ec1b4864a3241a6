#include "log/logger.h"

#include <atomic>
#include <chrono>
#include <cstdio>
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

// The date of a day counted from 1970-01-01, as year, month and day.
void civilFromDays(long long days, long long& year, long long& month, long long& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

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

// True for characters that can be part of an identifier.
bool isIdentifierChar(char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Past the "operator" keyword at pos and its symbol, so "()" or "<<" are kept in the name.
std::size_t skipOperator(const std::string& text, std::size_t pos) {
    pos += 8;
    if (text.compare(pos, 2, "()") == 0 || text.compare(pos, 2, "[]") == 0) return pos + 2;
    if (pos < text.size() && text[pos] == ' ') return pos + 1;  // conversion, new, delete
    while (pos < text.size() && std::strchr("<>=!+-*/%^&|~,", text[pos]) != nullptr) ++pos;
    return pos;
}

}  // namespace

// Counts by 400-year eras of 146097 days, years starting in March so leap days come last.
long long daysFromCivil(long long year, long long month, long long day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

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

// The last token at template depth 0 before the parameter list's "(".
std::string functionName(const char* prettyFunction) {
    std::string text = prettyFunction != nullptr ? prettyFunction : "";
    // clang writes "(anonymous namespace)" where gcc writes "{anonymous}": one spelling,
    // and no parenthesis before the parameter list.
    static const std::string clangAnonymous = "(anonymous namespace)";
    for (auto at = text.find(clangAnonymous); at != std::string::npos;
         at = text.find(clangAnonymous, at)) {
        text.replace(at, clangAnonymous.size(), "{anonymous}");
    }
    std::size_t start = 0;
    std::size_t pos = 0;
    int depth = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (text.compare(pos, 8, "operator") == 0 &&
            (pos == 0 || !isIdentifierChar(text[pos - 1])) &&
            (pos + 8 == text.size() || !isIdentifierChar(text[pos + 8]))) {
            pos = skipOperator(text, pos);
            continue;
        }
        if (c == '<') ++depth;
        if (c == '>' && depth > 0) --depth;
        if (depth == 0 && c == '(') break;
        if (depth == 0 && c == ' ') start = pos + 1;
        ++pos;
    }
    return text.substr(start, pos - start);
}

// Breaks the local time down by calendar arithmetic alone, so it is the same on every host.
std::string formatLine(long long epochMillis, Severity severity, unsigned long threadId,
                       const std::string& function, int line, const std::wstring& message) {
    static const char* const kNames[] = {"NONE", "FATAL", "ERROR", "WARN", "INFO", "DEBUG", "VERB"};
    const auto index = static_cast<std::size_t>(severity);
    const char* name = index < sizeof(kNames) / sizeof(kNames[0]) ? kNames[index] : "NONE";
    const long long millis = ((epochMillis % 1000) + 1000) % 1000;
    const long long seconds = (epochMillis - millis) / 1000;
    const long long secondOfDay = ((seconds % 86400) + 86400) % 86400;
    long long year = 0, month = 0, day = 0;
    civilFromDays((seconds - secondOfDay) / 86400, year, month, day);
    char stamp[64];
    std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d %-5s [%lu] [",
                  static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                  static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                  static_cast<int>(secondOfDay % 60), static_cast<int>(millis), name, threadId);
    return stamp + function + "@" + std::to_string(line) + "] " + toUtf8(message);
}

// Pairs UTF-16 surrogates where wchar_t is 16 bits; anything not a character becomes U+FFFD.
std::string toUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto codePoint = static_cast<char32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && codePoint >= 0xD800 && codePoint <= 0xDBFF &&
            i + 1 < text.size()) {
            const auto low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
            codePoint = 0xFFFD;
        }
        const int extra = codePoint < 0x80      ? 0
                          : codePoint < 0x800   ? 1
                          : codePoint < 0x10000 ? 2
                                                : 3;
        static const unsigned kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | (codePoint >> (6 * extra)));
        for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) {
            out += static_cast<char>(0x80 | ((codePoint >> shift) & 0x3F));
        }
    }
    return out;
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
