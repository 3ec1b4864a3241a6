// The start-up flow, the launcher hand-off and the reactions to the engine's events.
#include <fstream>

#include "app/launcher_handoff.h"
#include "app/startup.h"
#include "app/uninstall_messages.h"
#include "platform/ui.h"
#include "tests/host/sim_fixture.h"

using platform::RegRoot;
namespace sim = platform::sim;

namespace {
const std::wstring kQuestion =
    L"해당 게임을 삭제하시겠습니까?\n삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다.";
const std::wstring kFailure = L"게임 삭제에 실패하였습니다.";
const std::wstring kLauncherKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VexalLauncher";
}  // namespace

class Startup : public SimTest {
protected:
    // Runs the program and waits for its worker, as process exit would.
    int run(const std::wstring& commandLine) {
        const int status = runUninstaller(commandLine);
        if (g_helper) g_helper->join();
        g_helper.reset();
        return status;
    }
    void installLauncher(const std::wstring& env, const std::wstring& location,
                         std::uint32_t type = 1) {
        sim::setValue(RegRoot::localMachine, 0, kLauncherKey + env, L"InstallLocation", type,
                      sim::utf16Bytes(location) + std::string(2, '\0'));
    }
};

TEST_F(Startup, NoArgumentsAsksNothingElse) {
    sim::queueMessageBoxAnswer(platform::kIdOk);
    EXPECT_EQ(run(L""), 0);
    EXPECT_EQ(sim::exitStatus(), 0);
    ASSERT_EQ(sim::messageBoxes().size(), 1u);
    EXPECT_EQ(sim::messageBoxes()[0].text, L"No Args");
    EXPECT_EQ(sim::messageBoxes()[0].caption, L"Error");
    EXPECT_EQ(sim::messageBoxes()[0].style, 0x30u);
    sim::reset();
    EXPECT_EQ(run(L""), 1);  // the box could not be shown
    EXPECT_FALSE(sim::exitStatus());
}

TEST_F(Startup, SecondInstanceEndsSilently) {
    sim::setOtherInstanceRunning(true);
    installLauncher(L"_qa", L"C:\\Vexal");
    EXPECT_EQ(run(L"77 _qa"), 1);
    EXPECT_TRUE(sim::messageBoxes().empty());
    EXPECT_TRUE(sim::launches().empty());
}

TEST_F(Startup, HandsOffToTheLauncherOfTheSameEnvironment) {
    installLauncher(L"_qa", L"C:\\Vexal\\");
    EXPECT_EQ(run(L"77 _qa"), 1);
    ASSERT_EQ(sim::launches().size(), 1u);
    EXPECT_EQ(sim::launches()[0].verb, L"open");
    EXPECT_EQ(sim::launches()[0].file, L"C:\\Vexal\\\\VEXAL.exe");
    EXPECT_EQ(sim::launches()[0].parameters, L"orba_qa://deletegame/77");
    EXPECT_TRUE(sim::messageBoxes().empty());

    const std::wstring longNo(400, L'9');
    EXPECT_EQ(launcherUrl(longNo, L""), L"orba://deletegame/" + longNo);  // never shortened
    EXPECT_EQ(launcherUrl(L"7%2F?#", L"_qa"), L"orba_qa://deletegame/7%2F?#");
    for (const std::wstring& bad : {std::wstring(L"7\t7"), std::wstring(L"7\"7"),
                                    std::wstring(L"7\x01"), std::wstring(L"7\x7f")}) {
        EXPECT_EQ(launcherUrl(bad, L""), L"");
        EXPECT_EQ(launcherUrl(L"77", bad), L"");
    }
}

