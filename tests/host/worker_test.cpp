// The worker's order, its final events and its exception handlers, over whole runs.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/startup.h"

#include "tests/host/sim_fixture.h"

using platform::RegRoot;
namespace sim = platform::sim;

class Worker : public SimTest {
protected:
    // A complete installed game "Space Race", number 77, for env.
    stdfs::path installGame(const std::wstring& env) {
        const stdfs::path folder = games / "SpaceRace";
        writeFile(folder / "bin" / "game.exe");
        writeFile(folder / ".vexal_temp" / "part.bin");
        writeFile(folder / "install_progress.json");
        writeFile(folder / "combinedata_manifest");
        setGameRecord(env, L"77", L"Space Race", folder.wstring(), L"77");
        sim::createKey(
            RegRoot::localMachine, 0,
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexal" + env + L" App 77");
        return folder;
    }
};

TEST_F(Worker, SuccessfulRunRemovesEverythingInOrder) {
    startLog();
    const stdfs::path folder = installGame(L"_qa");
    const stdfs::path manifest =
        localAppData / "VEXAL" / "tmpgamemanifest" / "tmpgamemanifest_77_qa.upf";
    writeFile(manifest);
    writeFile(desktop / "Space Race_qa.url");
    writeFile(programs / "VEXAL_qa" / "Space Race_qa.url");

    const Run run = runEngine(L"77", L"_qa");
    EXPECT_EQ(run.codes, (std::vector<std::int32_t>{Start, Success}));
    EXPECT_EQ(run.messages, (std::vector<std::wstring>{L"", L"Space Race"}));
    EXPECT_EQ(run.gameNos, (std::vector<std::wstring>{L"77", L"77"}));
    EXPECT_FALSE(stdfs::exists(folder));
    EXPECT_FALSE(stdfs::exists(manifest));
    EXPECT_FALSE(stdfs::exists(desktop / "Space Race_qa.url"));
    EXPECT_FALSE(stdfs::exists(programs / "VEXAL_qa" / "Space Race_qa.url"));
    EXPECT_TRUE(stdfs::exists(programs / "VEXAL_qa"));  // the Start menu folder stays
    EXPECT_FALSE(sim::keyExists(RegRoot::currentUser, 0, recordKey(L"_qa", L"77")));
    const std::string f = folder.string();
    EXPECT_EQ(
        logMessages(),
        (std::vector<std::string>{
            "INFO GameUninstallHelper::_deleteInstallTempFiles: Removed .vexal_temp: " + f +
                "/.vexal_temp",
            "INFO GameUninstallHelper::_deleteInstallTempFiles: Removed install_progress.json",
            "INFO GameUninstallHelper::_deleteTmpManifest: Deleted tmp manifest: " +
                manifest.string(),
            "INFO GameUninstallHelper::_deleteGameShortcuts: Deleted desktop shortcut: " +
                (desktop / "Space Race_qa.url").string(),
            "INFO GameUninstallHelper::_deleteGameShortcuts: Deleted start menu shortcut: " +
                (programs / "VEXAL_qa" / "Space Race_qa.url").string(),
            "INFO GameUninstallHelper::_regDeleteKey: Deleted registry key: "
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexal_qa App 77",
            "INFO GameUninstallHelper::_regDeleteKey: Deleted registry key: "
            "Software\\ORBA_qa\\Apps\\77",
        }));
}

TEST_F(Worker, EarlyEndsStopBeforeAnyDeletion) {
    startLog();
    // No record: nothing after the read runs, not even the process walk.
    sim::setProcesses({{L"/x/y.exe"}});
    EXPECT_EQ(runEngine(L"77", L"_qa").codes, (std::vector<std::int32_t>{Start, GameInfoNotFound}));
    EXPECT_EQ(sim::processesOpened(), 0);

    // A game process running: code 7 after its lines, nothing deleted.
    const stdfs::path folder = installGame(L"_qa");
    const std::wstring image = (folder / "bin" / "game.exe").wstring();
    sim::setProcesses({{image}});
    EXPECT_EQ(runEngine(L"77", L"_qa").codes, (std::vector<std::int32_t>{Start, GameRunning}));
    EXPECT_TRUE(stdfs::exists(folder / ".vexal_temp"));
    const auto lines = logMessages();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1],
              "INFO GameUninstallHelper::_isGameRunning: Game process detected: " + utf8(image));
    EXPECT_EQ(lines[2],
              "ERROR GameUninstallHelper::_worker: Game is currently running, cannot uninstall: " +
                  folder.string());
}

