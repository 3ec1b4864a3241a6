// The engine over whole runs (codes, log lines and what remains per row), the steps whose
// effect a whole run hides, races inside the game folder, and the engine's lifetime.
#include <sys/resource.h>

#include <sstream>
#include <thread>

#include "app/startup.h"
#include "tests/host/fixture.h"

namespace {
const std::wstring kRecord = L"Software\\ORBA_qa\\Apps\\77";
const std::wstring kEntry =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexal_qa App 77";
}  // namespace

class Engine : public HostTest {
protected:
    const stdfs::path manifest = local / "VEXAL" / "tmpgamemanifest" / "tmpgamemanifest_77_qa.upf";
    const stdfs::path outside = root / "outside";
    std::vector<UninstallEvent> events;

    // Game 77 "Space:Race?" with every piece a run removes, links to the outside in it, and
    // a sibling folder's process running.
    void install() {
        for (const auto& file :
             {game / "bin" / "game.exe", game / ".vexal_temp" / "part.bin",
              game / "install_progress.json", game / "combinedata_manifest", game / "a.pak",
              manifest, desktop / "SpaceRace_qa.url", programs / "VEXAL_qa" / "SpaceRace_qa.url"}) {
            write(file);
        }
        write(outside / "canary", "canary");
        for (const auto& readOnly :
             {game / "a.pak", manifest, desktop / "SpaceRace_qa.url", outside / "canary"}) {
            stdfs::permissions(readOnly, stdfs::perms::owner_read);
        }
        stdfs::create_directory_symlink(outside, game / "bin" / "dirlink");
        stdfs::create_symlink(outside / "canary", game / "filelink");
        setString(kRecord, L"GameTitle", L"Space:Race?");
        setString(kRecord, L"GamePath", game.wstring());
        setString(kRecord, L"GameNo", L"77");
        sim::state().keys[sim::keyId(RegRoot::localMachine, 0, kEntry)];
        sim::state().processes = {L"/other/a.exe", game.wstring() + L"X/a.exe"};
    }
    // Runs a whole engine to its end, keeping its events.
    void run(bool elevated = false) {
        GameUninstallHelper engine(L"77", L"_qa", elevated);
        engine.onEvent = [this](const UninstallEvent& event) { events.push_back(event); };
        engine.start();
        engine.join();
    }
    // What remains: the game folder's items, then what the run removes outside it.
    Lines remains() const {
        Lines left;
        for (auto it = stdfs::recursive_directory_iterator(root / "Games");
             it != stdfs::recursive_directory_iterator(); ++it) {
            left.push_back(it->path().lexically_relative(root / "Games").string());
        }
        const auto& keys = sim::state().keys;
        const std::pair<const char*, bool> outsiders[] = {
            {"desktop", stdfs::exists(desktop / "SpaceRace_qa.url")},
            {"manifest", stdfs::exists(manifest)},
            {"record", keys.count(sim::keyId(RegRoot::currentUser, 0, kRecord)) != 0},
            {"start_menu", stdfs::exists(programs / "VEXAL_qa" / "SpaceRace_qa.url")},
            {"uninstall", keys.count(sim::keyId(RegRoot::localMachine, 0, kEntry)) +
                                  keys.count(sim::keyId(RegRoot::localMachine, 0x200, kEntry)) !=
                              0}};
        for (const auto& [name, there] : outsiders) {
            if (there) left.push_back(name);
        }
        std::sort(left.begin(), left.end());
        return left;
    }
};

