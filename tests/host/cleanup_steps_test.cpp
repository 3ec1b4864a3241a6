// The smaller clean-up steps: install leftovers, manifests, shortcuts, running game.
#include "platform/shell.h"
#include "tests/host/sim_fixture.h"

namespace sim = platform::sim;

class CleanupSteps : public SimTest {};

TEST_F(CleanupSteps, InstallLeftovers) {
    startLog();
    GameUninstallHelper engine(L"77", L"_qa", false);
    EngineTestAccess steps(engine);
    const stdfs::path folder = games / "G";
    stdfs::create_directories(folder);
    steps.deleteInstallTempFiles(folder.wstring());  // neither present: nothing at all
    EXPECT_TRUE(logMessages().empty());

    writeFile(folder / ".vexal_temp");  // a file in place of the folder
    writeFile(folder / "install_progress.json");
    stdfs::permissions(folder / "install_progress.json", stdfs::perms::owner_read);
    steps.deleteInstallTempFiles(folder.wstring() + L"/");  // a trailing separator joins once
    EXPECT_FALSE(stdfs::exists(folder / ".vexal_temp"));
    EXPECT_FALSE(stdfs::exists(folder / "install_progress.json"));

    // A temp folder that stays still gets its line; a progress file that stays gets none.
    writeFile(folder / ".vexal_temp" / "busy");
    writeFile(folder / "install_progress.json");
    sim::injectFault(sim::FsOp::remove, (folder / ".vexal_temp" / "busy").wstring(),
                     std::make_error_code(std::errc::device_or_resource_busy));
    sim::injectFault(sim::FsOp::remove, (folder / "install_progress.json").wstring(),
                     std::make_error_code(std::errc::device_or_resource_busy));
    steps.deleteInstallTempFiles(folder.wstring());
    EXPECT_TRUE(stdfs::exists(folder / ".vexal_temp" / "busy"));
    const std::string temp = (folder / ".vexal_temp").string();
    EXPECT_EQ(
        logMessages(),
        (std::vector<std::string>{
            "INFO GameUninstallHelper::_deleteInstallTempFiles: Removed .vexal_temp: " + temp,
            "INFO GameUninstallHelper::_deleteInstallTempFiles: Removed install_progress.json",
            "ERROR GameUninstallHelper::_removeDirectoriesRecursive: Remove file failed: " + temp +
                "/busy",
            "ERROR GameUninstallHelper::_removeDirectoriesRecursive: Remove dir failed: " + temp,
            "INFO GameUninstallHelper::_deleteInstallTempFiles: Removed .vexal_temp: " + temp,
        }));
}

TEST_F(CleanupSteps, ManifestZoneAndTmpManifest) {
    const std::pair<const wchar_t*, const wchar_t*> zones[] = {
        {L"", L"live"},        {L"_", L"live"},   {L"RIVA6", L"DMQS"}, {L"_RIVA6", L"DMQS"},
        {L"_riva6", L"riva6"}, {L"__qa", L"_qa"}, {L"qa", L"qa"},      {L"_RIVA66", L"RIVA66"}};
    for (const auto& [env, zone] : zones) {
        GameUninstallHelper engine(L"1", env, false);
        EXPECT_EQ(EngineTestAccess(engine).manifestZone(), zone) << utf8(env);
    }

    startLog();
    GameUninstallHelper engine(L"77", L"_qa", false);
    EngineTestAccess steps(engine);
    const stdfs::path folder = localAppData / "VEXAL" / "tmpgamemanifest";
    writeFile(folder / "tmpgamemanifest_501_qa.upf");
    writeFile(folder / "tmpgamemanifest_502_qa.upf");
    stdfs::permissions(folder / "tmpgamemanifest_501_qa.upf", stdfs::perms::owner_read);
    steps.deleteTmpManifest(L"501");
    steps.deleteTmpManifest(L"");               // nothing looked at
    steps.deleteTmpManifest(L"404");            // absent: no line
    steps.deleteTmpManifest(L"..\\..\\..\\x");  // would leave the folder: refused
    EXPECT_FALSE(stdfs::exists(folder / "tmpgamemanifest_501_qa.upf"));
    EXPECT_TRUE(stdfs::exists(folder / "tmpgamemanifest_502_qa.upf"));
    const auto lines = logMessages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "INFO GameUninstallHelper::_deleteTmpManifest: Deleted tmp manifest: " +
                            (folder / "tmpgamemanifest_501_qa.upf").string());
    EXPECT_EQ(lines[1].rfind(
                  "ERROR GameUninstallHelper::_deleteTmpManifest: Tmp manifest name refused", 0),
              0u);

    // Without the local application data folder nothing is touched.
    sim::setFolder(platform::kCsidlLocalAppData, L"");
    steps.deleteTmpManifest(L"502");
    EXPECT_TRUE(stdfs::exists(folder / "tmpgamemanifest_502_qa.upf"));
}

