// The log's UTF-8 where wchar_t has 16 bits: characters past U+FFFF are surrogate pairs,
// joined when written and made when read.
#include <gtest/gtest.h>

#include "log/logger.h"
#include "platform/shell.h"
#include "tests/win/test_support.h"

namespace {

TEST(LogText, PairsSurrogatesBothWays) {
    const std::pair<std::wstring, std::string> rows[] = {
        {{wchar_t(0xD83D), wchar_t(0xDE00)}, "\xF0\x9F\x98\x80"},
        {{wchar_t(0xDBFF), wchar_t(0xDFFF)}, "\xF4\x8F\xBF\xBF"},
        {{wchar_t(0xDE00), L'a', wchar_t(0xD83D)},
         "\xEF\xBF\xBD"
         "a\xEF\xBF\xBD"},
        {{wchar_t(0xD83D), wchar_t(0xE000)}, "\xEF\xBF\xBD\xEE\x80\x80"}};
    for (const auto& [wide, utf8] : rows) EXPECT_EQ(logging::toUtf8(wide), utf8);

    // The log is only ever opened below the local application data folder.
    const gu_test::ScratchFolder folder(platform::folderPath(platform::kCsidlLocalAppData));
    logging::init(logging::Severity::info, folder / L"a.log");
    LOG_INFO << "\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBF";  // read as UTF-8, written back as UTF-8
    logging::shutdown();
    const std::string text = gu_test::readFile(folder / L"a.log");
    EXPECT_EQ(text.substr(text.find("] ", text.find('@')) + 2),
              "\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBF\r\n");
}

}  // namespace