// Log lines by short name.
// clang-format off
const std::map<std::string, std::string> kSays = {
    {"temp", "INFO _deleteInstallTempFiles: Removed .vexal_temp: <G>/.vexal_temp"},
    {"progress", "INFO _deleteInstallTempFiles: Removed install_progress.json"},
    {"manifest",
     "INFO _deleteTmpManifest: Deleted tmp manifest: "
     "<R>/Local/VEXAL/tmpgamemanifest/tmpgamemanifest_77_qa.upf"},
    {"desktop",
     "INFO _deleteGameShortcuts: Deleted desktop shortcut: <R>/Desktop/SpaceRace_qa.url"},
    {"menu",
     "INFO _deleteGameShortcuts: Deleted start menu shortcut: "
     "<R>/Programs/VEXAL_qa/SpaceRace_qa.url"},
    {"entry", "INFO _regDeleteKey: Deleted registry key: " + logging::toUtf8(kEntry)},
    {"record", "INFO _regDeleteKey: Deleted registry key: Software\\ORBA_qa\\Apps\\77"},
    {"subkey",
     "ERROR _regDeleteKey: Failed to delete registry key: Software\\ORBA_qa\\Apps\\77 (5)"},
    {"badName",
     "ERROR _deleteTmpManifest: Tmp manifest name refused: tmpgamemanifest_..\\x_qa.upf"},
    {"noLocal",
     "ERROR _deleteTmpManifest: Local application data folder unknown, tmp manifest left"},
    {"noDesktop", "ERROR _deleteGameShortcuts: Shortcut folder unknown (32768), shortcut left"},
    {"noRecord", "ERROR _readGameInfo: Apps registry not found: Software\\ORBA_qa\\Apps\\77"},
    {"noTitle",
     "ERROR _readGameInfo: GameTitle not found in registry: Software\\ORBA_qa\\Apps\\77"},
    {"noPath", "ERROR _readGameInfo: GamePath not found in registry: Software\\ORBA_qa\\Apps\\77"},
    {"refused", "ERROR _readGameInfo: GamePath refused, not a game folder: <R>/Local"},
    {"refusedLink", "ERROR _readGameInfo: GamePath refused, not a game folder: <R>/Games/L"},
    {"detected", "INFO _isGameRunning: Game process detected: <R>/GAMES/G/bin/game.exe"},
    {"running", "ERROR _worker: Game is currently running, cannot uninstall: <G>"},
    {"exe", "ERROR _removeDirectoriesRecursive: Remove file failed: <G>/bin/game.exe"},
    {"bin", "ERROR _removeDirectoriesRecursive: Remove dir failed: <G>/bin"},
    {"G", "ERROR _removeDirectoriesRecursive: Remove dir failed: <G>"},
    {"unlistable", "ERROR _removeDirectoriesRecursive: Cannot iterate directory: <G>/bin (11)"},
    {"failed", "ERROR _deleteGameFolder: Failed to delete game folder: <G>"},
    {"elevating", "INFO _deleteGameFolder: Access denied, relaunching elevated: <G>"},
    {"1223", "ERROR _relaunchElevated: ShellExecuteEx runas failed: 1223"},
    {"exists",
     "ERROR _worker: [_worker] filesystem_error: filesystem error: exists: "
     "Input/output error [<G>] path1=<G> path2="},
    {"advance",
     "ERROR _worker: [_worker] filesystem_error: filesystem error: "
     "directory_iterator::operator++: Input/output error [<G>/bin] path1=<G>/bin path2="}};
// clang-format on

// The words of a row's text, with "ok" standing for the lines of a complete run, "all" for
// everything at the start, "game" for the game folder's items and "out" for what the run removes
// outside the folder.
Lines words(const std::string& text) {
    static const std::map<std::string, std::string> kShort = {
        {"ok", "temp progress manifest desktop menu entry record"},
        {"all", "game out"},
        {"game",
         "G G/.vexal_temp G/.vexal_temp/part.bin G/a.pak G/bin G/bin/dirlink "
         "G/bin/game.exe G/combinedata_manifest G/filelink G/install_progress.json"},
        {"out", "desktop manifest record start_menu uninstall"}};
    Lines out;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        const auto found = kShort.find(word);
        if (found == kShort.end()) out.push_back(word);
        for (auto& more : found == kShort.end() ? Lines{} : words(found->second))
            out.push_back(more);
    }
    return out;
}

