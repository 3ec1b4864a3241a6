// The one removal walk on the host's descriptors while an item changes, or an operation
// fails, just before the walk acts on it: nothing outside the game folder changes, and the
// walk ends as the change allows.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "platform/file_system.h"
#include "platform/sim/fs_hook.h"

namespace stdfs = std::filesystem;
namespace fs = platform::fs;
using platform::sim::FsOp;
using Paths = std::vector<std::string>;

// Everything below the folder, links not followed: each file's text and permissions, each
// link's target.
std::map<std::string, std::string> snapshot(const stdfs::path& folder) {
    std::map<std::string, std::string> seen;
    for (const auto& entry : stdfs::recursive_directory_iterator(folder)) {
        std::string& what = seen[entry.path().string()];
        if (entry.is_symlink()) what = "-> " + stdfs::read_symlink(entry.path()).string();
        if (!entry.is_symlink() && entry.is_regular_file()) {
            std::getline(std::ifstream(entry.path()), what);
            what += " " + std::to_string(static_cast<int>(entry.status().permissions()));
        }
    }
    return seen;
}

// The failures the last removeGame reported, in order (for the captureless callback).
Paths gFailures;

// Opens the game folder and removes it: the engine's walk, or the whole-tree removal.
std::uintmax_t removeGame(const stdfs::path& game, bool wholeTree, std::error_code& ec) {
    gFailures.clear();
    const fs::RemovalWalk walk{!wholeTree, [](const fs::RemovalFailure& failure) {
                                   gFailures.push_back(failure.path);
                               }};
    fs::OpenItem top;
    if (!fs::openItem(game, top, ec)) return 0;
    return fs::removeTree(top, game.native(), walk, ec);
}

TEST(Walk, ItemChangedOrFailingBeforeTheWalkActsOnItLeadsNowhereElse) {
    const stdfs::path root =
        stdfs::temp_directory_path() / ("gu-walk-" + std::to_string(::getpid()));
    const stdfs::path game = root / "game", outside = root / "outside", item = game / "item";
    const auto toLink = [&](const stdfs::path& at) {
        stdfs::remove_all(at);
        stdfs::create_directory_symlink(outside, at);
    };
    // The game folder, already open, moved away and a link to the outside put at its name.
    const auto gameToLink = [&](const stdfs::path&) {
        stdfs::rename(game, root / "moved");
        stdfs::create_directory_symlink(outside, game);
    };
    // (what, the item a folder, the operation before which it changes, the change, the error
    // that then fails the operation, the whole-tree removal or the engine's walk, what the
    // engine's walk reports, or throws, or the whole-tree removal's error, what remains)
    const std::tuple<const char*, bool, FsOp, std::function<void(const stdfs::path&)>, std::errc,
                     bool, Paths, Paths>
        rows[] = {
            // clang-format off
        {"file gone", false, FsOp::status, [](auto& i) { stdfs::remove(i); }, {}, false, {}, {}},
        {"file now a folder", false, FsOp::status, [](auto& i) { stdfs::remove(i), stdfs::create_directories(i / "new"); }, {}, false, {}, {}},
        {"file now a link", false, FsOp::status, [&](auto& i) { stdfs::remove(i), stdfs::create_symlink(outside / "canary", i); }, {}, false, {}, {}},
        {"file now a second name of a read-only file outside", false, FsOp::status, [&](auto& i) { stdfs::remove(i), stdfs::create_hard_link(outside / "canary", i); }, {}, false, {}, {}},
        {"game folder now a link (what remains is the outside's)", false, FsOp::status, gameToLink, {}, false, {"."}, {"canary", "sub", "sub/canary"}},
        {"folder now a link before it is opened", true, FsOp::list, toLink, {}, false, {}, {}},
        {"folder not itself", true, FsOp::identity, nullptr, std::errc::too_many_symbolic_link_levels, false, {"item", "."}, {"item", "item/inner"}},
        {"folder refilled before its delete", true, FsOp::remove, [](auto& i) { std::ofstream(i / "late"); }, {}, false, {"item", "."}, {"item", "item/late"}},
        {"folder now a link before its delete", true, FsOp::remove, toLink, {}, false, {"item", "."}, {"item"}},
        {"folder now a link, whole tree", true, FsOp::list, toLink, {}, true, {"0"}, {}},
        {"unlistable folder", true, FsOp::list, nullptr, std::errc::resource_unavailable_try_again, false, {"item", "."}, {"item", "item/inner"}},
        {"listing failing past its first entry", true, FsOp::advance, nullptr, std::errc::io_error, false, {"throws"}, {"item"}},
        {"file that stays", false, FsOp::remove, nullptr, std::errc::device_or_resource_busy, false, {"item", "."}, {"item"}},
        {"file that stays, whole tree", false, FsOp::remove, nullptr, std::errc::device_or_resource_busy, true, {"16"}, {"item"}},
            // clang-format on
        };
    for (const auto& [name, folder, when, change, error, wholeTree, reported, left] : rows) {
        SCOPED_TRACE(name);
        stdfs::remove_all(root);
        stdfs::create_directories(outside / "sub");
        std::ofstream(outside / "canary") << "canary";
        std::ofstream(outside / "sub" / "canary") << "canary";
        stdfs::permissions(outside / "canary", stdfs::perms::owner_read);
        stdfs::create_directories(folder ? item : game);
        std::ofstream(folder ? item / "inner" : item) << "x";
        const auto before = snapshot(outside);
        bool changed = false;
        platform::sim::fsHook = [&, when = when, change = change, error = error](
                                    FsOp op, const std::string& path) {
            if (changed || op != when || path != item.string()) return std::error_code();
            changed = true;
            if (change) change(item);
            return std::make_error_code(error);
        };
        Paths& failures = gFailures;
        std::error_code ec;
        try {
            removeGame(game, wholeTree, ec);
            for (auto& path : failures) path = stdfs::path(path).lexically_relative(game).string();
        } catch (const stdfs::filesystem_error&) {
            failures = {"throws"};
        }
        platform::sim::fsHook = nullptr;  // it refers to this row's locals
        Paths remains;
        for (const auto& [path, what] : stdfs::exists(game) ? snapshot(game) : decltype(before){}) {
            remains.push_back(stdfs::path(path).lexically_relative(game).string());
        }
        EXPECT_TRUE(changed);
        EXPECT_EQ(wholeTree ? Paths{std::to_string(ec.value())} : failures, reported);
        EXPECT_EQ(remains, left);
        EXPECT_EQ(snapshot(outside), before);
    }
    stdfs::remove_all(root);
}

