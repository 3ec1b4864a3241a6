// Which game folders and file names the engine accepts.
#include "engine/game_folder_rules.h"
#include "tests/host/sim_fixture.h"

namespace sim = platform::sim;

class GameFolderRules : public SimTest {};

TEST_F(GameFolderRules, RefusesRootsRelativeAndProtectedPaths) {
    sim::setProtectedFolders({L"/home/user", L"/home/user/.local/share", L"/usr"});
    for (const std::wstring path : {L"", L"/", L"//", L"relative/game", L"game", L"/home", L"/home/user",
                                    L"/home/user/", L"/HOME/USER", L"/home/user/.local", L"/usr",
                                    L"/usr.", L"/usr /", L"/opt/../usr", L"/opt/./game", L"/opt/.../x", L"//home", L"///usr"}) {
        EXPECT_FALSE(isRemovableGameFolder(path)) << utf8(path);
    }
    EXPECT_FALSE(isRemovableGameFolder(std::wstring(L"/opt/game\0/x", 11)));
    for (const std::wstring path : {L"/opt/games/Foo", L"/home/user/Games/Foo", L"/usr/games/Foo",
                                    L"/home/user2", L"/home/user/.local/share/Foo"}) {
        EXPECT_TRUE(isRemovableGameFolder(path)) << utf8(path);
    }
}

TEST_F(GameFolderRules, ComparesAsWindowsDoes) {
    EXPECT_EQ(comparablePath(L"C:\\Program Files\\"), L"C:\\PROGRAM FILES");
    EXPECT_EQ(comparablePath(L"c:/program files./"), L"C:\\PROGRAM FILES");
    // Here "//home" is "/home"; on Windows two leading separators begin a UNC path.
    EXPECT_EQ(comparablePath(L"//home//user/"), L"\\HOME\\USER");
}

TEST_F(GameFolderRules, PlainFileNames) {
    for (const std::wstring name : {L"Space Race.url", L"tmpgamemanifest_77_live.upf", L"VEXALqa", L".url", L"a..b"}) {
        EXPECT_TRUE(isPlainFileName(name)) << utf8(name);
    }
    for (const std::wstring name : {L"", L".", L"..", L" . ", L"a\\b", L"a/b", L"C:x", L"..\\x"}) {
        EXPECT_FALSE(isPlainFileName(name)) << utf8(name);
    }
    EXPECT_FALSE(isPlainFileName(std::wstring(L"a\0b", 3)));
}

TEST_F(GameFolderRules, RefusedGameFolderEndsWithCodeThreeBeforeAnyDeletion) {
    startLog();
    writeFile(localAppData / "precious.txt");
    setGameRecord(L"_qa", L"77", L"T", localAppData.wstring(), L"77");
    EXPECT_EQ(runEngine(L"77", L"_qa").codes, (std::vector<std::int32_t>{Start, GameInfoNotFound}));
    EXPECT_TRUE(stdfs::exists(localAppData / "precious.txt"));
    EXPECT_EQ(logMessages(), std::vector<std::string>{"ERROR GameUninstallHelper::_readGameInfo: GamePath "
                                                      "refused, not a game folder: " +
                                                      localAppData.string()});
}