TEST_F(Engine, RunsEndWithTheirCodeLinesAndWhatRemains) {
    bool elevated = false;
    const auto fault = [this](sim::FsOp op, const char* item, std::errc error) {
        sim::state().faults[{op, (*item != 0 ? game / item : game).string()}] =
            std::make_error_code(error);
    };
    const auto busy = [&](std::errc error) { fault(sim::FsOp::remove, "bin/game.exe", error); };
    const auto denied = std::errc::permission_denied;
    auto& s = sim::state();
    // (what, set-up, code, log lines, what remains)
    const std::tuple<const char*, std::function<void()>, std::int32_t, const char*, const char*>
        rows[] = {
            // clang-format off
        {"complete", [] {}, Success, "ok", ""},
        {"a file in place of the folder", [this] { stdfs::remove_all(game), write(game); }, Success, "manifest desktop menu entry record", ""},
        {"entry in the 32-bit view, record with a subkey", [&] {
             s.keys[sim::keyId(RegRoot::localMachine, 0x200, kEntry)] = s.keys[sim::keyId(RegRoot::localMachine, 0, kEntry)];
             s.keys.erase(sim::keyId(RegRoot::localMachine, 0, kEntry));
             s.keys[sim::keyId(RegRoot::currentUser, 0, kRecord + L"\\Sub")];
         }, Success, "temp progress manifest desktop menu entry subkey", "record"},
        {"record number leading out", [] { setString(kRecord, L"GameNo", L"..\\x"); }, Success,
         "temp progress badName desktop menu entry record", "manifest"},
        {"folders unknown", [&] { s.folders.erase(platform::kCsidlLocalAppData), s.folders.erase(platform::kCsidlDesktopCreate); },
         Success, "temp progress noLocal noDesktop menu entry record", "desktop manifest"},
        {"no record", [&] { s.keys.erase(sim::keyId(RegRoot::currentUser, 0, kRecord)); }, GameInfoNotFound, "noRecord",
         "game desktop manifest start_menu uninstall"},
        {"title not text", [] { sim::setValue(RegRoot::currentUser, 0, kRecord, L"GameTitle", 4, "xxxx"); }, GameTitleNotFound, "noTitle", "all"},
        {"no path", [] { setString(kRecord, L"GamePath", L""); }, GameInfoNotFound, "noPath", "all"},
        {"path of a protected folder", [this] { setString(kRecord, L"GamePath", local.wstring()); }, GameInfoNotFound, "refused", "all"},
        {"path is a link to the game", [this] {
             stdfs::create_directory_symlink(game, root / "Games" / "L");
             setString(kRecord, L"GamePath", (root / "Games" / "L").wstring());
         }, GameInfoNotFound, "refusedLink", "L all"},
        {"game running", [&] { s.processes = {L"/other/a.exe", (root / "GAMES/G/bin/game.exe").wstring(), (game / "a").wstring()}; },
         GameRunning, "detected running", "all"},
        {"a file stays", [&] { busy(std::errc::device_or_resource_busy); }, Fail, "temp progress exe bin G failed", "G G/bin G/bin/game.exe out"},
        {"access denied, elevation refused", [&] { busy(denied), s.runAsStarts = false, s.runAsError = 1223; }, Fail,
         "temp progress exe bin G elevating 1223", "G G/bin G/bin/game.exe out"},
        {"access denied, the elevated copy removes", [&] { busy(denied), s.runAsChild = [this] { stdfs::remove_all(game); }; },
         Success, "temp progress exe bin G elevating manifest desktop menu entry record", ""},
        {"access denied in the elevated copy", [&] { busy(denied), elevated = true; }, Fail,
         "temp progress exe bin G failed", "G G/bin G/bin/game.exe out"},
        {"unlistable subfolder", [&] { fault(sim::FsOp::list, "bin", std::errc::resource_unavailable_try_again); }, Fail,
         "temp progress unlistable G failed", "G G/bin G/bin/dirlink G/bin/game.exe out"},
        {"unreadable status", [&] { fault(sim::FsOp::status, "", std::errc::io_error); }, Fail, "exists", "all"},
        {"listing fails after its first entry", [&] {  // one entry a level: the same in any listing order
             stdfs::remove_all(game), write(game / "bin" / "game.exe"), fault(sim::FsOp::advance, "bin", std::errc::io_error);
         }, Fail, "advance", "G G/bin out"},
            // clang-format on
        };
    for (const auto& [name, setUp, code, says, left] : rows) {
        SCOPED_TRACE(name);
        SetUp();
        events.clear();
        elevated = false;
        install();
        setUp();
        run(elevated);
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(
            std::make_tuple(events[0].code, events[1].code, events[1].gameNo, events[1].message),
            std::make_tuple(Start, code, std::wstring(L"77"),
                            std::wstring(code == Success ? L"Space:Race?" : L"")));
        Lines lines, remaining = words(left);
        for (const auto& word : words(says)) lines.push_back(kSays.at(word));
        EXPECT_EQ(logLines(), expand(lines));
        std::sort(remaining.begin(), remaining.end());
        EXPECT_EQ(remains(), remaining);
        const bool walked =
            code != GameInfoNotFound && code != GameTitleNotFound && says != std::string("exists");
        EXPECT_EQ(s.processesVisited, walked ? 2 : 0);  // the walk stops at the first match
        std::vector<std::wstring> launches;
        for (const auto& launch : s.launches)
            launches.push_back(launch.verb + L"|" + launch.file + L"|" + launch.parameters);
        EXPECT_EQ(launches, std::string(says).find("elevating") == std::string::npos
                                ? std::vector<std::wstring>{}
                                : std::vector<std::wstring>{
                                      L"runas|/sim/GameUninstaller.exe|77 _qa --elevated"});
        EXPECT_EQ(read(outside / "canary"), "canary");  // nor made writable through a link
        EXPECT_EQ(stdfs::status(outside / "canary").permissions() & stdfs::perms::owner_write,
                  stdfs::perms::none);
        EXPECT_TRUE(stdfs::exists(programs / "VEXAL_qa"));  // the Start menu folder stays
    }
}