TEST_F(CleanupSteps, CombinedataManifestFileOrFolder) {
    startLog();
    GameUninstallHelper engine(L"77", L"", false);
    EngineTestAccess steps(engine);
    const stdfs::path folder = games / "G";
    const stdfs::path asFile = games / "H";
    writeFile(folder / "combinedata_manifest" / "part");
    writeFile(asFile / "combinedata_manifest");  // a file: only the whole-tree step takes it
    for (const auto& game : {folder, folder, asFile}) {  // the second time: gone, no line
        steps.deleteCombinedataManifest(game.wstring());
    }
    EXPECT_FALSE(stdfs::exists(folder / "combinedata_manifest"));
    EXPECT_FALSE(stdfs::exists(asFile / "combinedata_manifest"));
    const std::string line =
        "INFO GameUninstallHelper::_deleteCombinedataManifest: Deleted combinedata_manifest: ";
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{line + (folder / "combinedata_manifest").string(),
                                        line + (asFile / "combinedata_manifest").string()}));
}

TEST_F(CleanupSteps, Shortcuts) {
    EXPECT_EQ(_sanitizeFileName(L"A:B/C?"), L"ABC");
    EXPECT_EQ(_sanitizeFileName(L"|\\?*<\":>/"), L"");
    EXPECT_EQ(_sanitizeFileName(L"게임 v1.2\t!"), L"게임 v1.2\t!");

    startLog();
    GameUninstallHelper engine(L"77", L"_qa", false);
    EngineTestAccess steps(engine);
    writeFile(desktop / "ABC_qa.url");
    writeFile(programs / "VEXAL_qa" / "ABC_qa.url");
    stdfs::permissions(desktop / "ABC_qa.url", stdfs::perms::owner_read);
    steps.deleteGameShortcuts(L"A:B/C?");
    EXPECT_FALSE(stdfs::exists(desktop / "ABC_qa.url"));
    EXPECT_FALSE(stdfs::exists(programs / "VEXAL_qa" / "ABC_qa.url"));

    // Absent shortcuts cost debug lines only, which the info threshold keeps out.
    steps.deleteGameShortcuts(L"Gone");
    EXPECT_EQ(logMessages().size(), 2u);

    // An environment token that would lead out of the shortcut folders is refused.
    writeFile(root / "victim.url");
    GameUninstallHelper hostile(L"77", L"/../../victim", false);
    EngineTestAccess(hostile).deleteGameShortcuts(L"");
    EXPECT_TRUE(stdfs::exists(root / "victim.url"));
    EXPECT_EQ(logMessages().back().rfind(
                  "ERROR GameUninstallHelper::_deleteGameShortcuts: Shortcut name refused", 0),
              0u);
}

TEST_F(CleanupSteps, RunningGameByFolderPrefix) {
    GameUninstallHelper engine(L"77", L"", false);
    EngineTestAccess steps(engine);
    const auto running = [&](std::vector<sim::Process> processes, const std::wstring& folder) {
        sim::setProcesses(std::move(processes));
        return steps.isGameRunning(folder);
    };
    // Host paths use "/" where Windows has "\\"; the rule is the same.
    EXPECT_TRUE(running({{L"/Games/Foo/bin/foo.exe"}}, L"/Games/Foo"));
    EXPECT_FALSE(running({{L"/Games/FooBar/x.exe"}}, L"/Games/Foo"));
    EXPECT_TRUE(running({{L"/Games/Foo/a.exe"}}, L"/Games/Foo/"));
    EXPECT_TRUE(running({{L"/GAMES/Foo/a.exe"}}, L"/games/foo"));
    EXPECT_FALSE(running({{L"/Games/\u00C9t\u00E9/a.exe"}}, L"/Games/\u00E9t\u00E9"));
    EXPECT_FALSE(running({{L"/Games/Foo/a.exe", false}}, L"/Games/Foo"));  // cannot be opened
    EXPECT_FALSE(running({{L"/Games//Foo/a.exe"}}, L"/Games/Foo"));
    const std::wstring deep = L"/Games/Foo/" + std::wstring(400, L'd') + L"/x.exe";
    EXPECT_TRUE(running({{deep}}, L"/Games/Foo"));

    // The walk stops at the first match.
    EXPECT_TRUE(
        running({{L"/Other/a.exe"}, {L"/Games/Foo/1.exe"}, {L"/Games/Foo/2.exe"}}, L"/Games/Foo"));
    EXPECT_EQ(sim::processesOpened(), 2);
    sim::setProcessListAvailable(false);
    EXPECT_FALSE(steps.isGameRunning(L"/Games/Foo"));
}
