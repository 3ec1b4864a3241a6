// Reading registry text values and the game record, with the codes and lines of a miss.
#include "tests/host/sim_fixture.h"

using platform::RegRoot;
namespace sim = platform::sim;

class GameRecord : public SimTest {};

TEST_F(GameRecord, ReadsTextValuesAsStored) {
    const std::wstring key = L"Software\\T";
    sim::setString(RegRoot::currentUser, 0, key, L"Plain", L"abc");
    sim::setString(RegRoot::currentUser, 0, key, L"Expand", L"%TEMP%\\x", platform::kRegExpandSz);
    sim::setValue(RegRoot::currentUser, 0, key, L"Nuls", 1,
                  sim::utf16Bytes(L"ab") + std::string(6, '\0'));
    sim::setValue(RegRoot::currentUser, 0, key, L"Inner", 1,
                  sim::utf16Bytes(std::wstring(L"a\0b", 3)));
    sim::setValue(RegRoot::currentUser, 0, key, L"Odd", 1, sim::utf16Bytes(L"ab") + "c");
    sim::setValue(RegRoot::currentUser, 0, key, L"Dword", 4, std::string(4, '\1'));
    sim::setValue(RegRoot::currentUser, 0, key, L"Empty", 1, "");
    sim::setValue(RegRoot::currentUser, 0, key, L"OnlyNul", 1, std::string(2, '\0'));

    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Plain"), L"abc");
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Expand"), L"%TEMP%\\x");
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Nuls"), L"ab");
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Inner"), std::wstring(L"a\0b", 3));
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Odd"), L"ab");  // the odd byte is dropped
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Dword"), L"");
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Empty"), L"");
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"OnlyNul"), L"");
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Missing"), L"");
    EXPECT_EQ(EngineTestAccess::regReadString(L"Software\\None", L"Plain"), L"");
    const std::wstring huge(100000, L'x');
    sim::setString(RegRoot::currentUser, 0, key, L"Huge", huge);
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Huge"), huge);
}

TEST_F(GameRecord, ValueChangingSizeBetweenQueriesIsReadAgainOrMissing) {
    const std::wstring key = L"Software\\T";
    sim::setString(RegRoot::currentUser, 0, key, L"V", L"short");
    int queries = 0;
    sim::onValueQuery([&] {
        if (++queries == 1)
            sim::setString(RegRoot::currentUser, 0, key, L"V", L"a much longer text");
    });
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"V"), L"a much longer text");

    // A value that stops being text between the queries is not read as text.
    sim::setValue(RegRoot::currentUser, 0, key, L"T", platform::kRegExpandSz, std::string(4, '\0'));
    sim::onValueQuery(
        [&] { sim::setValue(RegRoot::currentUser, 0, key, L"T", 7, std::string("%\0%\0", 4)); });
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"T"), L"");

    // A value that changes at every query is never returned half-read.
    sim::onValueQuery([&] {
        ++queries;
        sim::setString(RegRoot::currentUser, 0, key, L"V",
                       std::wstring(static_cast<std::size_t>(queries), L'y'));
    });
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"V"), L"");
}

TEST_F(GameRecord, MissingPiecesGiveTheirCodeAndLine) {
    startLog();
    GameUninstallHelper engine(L"77", L"_qa", false);
    EngineTestAccess steps(engine);
    std::wstring path, title, no;
    std::int32_t code = -1;

    EXPECT_FALSE(steps.readGameInfo(path, title, no, code));
    EXPECT_EQ(code, 3);

    setGameRecord(L"_qa", L"77", L"", L"C:\\never", L"");
    sim::setValue(RegRoot::currentUser, 0, recordKey(L"_qa", L"77"), L"GameTitle", 4,
                  std::string(4, 'x'));
    code = -1;
    EXPECT_FALSE(steps.readGameInfo(path, title, no, code));
    EXPECT_EQ(code, 4);
    EXPECT_EQ(path, L"");  // the path is not read after a missing title

    setGameRecord(L"_qa", L"77", L"Space Race", L"", L"");
    sim::setValue(RegRoot::currentUser, 0, recordKey(L"_qa", L"77"), L"GamePath", 1, "");
    code = -1;
    EXPECT_FALSE(steps.readGameInfo(path, title, no, code));
    EXPECT_EQ(code, 3);

    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "ERROR GameUninstallHelper::_readGameInfo: Apps registry not found: "
                  "Software\\ORBA_qa\\Apps\\77",
                  "ERROR GameUninstallHelper::_readGameInfo: GameTitle not found in registry: "
                  "Software\\ORBA_qa\\Apps\\77",
                  "ERROR GameUninstallHelper::_readGameInfo: GamePath not found in registry: "
                  "Software\\ORBA_qa\\Apps\\77"}));
}

TEST_F(GameRecord, CompleteRecordIsReadWithoutALine) {
    startLog(L"");
    const std::wstring folder = (games / "Foo").wstring();
    setGameRecord(L"", L"77", L"Space Race", folder, L"");  // no GameNo: still a record
    GameUninstallHelper engine(L"77", L"", false);
    EngineTestAccess steps(engine);
    std::wstring path, title, no = L"stale";
    std::int32_t code = -1;
    EXPECT_TRUE(steps.readGameInfo(path, title, no, code));
    EXPECT_EQ(code, -1);
    EXPECT_EQ(title, L"Space Race");
    EXPECT_EQ(path, folder);
    EXPECT_EQ(no, L"");
    EXPECT_FALSE(stdfs::exists(logFileFor(L"")));
}