TEST_F(Startup, UnusableLauncherFallsBackToLocalRemoval) {
    struct Case {
        const char* what;
        std::function<void()> setUp;
        const wchar_t* commandLine;
    };
    const Case cases[] = {
        {"entry for another environment", [this] { installLauncher(L"_qa", L"C:\\V"); }, L"77"},
        {"entry without token, game with one", [this] { installLauncher(L"", L"C:\\V"); },
         L"77 _qa"},
        {"entry only in the 32-bit view",
         [] {
             sim::setString(RegRoot::localMachine, 0x200, kLauncherKey, L"InstallLocation",
                            L"C:\\V");
         },
         L"77"},
        {"multi-string location", [this] { installLauncher(L"", L"C:\\V", 7); }, L"77"},
        {"empty location", [this] { installLauncher(L"", L""); }, L"77"},
        {"location longer than its buffer",
         [this] { installLauncher(L"", std::wstring(300, L'v')); }, L"77"},
        {"launcher cannot start",
         [this] {
             installLauncher(L"", L"C:\\V");
             sim::setShellOpenSucceeds(false);
         },
         L"77"},
        {"tab inside the game number", [this] { installLauncher(L"", L"C:\\V"); }, L"7\t7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::reset();
        c.setUp();
        sim::queueMessageBoxAnswer(7);  // No
        EXPECT_EQ(run(c.commandLine), 0);
        ASSERT_EQ(sim::messageBoxes().size(), 1u);
        EXPECT_EQ(sim::messageBoxes()[0].text, kQuestion);
    }
    // An expandable location is used as stored.
    sim::reset();
    installLauncher(L"", L"%ProgramFiles%\\V", 2);
    EXPECT_EQ(run(L"77"), 1);
    EXPECT_EQ(sim::launches().at(0).file, L"%ProgramFiles%\\V\\VEXAL.exe");
}

TEST_F(Startup, AnswerNoEndsWithoutALogFile) {
    const stdfs::path log = logFileFor(L"_qa");
    sim::queueMessageBoxAnswer(7);
    EXPECT_EQ(run(L"77 _qa"), 0);
    EXPECT_EQ(sim::exitStatus(), 0);
    const auto boxes = sim::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kQuestion);
    EXPECT_EQ(boxes[0].caption, L"");
    EXPECT_EQ(boxes[0].style, 0x34u);
    EXPECT_FALSE(stdfs::exists(log));
}

TEST_F(Startup, YesWithoutRecordShowsCodeThreeAndLogsIt) {
    logFileFor(L"_qa");
    sim::queueMessageBoxAnswer(platform::kIdYes);
    sim::queueMessageBoxAnswer(platform::kIdOk);
    EXPECT_EQ(run(L"77 _qa"), 0);
    EXPECT_EQ(sim::exitStatus(), 0);
    const auto boxes = sim::messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, kFailure + L"\n(Error Code=3)");
    EXPECT_EQ(boxes[1].caption, L"Error");
    EXPECT_EQ(boxes[1].style, 0x30u);
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "ERROR GameUninstallHelper::_readGameInfo: Apps registry not found: "
                  "Software\\ORBA_qa\\Apps\\77",
                  "ERROR onUninstallEvent: Fail to uninstall due to error(3)"}));
}

TEST_F(Startup, ElevatedCopyNeitherGuardsNorAsks) {
    sim::setOtherInstanceRunning(true);
    installLauncher(L"_qa", L"C:\\V");
    const stdfs::path folder = games / "G";
    writeFile(folder / "a");
    setGameRecord(L"_qa", L"77", L"G", folder.wstring(), L"77");
    EXPECT_EQ(run(L"77 _qa --elevated"), 0);
    EXPECT_TRUE(sim::messageBoxes().empty());
    EXPECT_TRUE(sim::launches().empty());
    EXPECT_FALSE(sim::exitStatus());
    EXPECT_FALSE(stdfs::exists(folder));
}

TEST_F(Startup, EventReactions) {
    initUninstallMessages();
    startLog();
    const auto react = [](std::int32_t code) {
        sim::reset();
        sim::queueMessageBoxAnswer(platform::kIdOk);
        onUninstallEvent(UninstallEvent{code, L"77", L"Space Race"});
        return sim::messageBoxes();
    };
    for (std::int32_t ignored : {0, 8, -1, -2147483647 - 1}) {
        EXPECT_TRUE(react(ignored).empty()) << ignored;
        EXPECT_FALSE(sim::exitStatus());
    }
    const auto success = react(Success);
    ASSERT_EQ(success.size(), 1u);
    EXPECT_EQ(success[0].text, L"게임이 삭제되었습니다.");  // never the title
    EXPECT_EQ(success[0].caption, L"");
    EXPECT_EQ(sim::exitStatus(), 0);
    for (std::int32_t code : {2, 3, 4, 5, 6, 7}) {
        const auto failure = react(code);
        ASSERT_EQ(failure.size(), 1u);
        EXPECT_EQ(failure[0].text, kFailure + L"\n(Error Code=" + std::to_wstring(code) + L")");
        EXPECT_EQ(failure[0].caption, L"Error");
        EXPECT_EQ(sim::exitStatus(), 0);
    }
    EXPECT_EQ(logMessages().back(), "ERROR onUninstallEvent: Fail to uninstall due to error(7)");
    EXPECT_EQ(logMessages().size(), 6u);

    // A box that cannot be shown still ends the process instead of leaving it waiting.
    sim::reset();
    onUninstallEvent(UninstallEvent{GameRunning, L"77", L""});
    EXPECT_EQ(sim::exitStatus(), 0);
}
