// Registry text values as RegKey::readString reads them, and the game record with the
// code and line of each missing piece.
#include <cstring>

#include "tests/host/sim_fixture.h"

using platform::RegRoot;
namespace sim = platform::sim;

class GameRecord : public SimTest {
protected:
    const std::wstring key = L"Software\\T";
    // readString on key\name (stored as type and bytes unless bytes is null) with at most
    // maxBytes; the status and the text, which starts as "kept".
    std::pair<long, std::wstring> read(std::uint32_t type, const char* bytes, std::size_t size,
                                       std::uint32_t maxBytes = 0xFFFFFFFF) {
        sim::createKey(RegRoot::currentUser, 0, key);
        if (bytes != nullptr)
            sim::setValue(RegRoot::currentUser, 0, key, L"V", type, {bytes, size});
        platform::RegKey open;
        EXPECT_EQ(open.open(RegRoot::currentUser, key, platform::kKeyRead), 0);
        std::wstring text = L"kept";
        const long status = open.readString(L"V", text, maxBytes);
        return {status, text};
    }
};

TEST_F(GameRecord, ReadStringGivesTextAsStoredOrLeavesItsOutputAlone) {
    struct Row {
        std::uint32_t type;
        std::string bytes;
        std::uint32_t maxBytes;
        long status;
        std::wstring text;
    };
    const std::wstring a0b(L"a\0b", 3);
    const Row rows[] = {
        {1, std::string("a\0b\0c\0\0\0", 8), 0xFFFFFFFF, 0, L"abc"},
        {2, std::string("%\0T\0%\0\0\0", 8), 0xFFFFFFFF, 0, L"%T%"},       // not expanded
        {1, std::string("a\0b\0\0\0\0\0\0\0", 10), 0xFFFFFFFF, 0, L"ab"},  // every trailing NUL
        {1, std::string("a\0\0\0b\0", 6), 0xFFFFFFFF, 0, a0b},             // an inner NUL stays
        {1, std::string("a\0b\0c", 5), 0xFFFFFFFF, 0, L"ab"},  // the odd byte is dropped
        {1, std::string("\0\0", 2), 0xFFFFFFFF, 0, L""},
        {1, "", 0xFFFFFFFF, 0, L""},
        {1, std::string("a\0b\0", 4), 4, 0, L"ab"},
        {1, std::string("a\0b\0", 4), 3, platform::kErrorMoreData, L"kept"},
        {4, std::string(4, '\1'), 0xFFFFFFFF, platform::kErrorUnsupportedType, L"kept"},
        {7, std::string("a\0\0\0", 4), 0xFFFFFFFF, platform::kErrorUnsupportedType, L"kept"}};
    for (const auto& row : rows) {
        EXPECT_EQ(read(row.type, row.bytes.data(), row.bytes.size(), row.maxBytes),
                  std::make_pair(row.status, row.text))
            << row.type << " " << row.bytes.size();
    }
    ASSERT_EQ(platform::regDeleteKey(RegRoot::currentUser, key, 0), 0);
    EXPECT_EQ(read(1, nullptr, 0),
              std::make_pair(platform::kErrorFileNotFound, std::wstring(L"kept")));
    const std::wstring huge(100000, L'x');
    sim::setString(RegRoot::currentUser, 0, key, L"Huge", huge);
    EXPECT_EQ(EngineTestAccess::regReadString(key, L"Huge"), huge);
    EXPECT_EQ(EngineTestAccess::regReadString(L"Software\\None", L"Huge"), L"");
}

TEST_F(GameRecord, ValueChangingBetweenQueriesIsReadAgainNeverHalfRead) {
    // (what the value becomes after the first query, at every query, what the read gives)
    const std::tuple<std::uint32_t, bool, long, std::wstring> rows[] = {
        {1, false, 0, L"a much longer text"},                  // grew once
        {7, false, platform::kErrorUnsupportedType, L"kept"},  // stopped being text
        {1, true, platform::kErrorMoreData, L"kept"}};         // never settles
    for (const auto& [type, always, status, text] : rows) {
        sim::setString(RegRoot::currentUser, 0, key, L"V", L"short");
        int queries = 0;
        sim::onValueQuery([&, type = type, always = always] {
            if (++queries == 1 || always) {
                sim::setString(RegRoot::currentUser, 0, key, L"V",
                               always ? std::wstring(queries, L'y') : L"a much longer text", type);
            }
        });
        EXPECT_EQ(read(1, nullptr, 0), std::make_pair(status, text)) << type << always;
        sim::onValueQuery({});
    }
}

TEST_F(GameRecord, MissingPiecesGiveTheirCodeAndLine) {
    startLog();
    // (title, path, code): a DWORD title counts as missing and the path is not read then.
    const std::tuple<const char*, const char*, std::int32_t, const char*> rows[] = {
        {nullptr, nullptr, 3, "Apps registry not found: "},
        {"dword", "C:\\never", 4, "GameTitle not found in registry: "},
        {"Space Race", "", 3, "GamePath not found in registry: "}};
    std::vector<std::string> expected;
    for (const auto& [title, path, code, line] : rows) {
        sim::reset();
        if (title != nullptr)
            setGameRecord(L"_qa", L"77", L"x", std::wstring(path, path + std::strlen(path)), L"");
        if (title != nullptr && std::string(title) == "dword")
            sim::setValue(RegRoot::currentUser, 0, recordKey(L"_qa", L"77"), L"GameTitle", 4,
                          "xxxx");
        GameUninstallHelper engine(L"77", L"_qa", false);
        std::wstring gamePath, gameTitle, no;
        std::int32_t got = -1;
        EXPECT_FALSE(EngineTestAccess(engine).readGameInfo(gamePath, gameTitle, no, got));
        EXPECT_EQ(got, code);
        if (code == 4) {
            EXPECT_EQ(gamePath, L"");
        }
        expected.push_back(std::string("ERROR GameUninstallHelper::_readGameInfo: ") + line +
                           "Software\\ORBA_qa\\Apps\\77");
    }
    EXPECT_EQ(logMessages(), expected);
}

TEST_F(GameRecord, CompleteRecordIsReadWithoutALine) {
    startLog(L"");
    const std::wstring folder = (games / "Foo").wstring();
    setGameRecord(L"", L"77", L"Space Race", folder, L"");  // no GameNo: still a record
    GameUninstallHelper engine(L"77", L"", false);
    std::wstring path, title, no = L"stale";
    std::int32_t code = -1;
    EXPECT_TRUE(EngineTestAccess(engine).readGameInfo(path, title, no, code));
    EXPECT_EQ(std::make_tuple(code, title, path, no),
              std::make_tuple(-1, std::wstring(L"Space Race"), folder, std::wstring()));
    EXPECT_FALSE(stdfs::exists(logFileFor(L"")));
}
