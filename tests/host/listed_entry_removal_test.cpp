// fs::removeListedEntry on the host: whatever the listing said and whatever changed since,
// it must end exactly as fs::makeWritable followed by fs::removeItem would (same result,
// error, exception and end state), and never follow a link. Also the kind the listing
// tells of each entry, which the removal relies on.
#include <functional>
#include <string>

#include "platform/file_system.h"
#include "tests/host/sim_fixture.h"

namespace fs = platform::fs;
namespace sim = platform::sim;

namespace {

// How one removal ended.
struct Outcome {
    bool removed = false;
    std::error_code ec;
    std::string thrown;  // what() of a filesystem_error, with the item's path as "<item>"
    bool stays = false;  // something is still at the path (links not followed)

    bool operator==(const Outcome& other) const {
        return removed == other.removed && ec == other.ec && thrown == other.thrown &&
               stays == other.stays;
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    return out << "{removed " << outcome.removed << ", ec " << outcome.ec.value() << " "
               << outcome.ec.message() << ", thrown \"" << outcome.thrown << "\", stays "
               << outcome.stays << "}";
}

// Runs one way of removing the entry and records how it ended.
Outcome run(const fs::DirEntry& entry,
            const std::function<bool(const fs::DirEntry&, std::error_code&)>& remove) {
    Outcome outcome;
    try {
        outcome.removed = remove(entry, outcome.ec);
    } catch (const stdfs::filesystem_error& error) {
        outcome.thrown = error.what();
        const std::string path = entry.path.string();
        for (auto at = outcome.thrown.find(path); at != std::string::npos;
             at = outcome.thrown.find(path)) {
            outcome.thrown.replace(at, path.size(), "<item>");
        }
        outcome.ec = error.code();
    }
    std::error_code ignored;
    outcome.stays = stdfs::exists(stdfs::symlink_status(entry.path, ignored));
    return outcome;
}

// The two general calls the listed removal stands for.
bool generalCalls(const fs::DirEntry& entry, std::error_code& ec) {
    fs::makeWritable(entry.path);
    return fs::removeItem(entry.path, ec);
}

}  // namespace

class ListedEntryRemoval : public SimTest {
protected:
    // The entry that a listing of `folder` gives for `name`; fails the test when there is none.
    static fs::DirEntry listed(const stdfs::path& folder, const std::string& name) {
        fs::DirectoryLister lister;
        std::error_code ec;
        EXPECT_TRUE(lister.open(folder, ec)) << ec.message();
        fs::DirEntry entry;
        while (lister.next(entry)) {
            if (entry.path.filename() == name) return entry;
        }
        ADD_FAILURE() << name << " not listed in " << folder;
        return {};
    }

