// Removing the game folder: the escalation, its log lines, links and deep trees.
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "platform/file_system.h"
#include "tests/host/sim_fixture.h"

namespace sim = platform::sim;

class FolderRemoval : public SimTest {
protected:
    std::string read(const stdfs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

TEST_F(FolderRemoval, ShellFirstThenOwnWalkThenWholeTree) {
    startLog();
    GameUninstallHelper engine(L"77", L"_qa", false);
    EngineTestAccess steps(engine);

    EXPECT_TRUE(steps.deleteGameFolder((games / "absent").wstring()));
    EXPECT_TRUE(sim::shellDeleteCalls().empty());

    const stdfs::path byShell = games / "byShell";
    writeFile(byShell / "a" / "b.txt");
    sim::setShellDelete(sim::ShellDelete::removes);
    EXPECT_TRUE(steps.deleteGameFolder(byShell.wstring()));
    std::wstring shellText = byShell.wstring();  // the shell is given backslashes only
    std::replace(shellText.begin(), shellText.end(), L'/', L'\\');
    EXPECT_EQ(sim::shellDeleteCalls().back(), shellText);

    // The shell reports success but keeps the folder: the walk removes read-only files.
    sim::setShellDelete(sim::ShellDelete::reportsSuccessKeeps);
    const stdfs::path readOnly = games / "readOnly";
    writeFile(readOnly / "sub" / "ro.txt");
    stdfs::permissions(readOnly / "sub" / "ro.txt", stdfs::perms::owner_read);
    stdfs::permissions(readOnly / "sub", stdfs::perms::owner_read | stdfs::perms::owner_exec);
    EXPECT_TRUE(steps.deleteGameFolder(readOnly.wstring()));
    EXPECT_FALSE(stdfs::exists(readOnly));

    // A file in place of the folder: the walk declines it, the whole-tree removal takes it.
    writeFile(games / "plainFile");
    EXPECT_TRUE(steps.deleteGameFolder((games / "plainFile").wstring()));
    EXPECT_FALSE(stdfs::exists(games / "plainFile"));
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(FolderRemoval, UnlistableSubfolderLogsEachAncestorThenFails) {
    startLog();
    const stdfs::path folder = games / "G";
    writeFile(folder / "keep" / "locked" / "x");
    writeFile(folder / "other.txt");
    sim::injectFault(sim::FsOp::list, (folder / "keep" / "locked").wstring(),
                     std::make_error_code(std::errc::resource_unavailable_try_again));
    GameUninstallHelper engine(L"77", L"_qa", false);
    EXPECT_FALSE(EngineTestAccess(engine).deleteGameFolder(folder.wstring()));
    EXPECT_FALSE(stdfs::exists(folder / "other.txt"));
    const std::string code = std::to_string(EAGAIN);
    EXPECT_EQ(
        logMessages(),
        (std::vector<std::string>{
            "ERROR GameUninstallHelper::_removeDirectoriesRecursive: Cannot iterate directory: " +
                (folder / "keep" / "locked").string() + " (" + code + ")",
            "ERROR GameUninstallHelper::_removeDirectoriesRecursive: Remove dir failed: " +
                (folder / "keep").string(),
            "ERROR GameUninstallHelper::_removeDirectoriesRecursive: Remove dir failed: " +
                folder.string(),
            "ERROR GameUninstallHelper::_deleteGameFolder: Failed to delete game folder: " +
                folder.string(),
        }));
}

TEST_F(FolderRemoval, AccessDeniedRelaunchesOnceAndJudgesByTheFolder) {
    startLog();
    const stdfs::path folder = games / "G";
    const stdfs::path locked = folder / "locked.bin";
    writeFile(locked);
    sim::injectFault(sim::FsOp::remove, locked.wstring(),
                     std::make_error_code(std::errc::permission_denied));
    // The elevated copy removes the folder while this process waits.
    sim::setRunAs(true, 0, [&] { stdfs::remove_all(folder); });
    sim::setModuleFileName(L"C:\\Tools\\GameUninstaller.exe");
    GameUninstallHelper engine(L"77", L"_qa", false);
    EXPECT_TRUE(EngineTestAccess(engine).deleteGameFolder(folder.wstring()));
    ASSERT_EQ(sim::launches().size(), 1u);
    EXPECT_EQ(sim::launches()[0].verb, L"runas");
    EXPECT_EQ(sim::launches()[0].file, L"C:\\Tools\\GameUninstaller.exe");
    EXPECT_EQ(sim::launches()[0].parameters, L"77 _qa --elevated");
    EXPECT_EQ(logMessages().back(),
              "INFO GameUninstallHelper::_deleteGameFolder: Access denied, relaunching elevated: " +
                  folder.string());

    // Refused elevation: one error line with the system's number, no wait, the run fails.
    writeFile(locked);
    sim::setRunAs(false, 1223);
    GameUninstallHelper plain(L"77", L"", false);
    EXPECT_FALSE(EngineTestAccess(plain).deleteGameFolder(folder.wstring()));
    EXPECT_EQ(sim::launches().back().parameters, L"77 --elevated");
    EXPECT_EQ(logMessages().back(),
              "ERROR GameUninstallHelper::_relaunchElevated: ShellExecuteEx runas failed: 1223");

    // The elevated copy never relaunches: it fails with the error line.
    GameUninstallHelper elevated(L"77", L"_qa", true);
    const auto before = sim::launches().size();
    EXPECT_FALSE(EngineTestAccess(elevated).deleteGameFolder(folder.wstring()));
    EXPECT_EQ(sim::launches().size(), before);
    EXPECT_EQ(logMessages().back(),
              "ERROR GameUninstallHelper::_deleteGameFolder: Failed to delete game folder: " +
                  folder.string());
}

TEST_F(FolderRemoval, LinksAreRemovedNeverFollowed) {
    const stdfs::path outside = root / "outside";
    writeFile(outside / "canary.txt", "canary");
    writeFile(root / "canary-file.txt", "canary");
    const stdfs::path folder = games / "G";
    writeFile(folder / "sub" / "a.txt");
    stdfs::create_directory_symlink(outside, folder / "sub" / "dirlink");
    stdfs::create_symlink(root / "canary-file.txt", folder / "filelink");
    stdfs::create_directory_symlink(outside, games / "LinkedGame");
    // A read-only target: making the link writable must not touch it.
    stdfs::permissions(root / "canary-file.txt", stdfs::perms::owner_read);

    GameUninstallHelper engine(L"77", L"", false);
    EngineTestAccess steps(engine);
    EXPECT_TRUE(steps.deleteGameFolder(folder.wstring()));
    EXPECT_TRUE(
        steps.deleteGameFolder((games / "LinkedGame").wstring()));  // the game folder is a link
    EXPECT_FALSE(stdfs::exists(folder));
    EXPECT_FALSE(stdfs::is_symlink(games / "LinkedGame"));
    EXPECT_EQ(read(outside / "canary.txt"), "canary");
    EXPECT_EQ(read(root / "canary-file.txt"), "canary");
    EXPECT_EQ(stdfs::status(root / "canary-file.txt").permissions() & stdfs::perms::owner_write,
              stdfs::perms::none);

    // The shared whole-tree removal keeps the same rule.
    writeFile(folder / "x");
    stdfs::create_directory_symlink(outside, folder / "dirlink");
    std::error_code ec;
    platform::fs::removeAll(folder, ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(read(outside / "canary.txt"), "canary");
}

TEST_F(FolderRemoval, DeepChainIsRemovedCompletely) {
    // As deep as the host's 4,096-byte path limit allows; each level holds one listing
    // open while its child is removed.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4000));
    setrlimit(RLIMIT_NOFILE, &files);
    const stdfs::path folder = games / "Deep";
    stdfs::create_directory(folder);
    stdfs::path leaf = folder;
    for (int i = 0; i < 1500; ++i) stdfs::create_directory(leaf /= "d");
    writeFile(leaf / "leaf.txt");

    GameUninstallHelper engine(L"77", L"", false);
    EXPECT_TRUE(EngineTestAccess(engine).deleteGameFolder(folder.wstring()));
    EXPECT_FALSE(stdfs::exists(folder));
}

// An item changed between the listing and its removal, at the moment the walk reaches a
// handle-level operation on it: nothing outside the game folder changes, and the end is
// what the change allows.
TEST_F(FolderRemoval, ItemChangedBetweenListingAndRemovalStaysInside) {
    const stdfs::path outside = root / "outside";
    using Change = std::function<void(const stdfs::path& item)>;
    const auto toLink = [&outside](const stdfs::path& item) {
        stdfs::remove_all(item);
        stdfs::create_directory_symlink(outside, item);
    };
    struct Case {
        const char* name;
        bool folder;     // "item" is listed as a folder (else as a file)
        sim::FsOp when;  // the operation on "item" before which it changes
        Change change;
        bool removed;                    // _deleteGameFolder's result
        std::vector<std::string> lines;  // "<G>" stands for the game folder
    };
    const std::string walkLine = "ERROR GameUninstallHelper::_removeDirectoriesRecursive: ";
    const Case cases[] = {
        {"file gone", false, sim::FsOp::status, [](auto& i) { stdfs::remove(i); }, true, {}},
        {"file now a folder",
         false,
         sim::FsOp::status,
         [](auto& i) { stdfs::remove(i), writeFile(i / "new.txt"); },
         true,
         {}},
        {"file now a link",
         false,
         sim::FsOp::status,
         [&](auto& i) { stdfs::remove(i), stdfs::create_symlink(outside / "canary.txt", i); },
         true,
         {}},
        {"folder now a link before it is opened", true, sim::FsOp::list, toLink, true, {}},
        {"folder refilled before its delete",
         true,
         sim::FsOp::remove,
         [](auto& i) { writeFile(i / "late.txt"); },
         true,
         {walkLine + "Remove dir failed: <G>/item", walkLine + "Remove dir failed: <G>"}},
        {"folder now a link before its delete",
         true,
         sim::FsOp::remove,
         toLink,
         true,
         {walkLine + "Remove dir failed: <G>/item", walkLine + "Remove dir failed: <G>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        startLog();
        writeFile(outside / "canary.txt", "canary");
        writeFile(outside / "sub" / "canary.txt", "canary");
        const stdfs::path game = games / "G";
        const stdfs::path item = game / "item";
        writeFile(game / "a.txt");
        if (c.folder) {
            writeFile(item / "inner.txt");
        } else {
            writeFile(item);
        }
        bool changed = false;
        sim::onFsOp([&](sim::FsOp op, const std::string& path) {
            if (!changed && op == c.when && path == item.string()) {
                changed = true;
                c.change(item);
            }
        });
        GameUninstallHelper engine(L"77", L"", false);
        EXPECT_EQ(EngineTestAccess(engine).deleteGameFolder(game.wstring()), c.removed);
        sim::onFsOp(nullptr);
        EXPECT_TRUE(changed);
        std::vector<std::string> expected;
        for (std::string line : c.lines) {
            line.replace(line.find("<G>"), 3, game.string());
            expected.push_back(line);
        }
        EXPECT_EQ(logMessages(), expected);
        EXPECT_EQ(read(outside / "canary.txt"), "canary");
        EXPECT_EQ(read(outside / "sub" / "canary.txt"), "canary");
    }
}
