// The log writer: function names, the line layout, UTF-8 both ways, the file's BOM and
// appends, the threshold, an unopenable file and records from two threads.
#include <ctime>
#include <locale>
#include <regex>
#include <thread>

#include "platform/process.h"
#include "tests/host/fixture.h"

using logging::Severity;

TEST(Logger, PureRows) {
    const std::pair<const char*, const char*> names[] = {
        // clang-format off
        {"void GameUninstallHelper::_worker()", "GameUninstallHelper::_worker"}, {"main", "main"},
        {"static std::__cxx11::basic_string<wchar_t> A::read(const std::wstring&)", "A::read"},
        {"void onUninstallEvent(const UninstallEvent&)", "onUninstallEvent"}, {nullptr, ""},
        {"std::map<int, std::pair<int, int> > ns::Box<std::pair<int, int> >::put(T) [with T = int]", "ns::Box<std::pair<int, int> >::put"},
        {"std::function<void(int)> Foo::make()", "Foo::make"}, {"bool Foo::operator()(int) const", "Foo::operator()"},
        {"Foo& Foo::operator<<(int)", "Foo::operator<<"}, {"Foo::operator bool() const", "Foo::operator bool"},
        {"void Foo::_operator()", "Foo::_operator"}, {"Foo& Foo::operator=(const Foo&)", "Foo::operator="}, {"void (anonymous namespace)::f()", "{anonymous}::f"}};
    // clang-format on
    for (const auto& [pretty, name] : names) EXPECT_EQ(logging::functionName(pretty), name);
    const std::tuple<long long, Severity, const wchar_t*, std::string> lines[] = {
        // clang-format off
        {1796554736123LL, Severity::info, L"a\\b", "2026-12-06 10:58:56.123 INFO  [7] [f@5] a\\b"},
        {981173106007LL, Severity::warning, L"게임", "2001-02-03 04:05:06.007 WARN  [7] [f@5] 게임"},
        {1709251199999LL, Severity::debug, L"", "2024-02-29 23:59:59.999 DEBUG [7] [f@5] "},
        {946684800000LL, Severity::fatal, L"x", "2000-01-01 00:00:00.000 FATAL [7] [f@5] x"},
        {4107542400000LL, Severity::info, L"x", "2100-03-01 00:00:00.000 INFO  [7] [f@5] x"},
        {-1LL, Severity::error, L"x", "1969-12-31 23:59:59.999 ERROR [7] [f@5] x"},
        {0, Severity::verbose, L"x", "1970-01-01 00:00:00.000 VERB  [7] [f@5] x"},
        {0, static_cast<Severity>(9), L"x", "1970-01-01 00:00:00.000 NONE  [7] [f@5] x"}};
    // clang-format on
    for (const auto& [millis, severity, message, line] : lines) {
        EXPECT_EQ(logging::formatLine(millis, severity, 7, "f", 5, message), line);
    }
    const std::tuple<long long, long long, long long, long long> days[] = {
        {1970, 1, 1, 0},      {1969, 12, 31, -1},  {2000, 2, 29, 11016}, {2000, 3, 1, 11017},
        {2024, 1, 31, 19753}, {2100, 3, 1, 47541}, {1600, 1, 1, -135140}};
    for (const auto& [y, m, d, count] : days) EXPECT_EQ(logging::daysFromCivil(y, m, d), count);
    const std::pair<std::wstring, std::string> utf8[] = {
        // clang-format off
        {L"plain \x7F", "plain \x7F"}, {L"\x80\x7FF\x800\xFFFF", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {std::wstring(1, wchar_t(0x1F600)), "\xF0\x9F\x98\x80"}, {std::wstring(1, wchar_t(0x10FFFF)), "\xF4\x8F\xBF\xBF"},
        {std::wstring(1, wchar_t(0x110000)), "\xEF\xBF\xBD"}, {{wchar_t(0xDE00), L'a', wchar_t(0xD83D)}, "\xEF\xBF\xBD" "a\xEF\xBF\xBD"}};
    // clang-format on
    for (const auto& [wide, bytes] : utf8) EXPECT_EQ(logging::toUtf8(wide), bytes);
}

// Numbers as such whatever the global locale, null texts as nothing, UTF-8 texts and paths
// with each malformed sequence as one replacement character.
TEST_F(HostTest, LoggerStreams) {
    struct Grouping : std::numpunct<wchar_t> {
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale saved =
        std::locale::global(std::locale(std::locale::classic(), new Grouping));
    const std::pair<std::string, std::string> rows[] = {
        // clang-format off
        {"\xF0\x9F\x98\x80 \xC2\xA9", "\xF0\x9F\x98\x80 \xC2\xA9"},  // 4- and 2-byte sequences
        {"a\x80\xBF" "b", "a\xEF\xBF\xBD\xEF\xBF\xBD" "b"},  // stray continuation bytes
        {"\xFF|\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80", "\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD"},
        {"\xE3\x81", "\xEF\xBF\xBD"}};  // cut short
    // clang-format on
    LOG_INFO << -42 << L" " << 4000000000UL << L" " << 1234567LL
             << static_cast<const char*>(nullptr) << static_cast<const wchar_t*>(nullptr) << L" "
             << stdfs::path("게임/세이브");
    Lines expected = {
        "INFO HostTest_LoggerStreams_Test::TestBody: -42 4000000000 1234567 게임/세이브"};
    for (const auto& [in, out] : rows) {
        LOG_INFO << in.c_str() << L"|" << stdfs::path(in);
        expected.push_back("INFO HostTest_LoggerStreams_Test::TestBody: " + out + "|" + out);
    }
    std::locale::global(saved);
    EXPECT_EQ(logLines(), expected);
}

TEST_F(HostTest, LoggerFile) {
    // Local time, the thread, one BOM on a new file, appended to by a second logger.
    setenv("TZ", "GUT-9", 1);  // nine hours ahead of UTC, whatever the host uses
    tzset();
    const std::time_t before = std::time(nullptr) + 9 * 3600;
    const stdfs::path log = local / "VEXALqa" / "Logs" / "GameUninstaller.log";
    int evaluated = 0;
    LOG_DEBUG << ++evaluated;          // below the threshold: neither formatted nor written
    EXPECT_FALSE(stdfs::exists(log));  // the file is opened by the first record
    LOG_INFO << L"first";
    initLogFile(L"_qa");
    LOG_ERROR << L"second";
    logging::shutdown();
    const std::time_t after = std::time(nullptr) + 9 * 3600;
    unsetenv("TZ");
    tzset();
    std::ifstream in(log, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    char hours[2][16];
    std::strftime(hours[0], sizeof hours[0], "%Y-%m-%d %H", std::gmtime(&before));
    std::strftime(hours[1], sizeof hours[1], "%Y-%m-%d %H", std::gmtime(&after));
    const std::string stamp =
        "(" + std::string(hours[0]) + "|" + hours[1] + R"():\d\d:\d\d\.\d{3} )";
    const std::string where = R"( \[)" + std::to_string(platform::currentThreadId()) +
                              R"(\] \[HostTest_LoggerFile_Test::TestBody@\d+\] )";
    EXPECT_TRUE(
        std::regex_match(text, std::regex("\xEF\xBB\xBF" + stamp + "INFO " + where + "first\r\n" +
                                          stamp + "ERROR" + where + "second\r\n")))
        << text;

    EXPECT_FALSE(logging::isEnabled(Severity::fatal));  // no logger
    logging::init(Severity::debug, log.wstring());
    LOG_DEBUG << L"shown " << ++evaluated;
    GU_LOG(Severity::verbose) << ++evaluated;
    // Records from two threads stay whole and in order.
    const auto work = [](int thread) {
        for (int i = 0; i < 200; ++i) LOG_INFO << thread << L" " << i;
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    int next[2] = {0, 0};
    const Lines lines = logLines();
    ASSERT_EQ(lines.size(), 403u);
    EXPECT_EQ(lines[2], "DEBUG HostTest_LoggerFile_Test::TestBody: shown 1");
    EXPECT_EQ(evaluated, 1);
    for (auto line = lines.begin() + 3; line != lines.end(); ++line) {
        const std::string message = line->substr(line->find(": ") + 2);
        const int thread = message[0] - '0';
        ASSERT_EQ(message, std::to_string(thread) + " " + std::to_string(next[thread]++));
    }

    // A file that cannot be opened is tried once, and its folder is never made.
    logging::init(Severity::info, (root / "Logs" / "a.log").wstring());
    LOG_INFO << L"dropped";
    EXPECT_FALSE(stdfs::exists(root / "Logs"));
    stdfs::create_directories(root / "Logs");
    LOG_INFO << L"dropped too";
    EXPECT_FALSE(stdfs::exists(root / "Logs" / "a.log"));
}