    // A case: `make` puts the item "item" into the folder it is given, `change` alters it
    // after the listing (or does nothing). The case is set up twice; one copy is removed
    // by the general calls, the other by removeListedEntry, and both must end alike.
    // Returns the listed removal's outcome, for checks of its own.
    Outcome expectSameAsGeneralCalls(const std::string& name,
                                     const std::function<void(const stdfs::path&)>& make,
                                     const std::function<void(const stdfs::path&)>& change,
                                     const std::function<void(const stdfs::path&)>& faults = {}) {
        SCOPED_TRACE(name);
        Outcome outcomes[2];
        for (int way = 0; way < 2; ++way) {
            const stdfs::path folder = games / name / (way == 0 ? "general" : "listed");
            stdfs::create_directories(folder);
            make(folder);
            const fs::DirEntry entry = listed(folder, "item");
            change(folder);
            if (faults) faults(folder);
            outcomes[way] = way == 0 ? run(entry, generalCalls) : run(entry, fs::removeListedEntry);
        }
        EXPECT_EQ(outcomes[1], outcomes[0]);
        return outcomes[1];
    }
};

TEST_F(ListedEntryRemoval, ListingTellsKinds) {
    const stdfs::path folder = games / "G";
    writeFile(folder / "readonly.txt");
    stdfs::permissions(folder / "readonly.txt", stdfs::perms::owner_read);
    stdfs::create_directories(folder / "sub");
    stdfs::create_directory_symlink(folder / "sub", folder / "link");
    stdfs::create_symlink(folder / "readonly.txt", folder / "filelink");

    EXPECT_EQ(listed(folder, "readonly.txt").kind, fs::ItemKind::file);
    EXPECT_EQ(listed(folder, "sub").kind, fs::ItemKind::directory);
    EXPECT_EQ(listed(folder, "link").kind, fs::ItemKind::link);
    EXPECT_EQ(listed(folder, "filelink").kind, fs::ItemKind::link);
    // An entry not made by a listing tells nothing: it takes the general way.
    EXPECT_EQ(fs::DirEntry().kind, fs::ItemKind::absent);
}

TEST_F(ListedEntryRemoval, UnchangedItemsEndAsWithTheGeneralCalls) {
    const auto nothing = [](const stdfs::path&) {};
    EXPECT_TRUE(expectSameAsGeneralCalls(
                    "writableFile", [](const stdfs::path& f) { writeFile(f / "item"); }, nothing)
                    .removed);
    const Outcome readOnly = expectSameAsGeneralCalls(
        "readOnlyFile",
        [](const stdfs::path& f) {
            writeFile(f / "item");
            stdfs::permissions(f / "item", stdfs::perms::owner_read);
        },
        nothing);
    EXPECT_TRUE(readOnly.removed);
    EXPECT_FALSE(readOnly.stays);
    EXPECT_TRUE(expectSameAsGeneralCalls(
                    "emptyFolder",
                    [](const stdfs::path& f) { stdfs::create_directory(f / "item"); }, nothing)
                    .removed);
    EXPECT_TRUE(expectSameAsGeneralCalls(
                    "readOnlyFolder",
                    [](const stdfs::path& f) {
                        stdfs::create_directory(f / "item");
                        stdfs::permissions(f / "item",
                                           stdfs::perms::owner_read | stdfs::perms::owner_exec);
                    },
                    nothing)
                    .removed);
}

TEST_F(ListedEntryRemoval, ItemsChangedSinceTheListingEndAsWithTheGeneralCalls) {
    const auto makeFile = [](const stdfs::path& f) { writeFile(f / "item"); };
    const auto makeFolder = [](const stdfs::path& f) { stdfs::create_directory(f / "item"); };

    // Gone since the listing: no error, nothing removed.
    const Outcome gone = expectSameAsGeneralCalls(
        "vanished", makeFile, [](const stdfs::path& f) { stdfs::remove(f / "item"); });
    EXPECT_FALSE(gone.removed);
    EXPECT_FALSE(gone.ec);

    // A folder that filled up again: refused as not empty, and it stays.
    const Outcome refilled = expectSameAsGeneralCalls(
        "refilled", makeFolder, [](const stdfs::path& f) { writeFile(f / "item" / "new.txt"); });
    EXPECT_FALSE(refilled.removed);
    EXPECT_EQ(refilled.ec, std::errc::directory_not_empty);
    EXPECT_TRUE(refilled.stays);

    // Listed as a file, a folder now (and the other way round).
    const Outcome nowFolder =
        expectSameAsGeneralCalls("nowFolder", makeFile, [](const stdfs::path& f) {
            stdfs::remove(f / "item");
            writeFile(f / "item" / "inside.txt");
        });
    EXPECT_EQ(nowFolder.ec, std::errc::directory_not_empty);
    EXPECT_TRUE(expectSameAsGeneralCalls("nowFile", makeFolder, [](const stdfs::path& f) {
                    stdfs::remove(f / "item");
                    writeFile(f / "item");
                }).removed);

    // Listed writable, read-only now: removed all the same.
    EXPECT_TRUE(expectSameAsGeneralCalls("nowReadOnly", makeFile, [](const stdfs::path& f) {
                    stdfs::permissions(f / "item", stdfs::perms::owner_read);
                }).removed);
}

TEST_F(ListedEntryRemoval, LinksAreRemovedNeverFollowed) {
    const stdfs::path outside = root / "outside";
    writeFile(outside / "canary.txt", "canary");
    stdfs::permissions(outside / "canary.txt", stdfs::perms::owner_read);
    const auto nothing = [](const stdfs::path&) {};

    // Listed as links, to a folder and to a read-only file.
    EXPECT_TRUE(
        expectSameAsGeneralCalls(
            "folderLink",
            [&](const stdfs::path& f) { stdfs::create_directory_symlink(outside, f / "item"); },
            nothing)
            .removed);
    EXPECT_TRUE(expectSameAsGeneralCalls(
                    "fileLink",
                    [&](const stdfs::path& f) {
                        stdfs::create_symlink(outside / "canary.txt", f / "item");
                    },
                    nothing)
                    .removed);
    // Listed as a plain folder, a link to the outside folder by the time it is removed.
    EXPECT_TRUE(expectSameAsGeneralCalls(
                    "nowLink", [](const stdfs::path& f) { stdfs::create_directory(f / "item"); },
                    [&](const stdfs::path& f) {
                        stdfs::remove(f / "item");
                        stdfs::create_directory_symlink(outside, f / "item");
                    })
                    .removed);

    EXPECT_TRUE(stdfs::exists(outside / "canary.txt"));
    EXPECT_EQ(stdfs::status(outside / "canary.txt").permissions() & stdfs::perms::owner_write,
              stdfs::perms::none);
}

TEST_F(ListedEntryRemoval, InjectedFaultsStillSurfaceWhereTheyArePut) {
    const auto makeFile = [](const stdfs::path& f) { writeFile(f / "item"); };
    const auto nothing = [](const stdfs::path&) {};
    const auto inject = [](sim::FsOp op, std::errc error) {
        return [op, error](const stdfs::path& f) {
            sim::injectFault(op, (f / "item").wstring(), std::make_error_code(error));
        };
    };

    // A writable file whose read-only attribute could not be cleared: "permissions".
    const Outcome permissions =
        expectSameAsGeneralCalls("permissions", makeFile, nothing,
                                 inject(sim::FsOp::makeWritable, std::errc::permission_denied));
    EXPECT_EQ(permissions.thrown.rfind("filesystem error: permissions: ", 0), 0u)
        << permissions.thrown;
    EXPECT_NE(permissions.thrown.find("<item>"), std::string::npos) << permissions.thrown;
    EXPECT_TRUE(permissions.stays);

    // A status that cannot be read: the existence check throws.
    const Outcome status = expectSameAsGeneralCalls("status", makeFile, nothing,
                                                    inject(sim::FsOp::status, std::errc::io_error));
    EXPECT_EQ(status.thrown.rfind("filesystem error: exists: ", 0), 0u) << status.thrown;
    EXPECT_TRUE(status.stays);

    // A refused removal: reported in the error code, the file stays.
    const Outcome refused =
        expectSameAsGeneralCalls("refused", makeFile, nothing,
                                 inject(sim::FsOp::remove, std::errc::device_or_resource_busy));
    EXPECT_FALSE(refused.removed);
    EXPECT_EQ(refused.ec, std::errc::device_or_resource_busy);
    EXPECT_TRUE(refused.thrown.empty());
    EXPECT_TRUE(refused.stays);
}

TEST_F(ListedEntryRemoval, ListingStaysAtItsEndAndReportsFailures) {
    const stdfs::path folder = games / "G";
    writeFile(folder / "only.txt");
    fs::DirectoryLister lister;
    std::error_code ec;
    ASSERT_TRUE(lister.open(folder, ec)) << ec.message();
    fs::DirEntry entry;
    ASSERT_TRUE(lister.next(entry));
    EXPECT_EQ(entry.path, folder / "only.txt");
    EXPECT_FALSE(lister.next(entry));
    EXPECT_FALSE(lister.next(entry));  // stays at the end

    // A file or a missing folder cannot be listed; the error is the host's own.
    fs::DirectoryLister onFile;
    EXPECT_FALSE(onFile.open(folder / "only.txt", ec));
    EXPECT_EQ(ec, std::errc::not_a_directory);
    EXPECT_FALSE(onFile.next(entry));
    EXPECT_FALSE(onFile.open(folder / "missing", ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);

    // Moving past an entry that fails names that entry, also when it was the last one.
    sim::injectFault(sim::FsOp::advance, (folder / "only.txt").wstring(),
                     std::make_error_code(std::errc::io_error));
    fs::DirectoryLister failing;
    ASSERT_TRUE(failing.open(folder, ec)) << ec.message();
    ASSERT_TRUE(failing.next(entry));
    try {
        failing.next(entry);
        ADD_FAILURE() << "no exception";
    } catch (const stdfs::filesystem_error& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("filesystem error: directory_iterator::operator++", 0),
            0u)
            << error.what();
        EXPECT_EQ(error.path1(), folder / "only.txt");
        EXPECT_EQ(error.code(), std::errc::io_error);
    }
    EXPECT_FALSE(failing.next(entry));
}