TEST_F(Worker, FolderThatStaysFailsAfterLeftoversAndKeepsKeys) {
    const stdfs::path folder = installGame(L"");
    sim::injectFault(sim::FsOp::remove, (folder / "bin" / "game.exe").wstring(),
                     std::make_error_code(std::errc::device_or_resource_busy));
    EXPECT_EQ(runEngine(L"77", L"").codes, (std::vector<std::int32_t>{Start, Fail}));
    EXPECT_FALSE(stdfs::exists(folder / ".vexal_temp"));
    EXPECT_FALSE(stdfs::exists(folder / "install_progress.json"));
    EXPECT_TRUE(stdfs::exists(folder / "bin" / "game.exe"));
    EXPECT_TRUE(sim::keyExists(RegRoot::currentUser, 0, recordKey(L"", L"77")));
    EXPECT_TRUE(
        sim::keyExists(RegRoot::localMachine, 0,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexal App 77"));
}

TEST_F(Worker, ExceptionsBecomeFailWithTheirLine) {
    startLog();
    const stdfs::path folder = installGame(L"_qa");
    // A read-only file whose attribute cannot be cleared aborts the removal through the
    // handler.
    stdfs::permissions(folder / "bin" / "game.exe", stdfs::perms::owner_read);
    sim::injectFault(sim::FsOp::makeWritable, (folder / "bin" / "game.exe").wstring(),
                     std::make_error_code(std::errc::permission_denied));
    EXPECT_EQ(runEngine(L"77", L"_qa").codes, (std::vector<std::int32_t>{Start, Fail}));
    const auto lines = logMessages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(
        lines.back().rfind("ERROR GameUninstallHelper::_worker: [_worker] filesystem_error: ", 0),
        0u);
    EXPECT_NE(lines.back().find(" path1=" + (folder / "bin" / "game.exe").string() + " path2="),
              std::string::npos);

    // An exception from the callback on Start is handled like one from a step.
    GameUninstallHelper engine(L"77", L"_qa", false);
    std::vector<std::int32_t> codes;
    engine.onEvent = [&codes](const UninstallEvent& event) {
        codes.push_back(event.code);
        if (event.code == Start) throw std::runtime_error("callback broke");
    };
    engine.start();
    engine.join();
    EXPECT_EQ(codes, (std::vector<std::int32_t>{Start, Fail}));
    EXPECT_EQ(logMessages().back(),
              "ERROR GameUninstallHelper::_worker: [_worker] std::exception: callback broke");
}

TEST_F(Worker, UninstallEntryOnlyIn32BitViewIsDeletedThere) {
    startLog();
    const stdfs::path folder = games / "G";
    writeFile(folder / "a");
    setGameRecord(L"", L"77", L"G", folder.wstring(), L"");
    const std::wstring entry =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexal App 77";
    sim::createKey(RegRoot::localMachine, platform::kKeyWow64_32Key, entry);
    sim::createKey(RegRoot::currentUser, 0,
                   recordKey(L"", L"77") + L"\\Sub");  // refused: has a subkey

    EXPECT_EQ(runEngine(L"77", L"").codes, (std::vector<std::int32_t>{Start, Success}));
    EXPECT_FALSE(sim::keyExists(RegRoot::localMachine, platform::kKeyWow64_32Key, entry));
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "INFO GameUninstallHelper::_regDeleteKey: Deleted registry key: " + utf8(entry),
                  "ERROR GameUninstallHelper::_regDeleteKey: Failed to delete registry key: "
                  "Software\\ORBA\\Apps\\77 (5)"}));
}

TEST_F(Worker, DestroyingAStartedEngineWaitsForItsWorker) {
    std::vector<std::int32_t> codes;
    {
        GameUninstallHelper engine(L"77", L"_qa", false);
        engine.onEvent = [&codes](const UninstallEvent& event) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // still running at the end
            codes.push_back(event.code);
        };
        engine.start();
    }
    EXPECT_EQ(codes, (std::vector<std::int32_t>{Start, GameInfoNotFound}));
}

TEST_F(Worker, ExitFromTheWorkerWhileTheGlobalOwnsTheEngineEndsWithTheStatusAsked) {
    // The shell ends the process from inside the callback; the engine is then destroyed
    // during exit on its own worker thread, which must neither join itself nor abort.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            g_helper = std::make_shared<GameUninstallHelper>(L"77", L"_qa", false);
            g_helper->onEvent = [](const UninstallEvent& event) {
                if (event.code != Start) std::exit(0);
            };
            g_helper->start();
            for (;;) pause();
        },
        testing::ExitedWithCode(0), "");
}
