#include "log/logger.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <regex>
#include <thread>
#include <vector>

#include "platform/log_file.h"
#include "platform/process.h"

namespace fs = std::filesystem;
using logging::Severity;

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::regex kLine(
    R"(^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}) INFO  \[(\d+)\] \[([^ @]+)@(\d+)\] (.*)$)");

// The whole file as bytes; empty when it cannot be read.
std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of a log's text without its BOM; fails the test on a line not ended by CR LF.
std::vector<std::string> splitLines(std::string text) {
    if (text.compare(0, 3, kBom) == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    for (std::size_t end; !text.empty(); text.erase(0, end + 2)) {
        end = text.find("\r\n");
        EXPECT_NE(end, std::string::npos) << "unterminated line: " << text;
        if (end == std::string::npos) break;
        lines.push_back(text.substr(0, end));
        EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    }
    return lines;
}

// Stands in for a program class, so the function name of its records can be checked.
struct SampleHelper {
    // Logs one record as the program does and returns the line it was written on.
    static int _worker() {
        const int line = __LINE__ + 1;
        LOG_INFO << L"Deleted registry key: " << std::wstring(L"Software\\ORBA_qa\\Apps\\") << 77;
        return line;
    }
    // The function name a record written inside a lambda gets.
    static std::string _inLambda() {
        return [] { return logging::functionName(__PRETTY_FUNCTION__); }();
    }
};

class LoggerFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() /
               ("gu_logger_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(_dir);
        fs::create_directories(_dir);
        _log = _dir / "GameUninstaller.log";
    }
    void TearDown() override {
        logging::shutdown();
        fs::remove_all(_dir);
    }
    fs::path _dir;
    fs::path _log;
};

TEST(LoggerFunctionName, KeepsTheQualifiedNameOnly) {
    using logging::functionName;
    EXPECT_EQ(functionName("void GameUninstallHelper::_worker()"), "GameUninstallHelper::_worker");
    EXPECT_EQ(functionName("static std::wstring GameUninstallHelper::_regReadString(const "
                           "std::wstring&, const std::wstring&)"),
              "GameUninstallHelper::_regReadString");
    EXPECT_EQ(functionName("static std::__cxx11::basic_string<wchar_t> A::read(const "
                           "std::__cxx11::basic_string<wchar_t>&)"),
              "A::read");
    EXPECT_EQ(functionName("void onUninstallEvent(const UninstallEvent&)"), "onUninstallEvent");
    EXPECT_EQ(functionName("bool GameUninstallHelper::_deleteGameFolder(const std::wstring&)"),
              "GameUninstallHelper::_deleteGameFolder");
    EXPECT_EQ(functionName("std::map<int, std::pair<int, int> > ns::Box<std::pair<int, int> "
                           ">::put(T) [with T = int]"),
              "ns::Box<std::pair<int, int> >::put");
    EXPECT_EQ(functionName("std::function<void(int)> Foo::make()"), "Foo::make");
    EXPECT_EQ(functionName("bool Foo::operator()(int) const"), "Foo::operator()");
    EXPECT_EQ(functionName("Foo& Foo::operator<<(int)"), "Foo::operator<<");
    EXPECT_EQ(functionName("Foo::operator bool() const"), "Foo::operator bool");
    EXPECT_EQ(functionName("main"), "main");
    EXPECT_EQ(functionName(nullptr), "");
    // What this compiler really gives inside a lambda: the enclosing function.
    EXPECT_EQ(SampleHelper::_inLambda(), "{anonymous}::SampleHelper::_inLambda");
}

TEST(LoggerFormatLine, LaysOutTimeSeverityThreadFunctionAndUtf8Message) {
    using logging::formatLine;
    EXPECT_EQ(formatLine(1796554736123LL, Severity::info, 4242, "GameUninstallHelper::_worker", 57,
                         L"Deleted registry key: Software\\ORBA_qa\\Apps\\77"),
              "2026-12-06 10:58:56.123 INFO  [4242] [GameUninstallHelper::_worker@57] Deleted "
              "registry key: Software\\ORBA_qa\\Apps\\77");
    EXPECT_EQ(formatLine(981173106007LL, Severity::warning, 7, "f", 1, L"게임"),
              "2001-02-03 04:05:06.007 WARN  [7] [f@1] " + std::string(u8"게임"));
    EXPECT_EQ(formatLine(1709251199999LL, Severity::debug, 0, "f", 2, L""),
              "2024-02-29 23:59:59.999 DEBUG [0] [f@2] ");
    EXPECT_EQ(formatLine(946684800000LL, Severity::fatal, 1, "f", 3, L"x"),
              "2000-01-01 00:00:00.000 FATAL [1] [f@3] x");
    const std::pair<Severity, std::string> names[] = {{Severity::none, "NONE "},
                                                      {Severity::error, "ERROR"},
                                                      {Severity::verbose, "VERB "},
                                                      {Severity::info, "INFO "},
                                                      {static_cast<Severity>(9), "NONE "}};
    for (const auto& [severity, name] : names) {
        EXPECT_EQ(formatLine(0, severity, 1, "f", 1, L"m"),
                  "1970-01-01 00:00:00.000 " + name + " [1] [f@1] m");
    }
}