// Every item below the folder, depth-first in listing order, each folder after its entries.
void listingOrder(const std::string& folder, Paths& out) {
    DIR* listing = ::opendir(folder.c_str());
    for (const dirent* entry; (entry = ::readdir(listing)) != nullptr;) {
        const std::string name = entry->d_name, path = folder + "/" + name;
        if (name == "." || name == "..") continue;
        if (entry->d_type == DT_DIR) listingOrder(path, out);
        if (entry->d_type != DT_DIR) out.push_back(path);
    }
    ::closedir(listing);
    out.push_back(folder);
}

// With the deletion workers running (under the thread sanitizer in host-tsan), whatever
// they finish first: failures come out in the order of a walk without them, the walking
// thread's own (a folder it cannot list) among them, and the whole-tree removal ends at the
// first in that order. Every 7th file refuses deletion; folder d2 cannot be listed; folder
// f, a chain of folders deeper than the walk enters ahead of their checks, and the empty
// folder e are not themselves: nothing below f is touched, and the walk lists no more
// than 64 folders into it before it knows.
TEST(Walk, ReportsInListingOrderWhateverTheWorkersFinishFirst) {
    const stdfs::path game =
        stdfs::temp_directory_path() / ("gu-order-" + std::to_string(::getpid()));
    const std::string unlistable = (game / "d2").string(), notItself = (game / "f").string(),
                      emptyNotItself = (game / "e").string();
    const auto refused = [](const std::string& path) {
        return !stdfs::is_directory(path) && std::stoi(stdfs::path(path).filename()) % 7 == 0;
    };
    const auto stays = [&](const std::string& path) {
        return path == unlistable || path == notItself || path == emptyNotItself || refused(path);
    };
    const auto unseen = [&](const std::string& path) {
        return path.rfind(unlistable + "/", 0) == 0 || path.rfind(notItself + "/", 0) == 0;
    };
    for (const bool wholeTree : {false, true}) {
        SCOPED_TRACE(wholeTree ? "whole-tree removal" : "engine's walk");
        stdfs::remove_all(game);
        for (int i = 0; i < 300; ++i) {
            const stdfs::path folder = i % 5 == 4 ? game : game / ("d" + std::to_string(i % 5));
            stdfs::create_directories(folder);
            std::ofstream(folder / std::to_string(i)) << "x";
        }
        stdfs::create_directory(emptyNotItself);
        stdfs::path chain = notItself;
        stdfs::create_directory(chain);
        for (int depth = 0; depth < 100; ++depth) stdfs::create_directory(chain /= "c");
        std::ofstream(chain / "1") << "x";
        const auto belowNotItself = snapshot(notItself);
        Paths order, expected;
        listingOrder(game.string(), order);
        for (const auto& path : order) {
            const bool holds = std::any_of(order.begin(), order.end(), [&](const auto& inner) {
                return inner.rfind(path + "/", 0) == 0 && !unseen(inner) && stays(inner);
            });
            if (!unseen(path) && (stays(path) || holds)) expected.push_back(path);
        }
        std::size_t deepestListed = 0;  // below f, in folders
        platform::sim::fsHook = [&](FsOp op, const std::string& path) {
            if (op == FsOp::list && unseen(path)) {
                deepestListed = std::max(deepestListed, path.size() / 2 - notItself.size() / 2);
            }
            const bool fails =
                (op == FsOp::remove && refused(path)) || (op == FsOp::list && path == unlistable) ||
                (op == FsOp::identity && (path == notItself || path == emptyNotItself));
            return fails ? std::make_error_code(std::errc::io_error) : std::error_code();
        };
        Paths& failures = gFailures;
        std::error_code ec;
        const std::uintmax_t removed = removeGame(game, wholeTree, ec);
        platform::sim::fsHook = nullptr;
        EXPECT_EQ(failures, wholeTree ? Paths{expected.front()} : expected);
        const auto walked = order.size() - std::count_if(order.begin(), order.end(), unseen);
        EXPECT_EQ(removed, wholeTree ? static_cast<std::uintmax_t>(-1) : walked - expected.size());
        if (!wholeTree) {
            EXPECT_EQ(snapshot(notItself), belowNotItself);
            EXPECT_LE(deepestListed, 64U);
        }
    }
    stdfs::remove_all(game);
}
