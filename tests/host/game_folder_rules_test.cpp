// Which game folders and file names the engine accepts.
#include "engine/game_folder_rules.h"
#include "platform/path_names.h"

#include "tests/host/sim_fixture.h"

namespace sim = platform::sim;

class GameFolderRules : public SimTest {};

TEST_F(GameFolderRules, RefusesRootsRelativeAndProtectedPaths) {
    sim::setProtectedFolders({L"/home/user", L"/home/user/.local/share", L"/usr"});
    for (const std::wstring path :
         {L"", L"/", L"//", L"relative/game", L"game", L"/home", L"/home/user", L"/home/user/",
          L"/HOME/USER", L"/home/user/.local", L"/usr", L"/usr.", L"/usr /", L"/opt/../usr",
          L"/opt/./game", L"/opt/.../x", L"//home", L"///usr"}) {
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
    for (const std::wstring name :
         {L"Space Race.url", L"tmpgamemanifest_77_live.upf", L"VEXALqa", L".url", L"a..b"}) {
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
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"ERROR GameUninstallHelper::_readGameInfo: GamePath "
                                       "refused, not a game folder: " +
                                       localAppData.string()});
}

TEST_F(GameFolderRules, RefusesEveryOtherNameOfAProtectedFolder) {
    const stdfs::path outside = root / "outside";
    writeFile(outside / "install_progress.json");
    writeFile(games / "Game" / "a.pak");
    writeFile(outside / "Moved" / "a.pak");
    stdfs::create_directory_symlink(outside, games / "GameLink");
    stdfs::create_directory_symlink(root, games / "ToRoot");
    stdfs::create_directory_symlink(outside, games / "MovedLibrary");
    sim::setShortName(L"/short/DESKTO~1", desktop.wstring());
    sim::setShortName(L"/short/GAMES~1", games.wstring());
    sim::setProtectedFolders(
        {desktop.wstring(), localAppData.wstring(), programs.wstring(), L"/usr"});
    struct Case {
        std::wstring path;
        bool removable;
    };
    const Case cases[] = {
        {L"/short/DESKTO~1", false},                        // a short name of a protected folder
        {L"/short/GAMES~1/../AppData", false},              // ".." stays refused
        {L"/short/GAMES~1/Game", true},                     // a short name of a game
        {(games / "GameLink").wstring(), false},            // the game folder is a link
        {(games / "ToRoot" / "Desktop").wstring(), false},  // a link above leads to one
        {(games / "ToRoot" / "Games" / "Game").wstring(), true},  // ... or to a game
        {(games / "MovedLibrary" / "Moved").wstring(), true},     // a library moved elsewhere
        {L"/opt/game:stream", false},
        {L"/opt/ga*e", false},
        {L"/opt/gam?", false},
        {L"/opt/<game>", false},
        {L"/opt/\"game\"", false},
        {L"/opt/a|b", false},
        {L"/opt/ga\tme", false},
        {L"/opt/game\r\n/x", false},
        {L"//server/C$/Games", false},
        {L"//server/ADMIN$", false},  // administrative shares
    };
    for (const auto& c : cases)
        EXPECT_EQ(isRemovableGameFolder(c.path), c.removable) << utf8(c.path);
}

TEST_F(GameFolderRules, GameFolderThatIsALinkIsRefusedBeforeAnyStepReachesThroughIt) {
    startLog();
    const stdfs::path outside = root / "outside";
    writeFile(outside / ".vexal_temp" / "chunk.tmp", "kept");
    writeFile(outside / "install_progress.json", "kept");
    writeFile(outside / "combinedata_manifest", "kept");
    stdfs::create_directory_symlink(outside, games / "G");
    setGameRecord(L"_qa", L"77", L"T", (games / "G").wstring(), L"77");
    EXPECT_EQ(runEngine(L"77", L"_qa").codes, (std::vector<std::int32_t>{Start, GameInfoNotFound}));
    for (const char* name :
         {".vexal_temp/chunk.tmp", "install_progress.json", "combinedata_manifest"}) {
        EXPECT_TRUE(stdfs::exists(outside / name)) << name;
    }
    EXPECT_TRUE(stdfs::is_symlink(games / "G"));
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"ERROR GameUninstallHelper::_readGameInfo: GamePath "
                                       "refused, not a game folder: " +
                                       (games / "G").string()});
}

TEST_F(GameFolderRules, GuardsReachAsFarAsTheirKind) {
    using platform::FolderGuard;
    const std::wstring local = localAppData.wstring();
    sim::setProtectedFolders({L"/usr"});
    sim::addProtectedFolder(L"/win", FolderGuard::wholeTree);
    sim::addProtectedFolder(L"/users", FolderGuard::children);
    sim::addProtectedFolder(local, FolderGuard::platformData);
    struct Case {
        std::wstring path;
        bool removable;
    };
    const Case cases[] = {
        {L"/usr/games/Foo", true},          // inside an ordinary protected folder
        {L"/win/Vendor/Tools", false},      // anywhere in the Windows folder
        {L"/WIN/a/b/c/d", false},           //
        {L"/users/other", false},           // a profile, Default, Public
        {L"/users/Public", false},          //
        {L"/users/other/Games/Foo", true},  // a game inside a profile
        {L"/usersX/Foo", true},             // a sibling with a longer name
        {local + L"/VEXAL", false},         // the platform's own folders
        {local + L"/vexal_qa", false},      //
        {local + L"/VEXALqa/Logs", false},  //
        {local + L"/VEXAL/tmpgamemanifest", false},
        {local + L"/VEXAL/Games/Foo", true},  // a game installed below them
        {local + L"/VEXAL/Logs/Foo", true},   //
        {local + L"/Other/Logs", true},       //
        {L"//nas/Games$/Foo", true},          // a hidden share of a user
        {L"//nas/c$/Games", false},           // administrative shares
        {L"//nas/Admin$/Foo", false},         //
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isRemovableGameFolder(c.path), c.removable) << utf8(c.path);
    }
}

TEST_F(GameFolderRules, ExtendedLengthFormsHaveAPlainForm) {
    const std::pair<std::wstring, std::wstring> forms[] = {
        {L"\\\\?\\C:\\Games\\X", L"C:\\Games\\X"},
        {L"\\\\?\\UNC\\nas\\share\\X", L"\\\\nas\\share\\X"},
        {L"\\\\?\\unc\\nas\\share", L"\\\\nas\\share"},
        {L"\\\\?\\Volume{1}\\X", L"\\\\?\\Volume{1}\\X"},  // no plain form: kept, and refused
        {L"\\\\.\\C:\\Games", L"\\\\.\\C:\\Games"},
        {L"C:\\Games\\X", L"C:\\Games\\X"},
    };
    for (const auto& [extended, plain] : forms) EXPECT_EQ(platform::plainForm(extended), plain);
}
