// The start-up flow, the launcher hand-off and the reactions to the engine's events.
#include "app/launcher_handoff.h"
#include "app/startup.h"
#include "app/uninstall_messages.h"
#include "platform/ui.h"
#include "tests/host/fixture.h"

namespace {
const std::wstring kQuestion =
    L"해당 게임을 삭제하시겠습니까?\n삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다.";
const std::wstring kFailure = L"게임 삭제에 실패하였습니다.\n(Error Code=";
const std::wstring kLauncher =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VexalLauncher";

// The launcher's install location for environment env, as stored.
void launcher(const std::wstring& env, const std::wstring& location, std::uint32_t type = 1,
              std::uint32_t view = 0) {
    sim::setValue(RegRoot::localMachine, view, kLauncher + env, L"InstallLocation", type,
                  sim::utf16z(location));
}

// Boxes and launches as "caption|style|text" and "verb|file|parameters".
std::vector<std::wstring> shown() {
    std::vector<std::wstring> out;
    for (const auto& box : sim::state().boxes) {
        out.push_back(box.caption + L"|" + std::to_wstring(box.style) + L"|" + box.text);
    }
    for (const auto& launch : sim::state().launches) {
        out.push_back(launch.verb + L"|" + launch.file + L"|" + launch.parameters);
    }
    return out;
}
}  // namespace

// (command line, set-up, answers, status, exit status, boxes and launches, log): the flows
// up to the worker's start and what each shows, starts, logs and ends with.
TEST_F(HostTest, StartupFlows) {
    const std::wstring ask = L"|52|" + kQuestion, noArgs = L"Error|48|No Args";
    const auto none = [] {};
    const auto launcherQa = [] { launcher(L"_qa", L"C:\\V"); };
    const auto launcherPlain = [] { launcher(L"", L"C:\\V"); };
    auto& s = sim::state();
    const std::tuple<const wchar_t*, std::function<void()>, std::vector<int>, int,
                     std::optional<int>, std::vector<std::wstring>, Lines>
        rows[] = {
            // clang-format off
            {L"", none, {platform::kIdOk}, 0, 0, {noArgs}, {}},
            {L"", none, {}, 1, {}, {noArgs}, {}},  // the box could not be shown
            {L"77 _qa", [&] { s.otherInstance = true; }, {}, 1, {}, {}, {}},
            {L"77 _qa", [] { launcher(L"_qa", L"C:\\Vexal\\"); }, {}, 1, {}, {L"open|C:\\Vexal\\\\VEXAL.exe|orba_qa://deletegame/77"}, {}},
            {L"77", [] { launcher(L"", L"%ProgramFiles%\\V", platform::kRegExpandSz); }, {}, 1, {},
             {L"open|%ProgramFiles%\\V\\VEXAL.exe|orba://deletegame/77"}, {}},
            // Launchers that cannot take the job: the question is asked; No ends the run.
            {L"77", launcherQa, {7}, 0, 0, {ask}, {}},  // another environment's
            {L"77 _qa", launcherPlain, {7}, 0, 0, {ask}, {}},
            {L"77", [] { launcher(L"", L"C:\\V", 1, platform::kKeyWow64_32Key); }, {7}, 0, 0, {ask}, {}},
            {L"77", [] { launcher(L"", L"C:\\V", 7); }, {7}, 0, 0, {ask}, {}},  // multi-string
            {L"77", [] { launcher(L"", L""); }, {7}, 0, 0, {ask}, {}},
            {L"77", [] { launcher(L"", std::wstring(300, L'v')); }, {7}, 0, 0, {ask}, {}},  // too long
            {L"7\t7", launcherPlain, {7}, 0, 0, {ask}, {}},
            {L"77", [&] { launcherPlain(), s.shellOpenSucceeds = false; }, {7}, 0, 0, {ask, L"open|C:\\V\\VEXAL.exe|orba://deletegame/77"}, {}},
            // Yes: the worker runs, and its result is shown.
            {L"77 _qa", none, {platform::kIdYes, platform::kIdOk}, 0, 0, {ask, L"Error|48|" + kFailure + L"3)"},
             {"ERROR _readGameInfo: Apps registry not found: Software\\ORBA_qa\\Apps\\77", "ERROR onUninstallEvent: Fail to uninstall due to error(3)"}},
            // The elevated copy neither guards, hands off nor asks, and shows nothing.
            {L"77 _qa --elevated", [&] {
                 s.otherInstance = true;
                 launcherQa();
                 setString(L"Software\\ORBA_qa\\Apps\\77", L"GameTitle", L"T");
                 setString(L"Software\\ORBA_qa\\Apps\\77", L"GamePath", game.wstring());
             }, {}, 0, {}, {}, {"INFO _regDeleteKey: Deleted registry key: Software\\ORBA_qa\\Apps\\77"}},
            // clang-format on
        };
    int row = 0;
    for (const auto& [line, setUp, answers, status, exit, boxes, lines] : rows) {
        SCOPED_TRACE("row " + std::to_string(row++) + ": " + logging::toUtf8(line));
        SetUp();
        write(game / "a");
        setUp();
        sim::state().answers = answers;
        const int ended = runUninstaller(line);
        if (g_helper) g_helper->join();  // as the process's exit would wait
        g_helper.reset();
        EXPECT_EQ(ended, status);
        EXPECT_EQ(sim::state().exitStatus, exit);
        EXPECT_EQ(shown(), boxes);
        EXPECT_EQ(logLines(), lines);
        EXPECT_EQ(stdfs::exists(game), std::wstring(line).find(L"elevated") == std::wstring::npos);
    }
}

TEST_F(HostTest, LauncherUrlIsWholeOrNone) {
    const std::wstring longNo(400, L'9');
    EXPECT_EQ(launcherUrl(longNo, L""), L"orba://deletegame/" + longNo);  // never shortened
    EXPECT_EQ(launcherUrl(L"7%2F?#", L"_qa"), L"orba_qa://deletegame/7%2F?#");
    for (const std::wstring bad : {L"7\t7", L"7\"7", L"7\x01", L"7\x7f", L"7 7"}) {
        EXPECT_EQ(launcherUrl(bad, L"") + launcherUrl(L"77", bad), L"");
    }
}

// Code -> the box shown (none for codes that are no result) and the log line of a failure.
TEST_F(HostTest, EventReactions) {
    initUninstallMessages();
    Lines expected;
    for (std::int32_t code : {0, 8, -1, -2147483647 - 1, 1, 2, 3, 4, 5, 6, 7}) {
        SCOPED_TRACE(code);
        sim::state() = {};
        sim::state().answers = {platform::kIdOk};
        onUninstallEvent(UninstallEvent{code, L"77", L"Space Race"});
        const bool result = code >= 1 && code <= 7, failure = code >= 2 && code <= 7;
        std::vector<std::wstring> box;
        if (result) {
            box.push_back(code == Success ? L"|48|게임이 삭제되었습니다."  // never the title
                                          : L"Error|48|" + kFailure + std::to_wstring(code) + L")");
        }
        EXPECT_EQ(shown(), box);
        EXPECT_EQ(sim::state().exitStatus, result ? std::optional<int>(0) : std::nullopt);
        if (failure)
            expected.push_back("ERROR onUninstallEvent: Fail to uninstall due to error(" +
                               std::to_string(code) + ")");
    }
    EXPECT_EQ(logLines(), expected);
    // A box that cannot be shown still ends the process instead of leaving it waiting.
    sim::state() = {};
    onUninstallEvent(UninstallEvent{GameRunning, L"77", L""});
    EXPECT_EQ(sim::state().exitStatus, 0);
}