// What a whole run hides: each later step removes what an earlier one left.
TEST_F(Engine, StepsOnTheirOwn) {
    EngineTestAccess engine(L"77", L"_qa", false);
    write(game / ".vexal_temp");  // a file in place of the folder
    write(game / "install_progress.json");
    write(game / "combinedata_manifest");  // a file: the whole-tree removal takes it
    stdfs::permissions(game / "install_progress.json", stdfs::perms::owner_read);
    engine._deleteInstallTempFiles(game.wstring() + L"/");  // a trailing separator joins once
    engine._deleteCombinedataManifest(game.wstring());
    engine._deleteCombinedataManifest(game.wstring());  // gone: no line
    EXPECT_TRUE(stdfs::is_empty(game));
    // A temp folder that stays still gets its line; a progress file that stays gets none.
    write(game / ".vexal_temp" / "busy");
    write(game / "install_progress.json");
    for (const auto& busy : {game / ".vexal_temp" / "busy", game / "install_progress.json"}) {
        sim::state().faults[{sim::FsOp::remove, busy.string()}] =
            std::make_error_code(std::errc::device_or_resource_busy);
    }
    engine._deleteInstallTempFiles(game.wstring());
    // An environment token that would lead out of the shortcut folders is refused.
    write(root / "victim.url");
    EngineTestAccess(L"77", L"/../victim", false)._deleteGameShortcuts(L"");
    EXPECT_TRUE(stdfs::exists(root / "victim.url"));
    const std::string walk = "ERROR _removeDirectoriesRecursive: Remove ";
    EXPECT_EQ(
        logLines(),
        expand({"INFO _deleteInstallTempFiles: Removed .vexal_temp: <G>/.vexal_temp",
                "INFO _deleteInstallTempFiles: Removed install_progress.json",
                "INFO _deleteCombinedataManifest: Deleted combinedata_manifest: "
                "<G>/combinedata_manifest",
                walk + "file failed: <G>/.vexal_temp/busy", walk + "dir failed: <G>/.vexal_temp",
                "INFO _deleteInstallTempFiles: Removed .vexal_temp: <G>/.vexal_temp",
                "ERROR _deleteGameShortcuts: Shortcut name refused: /../victim.url"}));

    const std::pair<const wchar_t*, const wchar_t*> zones[] = {
        {L"", L"live"},        {L"_", L"live"},   {L"RIVA6", L"DMQS"}, {L"_RIVA6", L"DMQS"},
        {L"_riva6", L"riva6"}, {L"__qa", L"_qa"}, {L"qa", L"qa"},      {L"_RIVA66", L"RIVA66"}};
    for (const auto& [env, zone] : zones) {
        EXPECT_EQ(EngineTestAccess(L"1", env, false)._manifestZone(), zone);
    }
    EXPECT_EQ(_sanitizeFileName(L"|\\?*<\":>/게임 v1.2\t!"), L"게임 v1.2\t!");
}

