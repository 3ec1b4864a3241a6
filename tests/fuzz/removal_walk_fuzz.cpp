// The removal walk on random small game trees holding links that lead inside and outside,
// while folders and files are swapped for links at random moments (through the host
// double's hook before each handle-level operation). Whatever happens, nothing outside
// the game folder changes: no item outside appears, goes, or changes its content, kind,
// link target or permissions.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_common.h"
#include "platform/file_system.h"
#include "platform/sim/sim_control.h"

namespace {

namespace stdfs = std::filesystem;
namespace fs = platform::fs;

// The scratch folder: game/ is removed, outside/ must stay as it was, limbo/ receives what
// the swaps move away.
stdfs::path gScratch;

// An item as seen without following links: kind, then content or link target, then mode.
using Seen = std::tuple<int, std::string, unsigned>;

// Everything below folder, links not followed.
std::map<std::string, Seen> snapshot(const stdfs::path& folder) {
    std::map<std::string, Seen> seen;
    for (auto it = stdfs::recursive_directory_iterator(folder);
         it != stdfs::recursive_directory_iterator(); ++it) {
        const auto status = it->symlink_status();
        std::string content;
        if (stdfs::is_symlink(status)) {
            content = stdfs::read_symlink(it->path()).string();
        } else if (stdfs::is_regular_file(status)) {
            std::ifstream in(it->path(), std::ios::binary);
            content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        seen[stdfs::relative(it->path(), folder).string()] = Seen{
            static_cast<int>(status.type()), content, static_cast<unsigned>(status.permissions())};
    }
    return seen;
}

// Writes a file with the text.
void write(const stdfs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// The outside: folders and files that links lead to, one of them read-only.
void makeOutside(const stdfs::path& outside) {
    stdfs::create_directories(outside / "sub" / "deeper");
    write(outside / "a.txt", "a");
    write(outside / "sub" / "b.txt", "b");
    write(outside / "sub" / "deeper" / "c.txt", "c");
    write(outside / "ro.txt", "ro");
    stdfs::permissions(outside / "ro.txt", stdfs::perms::owner_read);
}

// Replaces the item at path with a link to target, moving the item to limbo.
void swapForLink(const stdfs::path& path, const stdfs::path& target, int& moved) {
    std::error_code ec;
    stdfs::rename(path, gScratch / "limbo" / std::to_string(moved++), ec);
    if (ec) return;
    stdfs::create_symlink(target, path, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gScratch = stdfs::temp_directory_path() / ("gu-fuzz-walk-" + std::to_string(::getpid()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::error_code ignored;
    stdfs::remove_all(gScratch, ignored);
    const stdfs::path game = gScratch / "game";
    const stdfs::path outside = gScratch / "outside";
    stdfs::create_directories(game);
    stdfs::create_directories(gScratch / "limbo");
    makeOutside(outside);
    const std::vector<stdfs::path> targets = {outside, outside / "sub", outside / "a.txt",
                                              outside / "ro.txt", outside / "sub" / "deeper"};

    // A random tree: folders, files (some read-only) and links to places inside and out.
    std::vector<stdfs::path> folders = {game};
    std::vector<stdfs::path> items;
    const int count = input.ConsumeIntegralInRange(1, 14);
    for (int i = 0; i < count; ++i) {
        const stdfs::path at =
            folders[input.ConsumeIntegralInRange<std::size_t>(0, folders.size() - 1)] /
            ("n" + std::to_string(i));
        switch (input.ConsumeIntegralInRange(0, 4)) {
            case 0:
                stdfs::create_directory(at);
                folders.push_back(at);
                break;
            case 1:
                write(at, "x");
                if (input.ConsumeBool()) stdfs::permissions(at, stdfs::perms::owner_read);
                break;
            case 2:
                stdfs::create_symlink(
                    targets[input.ConsumeIntegralInRange<std::size_t>(0, targets.size() - 1)], at);
                break;
            case 3:  // a link inside the game, possibly to a folder above it
                stdfs::create_symlink(
                    folders[input.ConsumeIntegralInRange<std::size_t>(0, folders.size() - 1)], at);
                break;
            default:
                stdfs::create_symlink("../../outside/sub", at);  // relative, leading out
                break;
        }
        items.push_back(at);
    }
    const auto before = snapshot(outside);

    // Swaps at random moments: the item the walk is about to act on, or its folder, becomes
    // a link to the outside.
    int moved = 0;
    const std::string gameText = game.string() + "/";
    platform::sim::onFsOp([&](platform::sim::FsOp, const std::string& path) {
        if (input.remaining_bytes() == 0 || path.compare(0, gameText.size(), gameText) != 0) {
            return;
        }
        switch (input.ConsumeIntegralInRange(0, 7)) {
            case 0:
                swapForLink(
                    path, targets[input.ConsumeIntegralInRange<std::size_t>(0, targets.size() - 1)],
                    moved);
                break;
            case 1:
                if (stdfs::path(path).parent_path() != game) {
                    swapForLink(stdfs::path(path).parent_path(), outside / "sub", moved);
                }
                break;
            default:
                break;
        }
    });

    // One of the three ways the program removes: the engine's walk, the whole-tree
    // removal, one item of a folder.
    std::error_code ec;
    try {
        switch (input.ConsumeIntegralInRange(0, 2)) {
            case 0: {
                fs::RemovalWalk own;
                own.ownRemoval = true;
                fs::removeTree(game, own, ec);
                break;
            }
            case 1:
                fs::removeAll(game, ec);
                break;
            default:
                fs::removeChild(items.front().parent_path(), items.front().filename().native(), ec);
                break;
        }
    } catch (const stdfs::filesystem_error&) {
        // A removal may end with an exception; what it left outside is checked all the same.
    }
    platform::sim::onFsOp(nullptr);
    FUZZ_CHECK(snapshot(outside) == before);
    stdfs::remove_all(gScratch, ignored);
    return 0;
}
