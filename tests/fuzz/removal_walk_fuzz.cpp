// The removal walk on random small game trees holding links that lead inside and outside,
// while folders and files are swapped for links at random moments (through the host
// double's hook before each handle-level operation). Whatever happens, nothing outside
// the game folder changes: no item outside appears, goes, or changes its content, kind,
// link target or permissions.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "fuzz_common.h"
#include "platform/file_system.h"
#include "platform/sim/sim.h"

namespace {

namespace stdfs = std::filesystem;

// Everything below folder, links not followed: kind, content or link target, permissions.
std::map<std::string, std::tuple<int, std::string, unsigned>> snapshot(const stdfs::path& folder) {
    std::map<std::string, std::tuple<int, std::string, unsigned>> seen;
    for (const auto& entry : stdfs::recursive_directory_iterator(folder)) {
        const auto status = entry.symlink_status();
        std::string content;
        if (stdfs::is_symlink(status)) content = stdfs::read_symlink(entry.path()).string();
        if (stdfs::is_regular_file(status)) std::getline(std::ifstream(entry.path()), content);
        seen[entry.path().string()] = {static_cast<int>(status.type()), content,
                                       static_cast<unsigned>(status.permissions())};
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    static const stdfs::path scratch =
        stdfs::temp_directory_path() / ("gu-fuzz-walk-" + std::to_string(::getpid()));
    const stdfs::path game = scratch / "game", outside = scratch / "outside",
                      limbo = scratch / "limbo";
    std::error_code ignored;
    stdfs::remove_all(scratch, ignored);
    stdfs::create_directories(outside / "sub" / "deeper");
    stdfs::create_directories(limbo);
    stdfs::create_directories(game);
    for (const auto& file : {outside / "a.txt", outside / "sub" / "b.txt", outside / "ro.txt"}) {
        std::ofstream(file) << file.filename().string();
    }
    stdfs::permissions(outside / "ro.txt", stdfs::perms::owner_read);
    const std::vector<stdfs::path> targets = {outside,
                                              outside / "sub",
                                              outside / "a.txt",
                                              outside / "ro.txt",
                                              outside / "sub" / "deeper",
                                              "../../outside/sub"};
    const auto pick = [&input](const auto& from) {
        return from[input.ConsumeIntegralInRange<std::size_t>(0, from.size() - 1)];
    };

    // A random tree: folders, files (some read-only), links to places outside and inside,
    // second names of a read-only file outside.
    std::vector<stdfs::path> folders = {game}, items;
    for (int i = 0, count = input.ConsumeIntegralInRange(1, 14); i < count; ++i) {
        items.push_back(pick(folders) / ("n" + std::to_string(i)));
        switch (input.ConsumeIntegralInRange(0, 4)) {
            case 0:
                stdfs::create_directory(items.back());
                folders.push_back(items.back());
                break;
            case 1:
                std::ofstream(items.back()) << "x";
                if (input.ConsumeBool()) stdfs::permissions(items.back(), stdfs::perms::owner_read);
                break;
            case 2:
                stdfs::create_symlink(pick(targets), items.back());
                break;
            case 3:
                stdfs::create_hard_link(outside / "ro.txt", items.back());
                break;
            default:  // possibly to a folder above it
                stdfs::create_symlink(pick(folders), items.back());
        }
    }
    const auto before = snapshot(outside);

    // At random moments the item the walk is about to act on, or its folder (the game folder
    // itself included, once it has been opened), becomes a link to the outside.
    int moved = 0;
    platform::sim::state().onFsOp = [&](platform::sim::FsOp, const std::string& path) {
        const stdfs::path at(path);
        if (input.remaining_bytes() == 0 || path.rfind(game.string() + "/", 0) != 0) return;
        const int choice = input.ConsumeIntegralInRange(0, 7);
        const stdfs::path swapped = choice == 0 ? at : at.parent_path();
        if (choice > 1) return;
        std::error_code ec;
        stdfs::rename(swapped, limbo / std::to_string(moved++), ec);
        if (!ec) stdfs::create_symlink(choice == 0 ? pick(targets) : outside / "sub", swapped, ec);
    };

    // One of the three ways the program removes: the engine's walk, the whole-tree
    // removal, one item of a folder.
    std::error_code ec;
    platform::fs::OpenItem top;
    const stdfs::path folder = input.ConsumeBool() ? game : items.front().parent_path();
    try {
        if (platform::fs::openItem(folder, top, ec)) {
            switch (input.ConsumeIntegralInRange(0, 2)) {
                case 0:
                    platform::fs::removeTree(top, folder.native(), platform::fs::RemovalWalk{true},
                                             ec);
                    break;
                case 1:
                    platform::fs::removeAll(top, folder.native(), ec);
                    break;
                default:
                    platform::fs::removeChild(top, items.front().filename().native(),
                                              items.front().native(), ec);
            }
        }
    } catch (const stdfs::filesystem_error&) {
        // A removal may end with an exception; what it left outside is checked all the same.
    }
    platform::sim::state().onFsOp = nullptr;
    FUZZ_CHECK(snapshot(outside) == before);
    stdfs::remove_all(scratch, ignored);
    return 0;
}