// An item changed between the listing and its removal, just before the walk acts on it:
// nothing outside the game folder changes, and the end is what the change allows.
TEST_F(Engine, ItemChangedDuringTheWalkStaysInside) {
    const auto toLink = [this](const stdfs::path& item) {
        stdfs::remove_all(item);
        stdfs::create_directory_symlink(outside, item);
    };
    const std::string stays = "ERROR _removeDirectoriesRecursive: Remove dir failed: <G>";
    // (what, "item" is a folder, the operation before which it changes, the change, lines)
    const std::tuple<const char*, bool, sim::FsOp, std::function<void(const stdfs::path&)>, Lines>
        rows[] = {
            // clang-format off
        {"file gone", false, sim::FsOp::status, [](auto& i) { stdfs::remove(i); }, {}},
        {"file now a folder", false, sim::FsOp::status, [](auto& i) { stdfs::remove(i), write(i / "new.txt"); }, {}},
        {"file now a link", false, sim::FsOp::status, [this](auto& i) { stdfs::remove(i), stdfs::create_symlink(outside / "canary", i); }, {}},
        {"folder now a link before it is opened", true, sim::FsOp::list, toLink, {}},
        {"folder refilled before its delete", true, sim::FsOp::remove, [](auto& i) { write(i / "late.txt"); }, {stays + "/item", stays}},
        {"folder now a link before its delete", true, sim::FsOp::remove, toLink, {stays + "/item", stays}}};
    // clang-format on
    for (const auto& [name, folder, when, change, lines] : rows) {
        SCOPED_TRACE(name);
        SetUp();
        write(outside / "canary", "canary");
        write(outside / "sub" / "canary", "canary");
        const stdfs::path item = game / "item";
        write(folder ? item / "inner.txt" : item);
        bool changed = false;
        sim::state().onFsOp = [&, when = when, change = change](sim::FsOp op,
                                                                const std::string& path) {
            if (!changed && op == when && path == item.string()) change(item), changed = true;
        };
        EXPECT_TRUE(EngineTestAccess(L"77", L"", false)._deleteGameFolder(game.wstring()));
        sim::state().onFsOp = nullptr;  // it refers to this row's locals
        EXPECT_TRUE(changed);
        EXPECT_EQ(logLines(), expand(lines));
        EXPECT_EQ(read(outside / "canary") + read(outside / "sub" / "canary"), "canarycanary");
    }
    // A game folder that is a link goes as the link.
    stdfs::create_directory_symlink(outside, root / "Games" / "L");
    EXPECT_TRUE(
        EngineTestAccess(L"77", L"", false)._deleteGameFolder((root / "Games" / "L").wstring()));
    EXPECT_EQ(stdfs::directory_iterator(root / "Games"), stdfs::directory_iterator());
    EXPECT_EQ(read(outside / "canary") + read(outside / "sub" / "canary"), "canarycanary");
}

// As deep as the host's 4,096-byte path limit allows: the walk keeps no call stack per level.
TEST_F(Engine, DeepChainIsRemovedCompletely) {
    rlimit files{};  // each level holds its folder open while its child is removed
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4000));
    setrlimit(RLIMIT_NOFILE, &files);
    stdfs::path leaf = game;
    stdfs::create_directory(game);
    for (int i = 0; i < 1500; ++i) stdfs::create_directory(leaf /= "d");
    std::ofstream(leaf / "leaf.txt") << "x";
    EXPECT_TRUE(EngineTestAccess(L"77", L"", false)._deleteGameFolder(game.wstring()));
    EXPECT_FALSE(stdfs::exists(game));
}

TEST_F(Engine, LifetimeAndExceptionsFromTheCallback) {
    // An exception from the callback on Start is handled like one from a step.
    GameUninstallHelper engine(L"77", L"_qa", false);
    engine.onEvent = [this](const UninstallEvent& event) {
        events.push_back(event);
        if (event.code == Start) throw std::runtime_error("callback broke");
    };
    engine.start();
    engine.join();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].code, Fail);
    EXPECT_EQ(logLines(), Lines{"ERROR _worker: [_worker] std::exception: callback broke"});

    // Destroying a started engine waits for its worker.
    std::vector<std::int32_t> codes;
    {
        GameUninstallHelper waited(L"77", L"_qa", false);
        waited.onEvent = [&codes](const UninstallEvent& event) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            codes.push_back(event.code);
        };
        waited.start();
    }
    EXPECT_EQ(codes, (std::vector<std::int32_t>{Start, GameInfoNotFound}));

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
