// The log writer: function names, the line layout, UTF-8 both ways, the file's BOM and
// appends, the threshold, an unopenable file and records from two threads.
#include "log/logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <locale>
#include <regex>
#include <thread>

#include "platform/process.h"

namespace fs = std::filesystem;
using logging::Severity;

namespace {

// The message after "] [function@line] " of each CR LF line, the BOM left out.
std::vector<std::string> messages(const fs::path& log) {
    std::ifstream in(log, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> out;
    for (std::size_t at = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0, end;
         (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = text.substr(at, end - at);
        if (line.find('@') != std::string::npos)
            out.push_back(line.substr(line.find("] ", line.find('@')) + 2));
    }
    return out;
}

// Logs one record as the program's classes do; returns the line it is written on.
struct SampleHelper {
    static int _worker() {
        LOG_INFO << L"Deleted registry key: " << std::wstring(L"Software\\ORBA_qa\\Apps\\") << 77;
        return __LINE__ - 1;
    }
};

class LoggerFile : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        logging::shutdown();
        fs::remove_all(dir);
    }
    const fs::path dir = fs::temp_directory_path() / ("gu_logger_" + std::to_string(::getpid()));
    const fs::path log = dir / "GameUninstaller.log";
};

TEST(Logger, FunctionNameKeepsTheQualifiedNameOnly) {
    const std::pair<const char*, const char*> rows[] = {
        {"void GameUninstallHelper::_worker()", "GameUninstallHelper::_worker"},
        {"static std::__cxx11::basic_string<wchar_t> A::read(const std::wstring&)", "A::read"},
        {"void onUninstallEvent(const UninstallEvent&)", "onUninstallEvent"},
        {"std::map<int, std::pair<int, int> > ns::Box<std::pair<int, int> >::put(T) [with T = int]",
         "ns::Box<std::pair<int, int> >::put"},
        {"std::function<void(int)> Foo::make()", "Foo::make"},
        {"bool Foo::operator()(int) const", "Foo::operator()"},
        {"Foo& Foo::operator<<(int)", "Foo::operator<<"},
        {"Foo::operator bool() const", "Foo::operator bool"},
        {"void Foo::_operator()", "Foo::_operator"},  // not the keyword inside a name
        {"void (anonymous namespace)::f()", "{anonymous}::f"},
        {"main", "main"},
        {nullptr, ""}};
    for (const auto& [pretty, name] : rows) EXPECT_EQ(logging::functionName(pretty), name);
}

TEST(Logger, FormatLineLaysOutLocalTimeSeverityThreadFunctionAndMessage) {
    const std::tuple<long long, Severity, const wchar_t*, std::string> rows[] = {
        {1796554736123LL, Severity::info, L"a\\b", "2026-12-06 10:58:56.123 INFO  [7] [f@5] a\\b"},
        {981173106007LL, Severity::warning, L"게임",
         "2001-02-03 04:05:06.007 WARN  [7] [f@5] 게임"},
        {1709251199999LL, Severity::debug, L"", "2024-02-29 23:59:59.999 DEBUG [7] [f@5] "},
        {946684800000LL, Severity::fatal, L"x", "2000-01-01 00:00:00.000 FATAL [7] [f@5] x"},
        {4107542400000LL, Severity::info, L"x", "2100-03-01 00:00:00.000 INFO  [7] [f@5] x"},
        {-1LL, Severity::error, L"x", "1969-12-31 23:59:59.999 ERROR [7] [f@5] x"},
        {0, Severity::verbose, L"x", "1970-01-01 00:00:00.000 VERB  [7] [f@5] x"},
        {0, static_cast<Severity>(9), L"x", "1970-01-01 00:00:00.000 NONE  [7] [f@5] x"}};
    for (const auto& [millis, severity, message, line] : rows)
        EXPECT_EQ(logging::formatLine(millis, severity, 7, "f", 5, message), line);
}

TEST(Logger, DaysFromCivilCountsFrom1970AcrossLeapDaysAndCenturies) {
    const std::tuple<long long, long long, long long, long long> rows[] = {
        {1970, 1, 1, 0},      {1969, 12, 31, -1},  {2000, 2, 29, 11016}, {2000, 3, 1, 11017},
        {2024, 1, 31, 19753}, {2100, 3, 1, 47541}, {1600, 1, 1, -135140}};
    for (const auto& [year, month, day, days] : rows)
        EXPECT_EQ(logging::daysFromCivil(year, month, day), days) << year << "-" << month;
}

TEST(Logger, ToUtf8EncodesEveryRangeAndReplacesWhatIsNoCharacter) {
    const std::pair<std::wstring, std::string> rows[] = {
        {L"plain \x7F", "plain \x7F"},
        {L"\x80\x7FF\x800\xFFFF", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {std::wstring(1, wchar_t(0x1F600)), "\xF0\x9F\x98\x80"},
        {std::wstring(1, wchar_t(0x10FFFF)), "\xF4\x8F\xBF\xBF"},
        {std::wstring(1, wchar_t(0x110000)), "\xEF\xBF\xBD"},
        {{wchar_t(0xDE00), L'a', wchar_t(0xD83D)},
         "\xEF\xBF\xBD"
         "a\xEF\xBF\xBD"}};
    for (const auto& [wide, utf8] : rows) EXPECT_EQ(logging::toUtf8(wide), utf8);
}

TEST_F(LoggerFile, StreamsUtf8TextPathsAndPlainNumbersEachMalformedSequenceOneReplacement) {
    struct Grouping : std::numpunct<wchar_t> {  // a global locale must not group digits
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale saved =
        std::locale::global(std::locale(std::locale::classic(), new Grouping));
    const std::pair<std::string, std::string> utf8Rows[] = {
        {"\xF0\x9F\x98\x80 \xC2\xA9", "\xF0\x9F\x98\x80 \xC2\xA9"},  // 4- and 2-byte sequences
        {"a\x80\xBF"
         "b",
         "a\xEF\xBF\xBD\xEF\xBF\xBD"
         "b"},  // stray continuation bytes
        {"\xFF|\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80",
         "\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD"},
        {"\xE3\x81", "\xEF\xBF\xBD"}};  // cut short
    logging::init(Severity::info, log.wstring());
    LOG_INFO << -42 << L" " << 4000000000UL << L" " << 1234567LL
             << static_cast<const char*>(nullptr) << static_cast<const wchar_t*>(nullptr) << L" "
             << fs::path("게임/세이브");
    for (const auto& row : utf8Rows) LOG_INFO << row.first.c_str() << L"|" << fs::path(row.first);
    std::locale::global(saved);
    logging::shutdown();
    std::vector<std::string> expected = {"-42 4000000000 1234567 게임/세이브"};
    for (const auto& row : utf8Rows) expected.push_back(row.second + "|" + row.second);
    EXPECT_EQ(messages(log), expected);
}

TEST_F(LoggerFile, WritesLocalTimeLinesWithOneBomAndAppendsAcrossRuns) {
    setenv("TZ", "GUT-9", 1);  // nine hours ahead of UTC, whatever the host uses
    tzset();
    const std::time_t before = std::time(nullptr) + 9 * 3600;
    int line = 0;
    for (int run = 0; run < 2; ++run) {
        logging::init(Severity::info, log.wstring());
        EXPECT_FALSE(run == 0 && fs::exists(log)) << "the file is opened by the first record";
        line = SampleHelper::_worker();
        logging::shutdown();
    }
    unsetenv("TZ");
    tzset();
    std::ifstream in(log, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::time_t after = std::time(nullptr) + 9 * 3600;
    char hours[2][16];
    std::strftime(hours[0], sizeof hours[0], "%Y-%m-%d %H", std::gmtime(&before));
    std::strftime(hours[1], sizeof hours[1], "%Y-%m-%d %H", std::gmtime(&after));
    const std::string record =
        "(" + std::string(hours[0]) + "|" + hours[1] + R"():\d\d:\d\d\.\d{3} INFO  \[)" +
        std::to_string(platform::currentThreadId()) +
        R"(\] \[\{anonymous\}::SampleHelper::_worker@)" + std::to_string(line) +
        R"(\] Deleted registry key: Software\\ORBA_qa\\Apps\\77\r\n)";
    EXPECT_TRUE(std::regex_match(text, std::regex("\xEF\xBB\xBF(" + record + "){2}"))) << text;
}

TEST_F(LoggerFile, NoBomOnAFileThatHasContent) {
    std::ofstream(log, std::ios::binary) << "old\r\n";
    logging::init(Severity::info, log.wstring());
    LOG_ERROR << L"x";
    logging::shutdown();
    EXPECT_EQ(messages(log), (std::vector<std::string>{"x"}));  // the first line lacks a '@'
    EXPECT_EQ(std::ifstream(log).get(), 'o');
}

TEST_F(LoggerFile, ThresholdSkipsFormattingAndWriting) {
    int evaluated = 0;
    EXPECT_FALSE(logging::isEnabled(Severity::fatal)) << "no logger before init";
    logging::init(Severity::info, log.wstring());
    LOG_DEBUG << ++evaluated;
    EXPECT_FALSE(fs::exists(log)) << "nothing logged, no file";
    logging::init(Severity::debug, log.wstring());
    LOG_DEBUG << L"shown " << ++evaluated;
    GU_LOG(Severity::verbose) << ++evaluated;
    logging::shutdown();
    EXPECT_FALSE(logging::isEnabled(Severity::fatal)) << "no logger after shutdown";
    EXPECT_EQ(messages(log), (std::vector<std::string>{"shown 1"}));
}

TEST_F(LoggerFile, UnopenableFileIsTriedOnceAndItsFolderNeverMade) {
    logging::init(Severity::info, (dir / "Logs" / "a.log").wstring());
    LOG_INFO << L"dropped";
    EXPECT_FALSE(fs::exists(dir / "Logs"));
    fs::create_directories(dir / "Logs");
    LOG_INFO << L"dropped too";
    EXPECT_FALSE(fs::exists(dir / "Logs" / "a.log"));
}

TEST_F(LoggerFile, RecordsFromTwoThreadsStayWholeAndInOrder) {
    logging::init(Severity::info, log.wstring());
    const auto work = [](int thread) {
        for (int i = 0; i < 200; ++i) LOG_INFO << thread << L" " << i;
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    logging::shutdown();
    int next[2] = {0, 0};
    for (const auto& message : messages(log)) {
        const int thread = message[0] - '0';
        ASSERT_EQ(message, std::to_string(thread) + " " + std::to_string(next[thread]++));
    }
    EXPECT_EQ(next[0] + next[1], 400);
}

}  // namespace
