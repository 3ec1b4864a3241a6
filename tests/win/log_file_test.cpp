// The log under Wine: its file opens only below the local application data folder and lets
// readers in, and its UTF-8 pairs surrogates where wchar_t has 16 bits. Links planted at
// its place, appending and a writer already holding the file are tried end to end.

#include "platform/log_file.h"

#include <algorithm>

#include "platform/win32/handle_owner.h"
#include "tests/win/test_support.h"

namespace {

TEST(LogFile, OpensOnlyAFileOfOneNameBelowTheLocalAppDataFolderAndLetsReadersIn) {
    const gu_test::ScratchFolder scratch(platform::folderPath(platform::kCsidlLocalAppData));
    const std::wstring log = scratch / L"a.log";
    gu_test::writeFile(log);
    std::wstring upper = log;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    const std::wstring outside = gu_test::environment(L"WINDIR") + L"\\gu.log";
    gu_test::writeFile(scratch / L"first.bin");
    ASSERT_TRUE(CreateHardLinkW((scratch / L"linked.log").c_str(), (scratch / L"first.bin").c_str(),
                                nullptr));
    const std::pair<std::wstring, bool> rows[] = {
        {upper, true},                     // the file named in other letter case
        {outside, false},                  // not below the local application data folder
        {scratch / L"linked.log", false},  // a file with a second name
    };
    for (const auto& [path, opens] : rows) {
        platform::LogFile file;
        EXPECT_EQ(file.open(path), opens) << gu_test::narrow(path);
    }
    EXPECT_FALSE(gu_test::present(outside));

    platform::LogFile held, second;
    ASSERT_TRUE(held.open(log));
    EXPECT_FALSE(second.open(log));
    const platform::win32::HandleOwner reader(
        CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader.valid()) << GetLastError();
}

TEST(LogText, PairsSurrogatesBothWays) {
    const std::pair<std::wstring, std::string> rows[] = {
        {{wchar_t(0xD83D), wchar_t(0xDE00)}, "\xF0\x9F\x98\x80"},
        {{wchar_t(0xDBFF), wchar_t(0xDFFF)}, "\xF4\x8F\xBF\xBF"},
        {{wchar_t(0xDE00), L'a', wchar_t(0xD83D)},
         "\xEF\xBF\xBD"
         "a\xEF\xBF\xBD"},
        {{wchar_t(0xD83D), wchar_t(0xE000)}, "\xEF\xBF\xBD\xEE\x80\x80"}};
    for (const auto& [wide, utf8] : rows) EXPECT_EQ(logging::toUtf8(wide), utf8);

    const gu_test::ScratchFolder folder(platform::folderPath(platform::kCsidlLocalAppData));
    logging::init(logging::Severity::info, folder / L"a.log");
    LOG_INFO << "\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBF";  // read as UTF-8, written back as UTF-8
    logging::shutdown();
    const std::string text = gu_test::readFile(folder / L"a.log");
    EXPECT_EQ(text.substr(text.find("] ", text.find('@')) + 2),
              "\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBF\r\n");
}

}  // namespace
