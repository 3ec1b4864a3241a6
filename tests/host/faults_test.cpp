// Faults that Wine cannot produce, over whole runs on the simulated platform: elevation
// refused by the user, a listing that cannot be advanced, a game folder whose status
// cannot be read. Each ends with its code and exact lines, and nothing else is deleted.
#include <algorithm>
#include <functional>

#include "tests/host/sim_fixture.h"

using platform::RegRoot;
namespace sim = platform::sim;

namespace {

struct Fault {
    const char* name;
    std::function<void(const stdfs::path& game)> inject;
    std::int32_t code;
    // The engine's log lines, with "<G>" standing for the game folder's path.
    std::vector<std::string> lines;
    std::vector<const char*> kept;  // below the game folder; everything else there is gone
};

// The line with every "<G>" replaced by the game folder's path.
std::string withGame(std::string line, const std::string& game) {
    for (auto at = line.find("<G>"); at != std::string::npos;
         at = line.find("<G>", at + game.size())) {
        line.replace(at, 3, game);
    }
    return line;
}

const std::string kHelper = "GameUninstallHelper::";

}  // namespace

class Faults : public SimTest {};

TEST_F(Faults, WineCannotProduceTheseButTheRunEndsCleanly) {
    const Fault faults[] = {
        {"elevation refused by the user (1223)",
         [](const stdfs::path& game) {
             sim::injectFault(sim::FsOp::remove, (game / "bin" / "game.exe").wstring(),
                              std::make_error_code(std::errc::permission_denied));
             sim::setRunAs(false, 1223);
         },
         Fail,
         {"ERROR " + kHelper + "_removeDirectoriesRecursive: Remove file failed: <G>/bin/game.exe",
          "ERROR " + kHelper + "_removeDirectoriesRecursive: Remove dir failed: <G>/bin",
          "ERROR " + kHelper + "_removeDirectoriesRecursive: Remove dir failed: <G>",
          "INFO " + kHelper + "_deleteGameFolder: Access denied, relaunching elevated: <G>",
          "ERROR " + kHelper + "_relaunchElevated: ShellExecuteEx runas failed: 1223"},
         {"bin", "bin/game.exe"}},
        {"a listing that cannot be advanced",
         [](const stdfs::path& game) {
             sim::injectFault(sim::FsOp::advance, (game / "bin").wstring(),
                              std::make_error_code(std::errc::io_error));
         },
         Fail,
         {"ERROR " + kHelper +
          "_worker: [_worker] filesystem_error: filesystem error: directory_iterator::operator++: "
          "Input/output error [<G>/bin] path1=<G>/bin path2="},
         {"bin"}},
        {"the game folder's status cannot be read",
         [](const stdfs::path& game) {
             sim::injectFault(sim::FsOp::status, game.wstring(),
                              std::make_error_code(std::errc::io_error));
         },
         Fail,
         {"ERROR " + kHelper +
          "_worker: [_worker] filesystem_error: filesystem error: exists: Input/output error "
          "[<G>] path1=<G> path2="},
         {"a.pak", "bin", "bin/game.exe"}},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        TearDown();
        SetUp();
        startLog();
        const stdfs::path game = games / "G";
        writeFile(game / "a.pak");
        writeFile(game / "bin" / "game.exe");
        writeFile(root / "outside.txt", "kept");
        setGameRecord(L"_qa", L"77", L"T", game.wstring(), L"77");
        fault.inject(game);

        const Run run = runEngine(L"77", L"_qa");
        ASSERT_EQ(run.codes, (std::vector<std::int32_t>{Start, fault.code}));
        std::vector<std::string> expected;
        for (const auto& line : fault.lines) expected.push_back(withGame(line, game.string()));
        EXPECT_EQ(logMessages(), expected);

        std::vector<std::string> left;
        for (auto it = stdfs::recursive_directory_iterator(game);
             it != stdfs::recursive_directory_iterator(); ++it) {
            left.push_back(stdfs::relative(it->path(), game).string());
        }
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, std::vector<std::string>(fault.kept.begin(), fault.kept.end()));
        EXPECT_TRUE(sim::keyExists(RegRoot::currentUser, 0, recordKey(L"_qa", L"77")));
        EXPECT_TRUE(stdfs::exists(root / "outside.txt"));
    }
}
