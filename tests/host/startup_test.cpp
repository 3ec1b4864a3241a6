// The start-up flow, the launcher hand-off and the reactions to the engine's events.
#include <fstream>
#include <optional>
#include <tuple>

#include "app/launcher_handoff.h"
#include "app/startup.h"
#include "app/uninstall_messages.h"
#include "platform/shell.h"
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

// (command line, another instance, launcher, game, answers, status, boxes, exit status,
// log): the flows up to the worker's start and what each shows, logs and ends with.
TEST_F(Startup, FlowsEndWithTheirBoxesStatusAndLog) {
    using Boxes = std::vector<sim::MessageBoxCall>;
    const std::wstring failure3 = kFailure + L"\n(Error Code=3)";
    const std::string notFound =
        "ERROR GameUninstallHelper::_readGameInfo: Apps registry not found: "
        "Software\\ORBA_qa\\Apps\\77";
    const std::tuple<const wchar_t*, bool, bool, bool, std::vector<int>, int, Boxes,
                     std::optional<int>, std::vector<std::string>>
        rows[] = {
            // clang-format off
            {L"", false, false, false, {platform::kIdOk}, 0, {{L"No Args", L"Error", 0x30}}, 0, {}},
            {L"", false, false, false, {}, 1, {{L"No Args", L"Error", 0x30}}, {}, {}},  // no box
            {L"77 _qa", true, true, true, {}, 1, {}, {}, {}},  // a second instance
            {L"77 _qa", false, false, true, {7}, 0, {{kQuestion, L"", 0x34}}, 0, {}},  // No
            {L"77 _qa", false, false, false, {platform::kIdYes, platform::kIdOk}, 0,
             {{kQuestion, L"", 0x34}, {failure3, L"Error", 0x30}}, 0,
             {notFound, "ERROR onUninstallEvent: Fail to uninstall due to error(3)"}},
            {L"77 _qa --elevated", true, true, true, {}, 0, {}, {},  // neither guards nor asks
             {"INFO GameUninstallHelper::_regDeleteKey: Deleted registry key: "
              "Software\\ORBA_qa\\Apps\\77"}}};
    // clang-format on
    const stdfs::path log = logFileFor(L"_qa");
    for (const auto& [line, other, launcher, game, answers, status, boxes, exit, lines] : rows) {
        SCOPED_TRACE(utf8(line) + (other ? " other" : "") + (launcher ? " launcher" : ""));
        sim::reset();
        sim::setFolder(platform::kCsidlLocalAppData, localAppData.wstring());
        sim::setFolder(platform::kCsidlDesktopCreate, desktop.wstring());
        sim::setFolder(platform::kCsidlProgramsCreate, programs.wstring());
        sim::setOtherInstanceRunning(other);
        if (launcher) installLauncher(L"_qa", L"C:\\Vexal");
        const stdfs::path folder = games / "G";
        if (game) {
            writeFile(folder / "a");
            setGameRecord(L"_qa", L"77", L"G", folder.wstring(), L"77");
        }
        for (int answer : answers) sim::queueMessageBoxAnswer(answer);
        stdfs::remove(log);
        EXPECT_EQ(run(line), status);
        const Boxes shown = sim::messageBoxes();
        ASSERT_EQ(shown.size(), boxes.size());
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(std::tie(shown[i].text, shown[i].caption, shown[i].style),
                      std::tie(boxes[i].text, boxes[i].caption, boxes[i].style));
        }
        EXPECT_EQ(sim::exitStatus(), exit);
        EXPECT_TRUE(sim::launches().empty());
        EXPECT_EQ(logMessages(), lines);
        EXPECT_EQ(stdfs::exists(folder),
                  game && std::wstring(line).find(L"elevated") == std::wstring::npos);
        stdfs::remove_all(folder);
    }
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