TEST(LoggerToUtf8, EncodesEveryRangeAndReplacesInvalidUnits) {
    using logging::toUtf8;
    EXPECT_EQ(toUtf8(L"plain \x7F"), "plain \x7F");
    EXPECT_EQ(toUtf8(L"\x80\x7FF\x800\xFFFF"), "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(toUtf8(L"게임 삭제"), u8"게임 삭제");
    const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
    const std::wstring unpaired = {wchar_t(0xDE00), L'a', wchar_t(0xD83D)};
    if (sizeof(wchar_t) == 2) {
        EXPECT_EQ(toUtf8(pair), "\xF0\x9F\x98\x80");
        EXPECT_EQ(toUtf8(unpaired),
                  "\xEF\xBF\xBD"
                  "a\xEF\xBF\xBD");
    } else {
        EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0x1F600))), "\xF0\x9F\x98\x80");
        EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0x10FFFF))), "\xF4\x8F\xBF\xBF");
        EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0x110000))), "\xEF\xBF\xBD");
        // Surrogates are not characters in UTF-32, paired or not.
        EXPECT_EQ(toUtf8(pair), "\xEF\xBF\xBD\xEF\xBF\xBD");
        EXPECT_EQ(toUtf8(unpaired),
                  "\xEF\xBF\xBD"
                  "a\xEF\xBF\xBD");
    }
}

TEST_F(LoggerFileTest, WritesOneLocalTimeLinePerRecordWithBomAndCrLf) {
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz != nullptr ? oldTz : "";
    ::setenv("TZ", "GUT-9", 1);  // nine hours ahead of UTC, whatever the host uses
    ::tzset();
    logging::init(Severity::info, _log.wstring());
    EXPECT_FALSE(fs::exists(_log)) << "the file is opened by the first record, not by init";
    const auto before = std::chrono::system_clock::now();
    const int line = SampleHelper::_worker();
    const auto after = std::chrono::system_clock::now();
    logging::shutdown();
    oldTz != nullptr ? ::setenv("TZ", savedTz.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();

    const std::string text = readFile(_log);
    ASSERT_EQ(text.compare(0, 3, kBom), 0);
    const auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[8], std::to_string(platform::currentThreadId()));
    EXPECT_EQ(m[9], "{anonymous}::SampleHelper::_worker");
    EXPECT_EQ(m[10], std::to_string(line));
    EXPECT_EQ(m[11], "Deleted registry key: Software\\ORBA_qa\\Apps\\77");
    std::tm stamp{};
    stamp.tm_year = std::stoi(m[1]) - 1900;
    stamp.tm_mon = std::stoi(m[2]) - 1;
    stamp.tm_mday = std::stoi(m[3]);
    stamp.tm_hour = std::stoi(m[4]);
    stamp.tm_min = std::stoi(m[5]);
    stamp.tm_sec = std::stoi(m[6]);
    const long long utcMillis = (::timegm(&stamp) - 9 * 3600) * 1000LL + std::stoi(m[7]);
    using std::chrono::milliseconds;
    EXPECT_GE(utcMillis,
              std::chrono::duration_cast<milliseconds>(before.time_since_epoch()).count());
    EXPECT_LE(utcMillis,
              std::chrono::duration_cast<milliseconds>(after.time_since_epoch()).count());
}

