#pragma once
// The program's log: one text file, appended to, UTF-8 with a byte-order mark on a new
// file, one CR LF line per record:
//   2026-12-06 10:58:56.123 INFO  [4242] [GameUninstallHelper::_worker@57] message
// Records above the threshold, or written before init, are neither formatted nor written.
//
//   LOG_INFO << L"Deleted registry key: " << subKey;

#include <filesystem>
#include <sstream>
#include <string>

namespace logging {

enum class Severity {
    none = 0,
    fatal = 1,
    error = 2,
    warning = 3,
    info = 4,
    debug = 5,
    verbose = 6
};

// Sets up the one logger with its threshold and file. The file is opened when the first
// record is written; when that fails, every record is dropped silently.
void init(Severity maxSeverity, const std::wstring& filePath);
// True when a logger exists and lets records of this severity through.
bool isEnabled(Severity severity);
// Removes the logger and closes its file (tests only; the program keeps it to the end).
void shutdown();

// The qualified function name in a compiler's pretty function text:
// "static std::wstring Foo::bar(int)" gives "Foo::bar".
std::string functionName(const char* prettyFunction);
// One formatted line, without its line end, for the given local time in milliseconds.
std::string formatLine(long long epochMillis, Severity severity, unsigned long threadId,
                       const std::string& function, int line, const std::wstring& message);
// Days since 1970-01-01 of a date in the proleptic Gregorian calendar (local time stamps
// are made from the calendar date the C library gives).
long long daysFromCivil(long long year, long long month, long long day);
// UTF-16 (or UTF-32 where wchar_t is 32 bits) to UTF-8; unpaired surrogates become U+FFFD.
std::string toUtf8(const std::wstring& text);

// One record under construction; written when it goes out of scope.
class Record {
public:
    Record(Severity severity, const char* prettyFunction, int line);
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    Record& operator<<(const std::wstring& text);
    Record& operator<<(const wchar_t* text);
    Record& operator<<(const char* text);
    Record& operator<<(const std::filesystem::path& path);
    template <typename Number>
    Record& operator<<(Number value) {
        static_assert(std::is_arithmetic_v<Number>, "only numbers are streamed as such");
        _message << value;
        return *this;
    }

private:
    Severity _severity;
    const char* _function;
    int _line;
    std::wostringstream _message;
};

}  // namespace logging

// A loop that runs at most once rather than an if/else, so that the macro can follow an
// unbraced if without a dangling else. Nothing is evaluated when the record is filtered.
#define GU_LOG(severity)                                                       \
    for (bool gu_log_enabled = ::logging::isEnabled(severity); gu_log_enabled; \
         gu_log_enabled = false)                                               \
    ::logging::Record((severity), __PRETTY_FUNCTION__, __LINE__)

#define LOG_ERROR GU_LOG(::logging::Severity::error)
#define LOG_INFO GU_LOG(::logging::Severity::info)
#define LOG_DEBUG GU_LOG(::logging::Severity::debug)