TEST_F(LoggerFileTest, StreamsTextPathsAndPlainDecimalNumbers) {
    // A global locale that groups digits must not reach the record.
    struct Grouping : std::numpunct<wchar_t> {
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale saved =
        std::locale::global(std::locale(std::locale::classic(), new Grouping));
    logging::init(Severity::info, _log.wstring());
    // Malformed UTF-8 in a path: a stray byte, an overlong form, a surrogate, a cut sequence.
    const fs::path bad(std::string("a\xFF|\xC0\xAF|\xED\xA0\x80|\xE3\x81"));
    LOG_INFO << L"int=" << -42 << L" long=" << -5L << L" ulong=" << 4000000000UL << L" ll="
             << 1234567LL << " char* " << u8"삭제" << static_cast<const char*>(nullptr)
             << static_cast<const wchar_t*>(nullptr) << L" path=" << fs::path(u8"게임/세이브")
             << L" bad=" << bad;
    std::locale::global(saved);
    logging::shutdown();
    const std::string replaced = "\xEF\xBF\xBD";
    const auto lines = splitLines(readFile(_log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(lines[0].find("] ", lines[0].find('@')) + 2),
              u8"int=-42 long=-5 ulong=4000000000 ll=1234567 char* 삭제 path=게임/세이브 bad=a" +
                  replaced + "|" + replaced + "|" + replaced + "|" + replaced);
}

TEST_F(LoggerFileTest, BomOnlyOnAnEmptyFileAndAppendsAcrossRuns) {
    for (const char* message : {"first run", "second run"}) {
        logging::init(Severity::info, _log.wstring());
        LOG_INFO << message;
        logging::shutdown();
    }
    const std::string text = readFile(_log);
    EXPECT_EQ(text.rfind(kBom), 0u) << "one BOM, at the start";
    const auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] first run"), std::string::npos);
    EXPECT_NE(lines[1].find("] second run"), std::string::npos);

    const fs::path empty = _dir / "empty.log", used = _dir / "used.log";
    std::ofstream(empty).close();
    std::ofstream(used, std::ios::binary) << "old\r\n";
    for (const auto& path : {empty, used}) {
        logging::init(Severity::info, path.wstring());
        LOG_ERROR << L"x";
        logging::shutdown();
    }
    EXPECT_EQ(readFile(empty).compare(0, 3, kBom), 0);
    EXPECT_EQ(readFile(used).compare(0, 5, "old\r\n"), 0);
    EXPECT_EQ(readFile(used).find(kBom), std::string::npos);
}

TEST_F(LoggerFileTest, ThresholdSkipsFormattingAndWriting) {
    int evaluated = 0;
    const auto sideEffect = [&evaluated] { return ++evaluated; };
    EXPECT_FALSE(logging::isEnabled(Severity::fatal)) << "no logger before init";
    logging::init(Severity::info, _log.wstring());
    EXPECT_TRUE(logging::isEnabled(Severity::info));
    EXPECT_FALSE(logging::isEnabled(Severity::debug));
    LOG_DEBUG << L"hidden " << sideEffect();
    EXPECT_EQ(evaluated, 0);
    EXPECT_FALSE(fs::exists(_log)) << "nothing logged, no file";

    logging::init(Severity::debug, _log.wstring());
    LOG_DEBUG << L"shown " << sideEffect();
    GU_LOG(Severity::verbose) << L"too detailed " << sideEffect();
    logging::shutdown();
    EXPECT_FALSE(logging::isEnabled(Severity::fatal)) << "no logger after shutdown";
    EXPECT_EQ(evaluated, 1);
    const auto lines = splitLines(readFile(_log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" DEBUG ["), std::string::npos);
    EXPECT_NE(lines[0].find("] shown 1"), std::string::npos);
}

TEST_F(LoggerFileTest, UnopenableFileDropsRecordsAndIsTriedOnce) {
    const fs::path missing = _dir / "missing" / "Logs";
    logging::init(Severity::info, (missing / "a.log").wstring());
    LOG_INFO << L"dropped";
    EXPECT_FALSE(fs::exists(_dir / "missing")) << "the folder is never created";
    fs::create_directories(missing);
    LOG_INFO << L"dropped too";
    EXPECT_FALSE(fs::exists(missing / "a.log"));

    auto holder = std::make_unique<platform::LogFile>();
    ASSERT_TRUE(holder->open(_log.wstring()));
    ASSERT_TRUE(holder->write("held\r\n", 6));
    logging::init(Severity::info, _log.wstring());
    LOG_INFO << L"refused";
    holder.reset();
    LOG_INFO << L"still dropped";
    logging::shutdown();
    EXPECT_EQ(readFile(_log), "held\r\n");
}

TEST_F(LoggerFileTest, SecondWriterIsRefusedUntilTheFirstCloses) {
    auto first = std::make_unique<platform::LogFile>();
    EXPECT_FALSE(first->write("x", 1)) << "not open yet";
    ASSERT_TRUE(first->open(_log.wstring()));
    EXPECT_EQ(first->sizeAtOpen(), 0u);
    ASSERT_TRUE(first->write("12345", 5));
    platform::LogFile second;
    EXPECT_FALSE(second.open(_log.wstring()));
    EXPECT_FALSE(second.isOpen());
    const pid_t child = ::fork();
    if (child == 0) {
        platform::LogFile other;
        ::_exit(other.open(_log.wstring()) ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process got the file";
    first.reset();
    ASSERT_TRUE(second.open(_log.wstring()));
    EXPECT_EQ(second.sizeAtOpen(), 5u);
    ASSERT_TRUE(second.write("678", 3));
    EXPECT_EQ(readFile(_log), "12345678");
}

TEST_F(LoggerFileTest, RecordsFromTwoThreadsStayWholeAndInOrder) {
    logging::init(Severity::info, _log.wstring());
    const auto work = [](int thread) {
        for (int i = 0; i < 200; ++i) LOG_INFO << L"thread " << thread << L" record " << i;
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    logging::shutdown();
    const auto lines = splitLines(readFile(_log));
    ASSERT_EQ(lines.size(), 400u);
    int next[2] = {0, 0};
    const std::regex message(R"(thread ([01]) record (\d+))");
    for (const auto& line : lines) {
        std::smatch m, parts;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
        const std::string text = m[11];
        ASSERT_TRUE(std::regex_match(text, parts, message)) << line;
        EXPECT_EQ(std::stoi(parts[2]), next[std::stoi(parts[1])]++) << line;
    }
    EXPECT_EQ(next[0], 200);
    EXPECT_EQ(next[1], 200);
}

}  // namespace
