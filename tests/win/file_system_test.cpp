// platform::fs on Wine's file system: status, read-only handling, removal of single items
// and of trees deeper than 260 characters, listings, and error reporting.

#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tests/win/test_support.h"

namespace {

namespace fs = platform::fs;
using fs::ItemKind;
using gu_test::attributesOf;
using gu_test::makeFolder;
using gu_test::narrow;
using gu_test::present;
using gu_test::ScratchFolder;
using gu_test::writeFile;

constexpr std::uintmax_t kFailed = static_cast<std::uintmax_t>(-1);

// True when ec carries this Windows error.
bool isWindowsError(const std::error_code& ec, int error) {
    return ec.value() == error && ec.category() == std::system_category();
}

TEST(FileSystemStatus, ReportsFilesFoldersAndMissingItems) {
    ScratchFolder folder;
    const std::wstring file = folder / L"file.txt";
    writeFile(file);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::itemKind(file), ItemKind::file);
    EXPECT_FALSE(fs::isDirectoryNoThrow(file));
    EXPECT_EQ(fs::itemKind(folder.path()), ItemKind::directory);
    EXPECT_TRUE(fs::isDirectoryNoThrow(folder.path()));
    // Trailing separators and forward slashes name the same items.
    std::wstring forward = folder.path();
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    EXPECT_EQ(fs::itemKind(forward + L"/"), ItemKind::directory);
    EXPECT_TRUE(fs::existsNoThrow(forward + L"/file.txt"));
}

TEST(FileSystemStatus, MissingAndOddNamesAreAbsentWithoutThrowing) {
    ScratchFolder folder;
    writeFile(folder / L"file.txt");
    const std::wstring names[] = {
        L"",
        folder / L"missing",
        folder / L"file.txt\\below",  // a file used as a folder
        folder / L"missing\\below",
        folder / L"a<b",
        folder / L"a?b",
        folder / L"a*b",
        folder / L"a|b",
        folder / L"a:b:c",
        L"Q:\\nothing\\here",
        L"\\\\no-such-server-gu\\share\\x",
        L"C:\\" + std::wstring(40000, L'x'),
    };
    for (const std::wstring& name : names) {
        SCOPED_TRACE(narrow(name.substr(0, 80)));
        EXPECT_NO_THROW(EXPECT_FALSE(fs::exists(name)));
        EXPECT_FALSE(fs::existsNoThrow(name));
        EXPECT_NO_THROW(EXPECT_EQ(fs::itemKind(name), ItemKind::absent));
        EXPECT_FALSE(fs::isDirectoryNoThrow(name));
        EXPECT_NO_THROW(fs::makeWritable(name));
        std::error_code ec;
        EXPECT_FALSE(fs::removeItem(name, ec));
        EXPECT_FALSE(ec) << ec.message();
    }
    // A device name becomes the device path ("\\.\CON"), which is no folder.
    EXPECT_NO_THROW(fs::itemKind(L"CON"));
    EXPECT_FALSE(fs::isDirectoryNoThrow(L"CON"));
}

TEST(FileSystemMakeWritable, ClearsOnlyTheReadOnlyAttributeEvenPast260Characters) {
    ScratchFolder folder;
    makeFolder(folder / std::wstring(200, L'd'));
    const std::wstring file = folder / (std::wstring(200, L'd') + L"\\" + std::wstring(100, L'f'));
    writeFile(file);
    const std::wstring longFile = gu_test::longForm(file);
    ASSERT_TRUE(
        SetFileAttributesW(longFile.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_FALSE(DeleteFileW(longFile.c_str()));

    fs::makeWritable(file);
    EXPECT_EQ(attributesOf(file) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_NE(attributesOf(file) & FILE_ATTRIBUTE_HIDDEN, 0u);
    const DWORD before = attributesOf(file);
    fs::makeWritable(file);  // already writable: unchanged
    EXPECT_EQ(attributesOf(file), before);
    EXPECT_TRUE(DeleteFileW(longFile.c_str())) << GetLastError();
}

TEST(FileSystemRemoveItem, RemovesFilesAndEmptyFoldersAndReportsRefusals) {
    ScratchFolder folder;
    std::error_code ec;
    const std::wstring file = folder / L"file.txt";
    writeFile(file);
    EXPECT_TRUE(fs::removeItem(file, ec));
    EXPECT_FALSE(ec);
    EXPECT_FALSE(present(file));
    EXPECT_FALSE(fs::removeItem(file, ec));  // already gone: no error
    EXPECT_FALSE(ec) << ec.message();

    const std::wstring full = folder / L"full";
    const std::wstring locked = full + L"\\locked.txt";
    makeFolder(full);
    writeFile(locked);
    EXPECT_FALSE(fs::removeItem(full, ec));
    EXPECT_TRUE(isWindowsError(ec, ERROR_DIR_NOT_EMPTY)) << ec.value() << " " << ec.message();

    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(fs::removeItem(locked, ec));
    EXPECT_TRUE(isWindowsError(ec, ERROR_ACCESS_DENIED)) << ec.value() << " " << ec.message();
    EXPECT_TRUE(fs::isAccessDenied(ec));
    EXPECT_TRUE(present(locked));

    fs::makeWritable(locked);
    EXPECT_TRUE(fs::removeItem(locked, ec)) << ec.message();
    EXPECT_TRUE(fs::removeItem(full, ec)) << ec.message();
    EXPECT_FALSE(present(full));

    // The C runtime's form of access denied counts too; other errors do not.
    EXPECT_TRUE(fs::isAccessDenied(std::make_error_code(std::errc::permission_denied)));
    EXPECT_FALSE(
        fs::isAccessDenied(std::error_code(ERROR_SHARING_VIOLATION, std::system_category())));
    EXPECT_FALSE(fs::isAccessDenied(std::error_code()));
}

TEST(FileSystemRemoveAll, RemovesATreeAndCountsEveryItem) {
    ScratchFolder folder;
    const std::wstring root = folder / L"tree";
    makeFolder(root);
    makeFolder(root + L"\\a");
    makeFolder(root + L"\\a\\b");
    makeFolder(root + L"\\empty");
    writeFile(root + L"\\top.txt");
    writeFile(root + L"\\a\\one.txt");
    writeFile(root + L"\\a\\b\\two.txt");
    writeFile(root + L"\\a\\b\\three.txt");
    // Entries are removed while their folder is listed: none may be skipped.
    makeFolder(root + L"\\wide");
    for (int i = 0; i < 1500; ++i) writeFile(root + L"\\wide\\file" + std::to_wstring(i));

    std::error_code ec;
    // 5 folders with the root, 1504 files
    EXPECT_EQ(fs::removeAll(root + L"\\", ec), 1509u);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_FALSE(present(root));

    EXPECT_EQ(fs::removeAll(root, ec), 0u);  // already gone
    EXPECT_FALSE(ec) << ec.message();

    const std::wstring single = folder / L"single.txt";
    writeFile(single);
    EXPECT_EQ(fs::removeAll(single, ec), 1u);
    EXPECT_FALSE(present(single));
}

TEST(FileSystemRemoveAll, StopsAtTheFirstRefusalWithTheWindowsError) {
    ScratchFolder folder;
    const std::wstring root = folder / L"tree";
    makeFolder(root);
    makeFolder(root + L"\\sub");
    const std::wstring locked = root + L"\\sub\\locked.txt";
    writeFile(locked);
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));

    std::error_code ec;
    EXPECT_EQ(fs::removeAll(root, ec), kFailed);
    EXPECT_TRUE(isWindowsError(ec, ERROR_ACCESS_DENIED)) << ec.value() << " " << ec.message();
    EXPECT_TRUE(present(locked));  // the read-only attribute is not cleared
    EXPECT_NE(attributesOf(locked) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(present(root + L"\\sub"));

    fs::makeWritable(locked);
    EXPECT_EQ(fs::removeAll(root, ec), 3u);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_FALSE(present(root));
}

// Stack use is measured by painting free stack below the caller with a marker byte and
// finding afterwards how far down the calls made since then have written. This relies on
// nothing else writing below the stack pointer, which holds on x64 Windows (no red zone)
// and under Wine (signals run on their own stack).
constexpr std::size_t kPaintedBytes = 256 * 1024;
constexpr unsigned char kPaint = 0xA5;

// Fills kPaintedBytes of stack below the caller's frame with the marker; `lowest` gets the
// lowest address painted. noinline keeps the area below the caller's frame.
__attribute__((noinline)) void paintStack(std::uintptr_t& lowest) {
    volatile unsigned char area[kPaintedBytes];
    for (std::size_t i = 0; i < kPaintedBytes; ++i) area[i] = kPaint;
    lowest = reinterpret_cast<std::uintptr_t>(&area[0]);
}

// How many bytes of the painted area have been written since paintStack.
__attribute__((noinline)) std::size_t paintedBytesUsed(std::uintptr_t lowest) {
    const volatile unsigned char* area = reinterpret_cast<const volatile unsigned char*>(lowest);
    std::size_t untouched = 0;
    while (untouched < kPaintedBytes && area[untouched] == kPaint) ++untouched;
    return kPaintedBytes - untouched;
}

// Runs removeAll on root and returns its count, its error and the stack it used.
struct Removal {
    std::uintmax_t removed;
    std::error_code ec;
    std::size_t stackBytes;
};
__attribute__((noinline)) Removal removeAllMeasured(const std::wstring& root) {
    Removal result{};
    std::uintptr_t lowest = 0;
    paintStack(lowest);
    result.removed = fs::removeAll(root, result.ec);
    result.stackBytes = paintedBytesUsed(lowest);
    return result;
}

// Makes a chain of `depth` folders named `name` under root, with a file every 100
// levels; returns the deepest folder and adds the items made to `count`.
std::wstring makeChain(const std::wstring& root, const std::wstring& name, int depth,
                       std::uintmax_t& count) {
    std::wstring path = root;
    for (int level = 1; level <= depth; ++level) {
        path += L"\\" + name;
        if (!CreateDirectoryW(gu_test::longForm(path).c_str(), nullptr)) {
            ADD_FAILURE() << "level " << level << " error " << GetLastError();
            return path;
        }
        ++count;
        if (level % 100 == 0) {
            writeFile(path + L"\\file.txt");
            ++count;
        }
    }
    return path;
}

// 600 levels make paths of about 3,050 characters; Wine maps them to Unix paths, which
// must stay under 4,096 bytes, and its cost per call grows with the depth, so a chain of
// thousands of levels cannot be made here. Instead the stack removeAll uses on the deep
// tree is compared with that on a tree as long in characters but only 13 levels deep:
// with an explicit stack they are the same, while a recursive walk needs hundreds of
// frames more for the deep one.
TEST(FileSystemRemoveAll, RemovesA600LevelTreeWithoutGrowingTheCallStack) {
    ScratchFolder folder;

    const std::wstring shallowRoot = folder / L"shallow";
    makeFolder(shallowRoot);
    std::uintmax_t shallowItems = 1;
    const std::wstring shallowDeepest =
        makeChain(shallowRoot, std::wstring(230, L's'), 13, shallowItems);
    writeFile(shallowDeepest + L"\\end.txt");
    ++shallowItems;

    const std::wstring deepRoot = folder / L"deep";
    makeFolder(deepRoot);
    std::uintmax_t deepItems = 1;
    const std::wstring deepest = makeChain(deepRoot, L"deep", 600, deepItems);
    writeFile(deepest + L"\\end.txt");
    ++deepItems;
    ASSERT_GT(deepest.size(), 3000u);
    ASSERT_GT(shallowDeepest.size(), deepest.size());
    ASSERT_TRUE(present(deepest + L"\\end.txt"));

    const Removal shallow = removeAllMeasured(shallowRoot);
    EXPECT_EQ(shallow.removed, shallowItems);
    EXPECT_FALSE(shallow.ec) << shallow.ec.message();
    EXPECT_FALSE(present(shallowRoot));

    const Removal deep = removeAllMeasured(deepRoot);
    EXPECT_EQ(deep.removed, deepItems);
    EXPECT_FALSE(deep.ec) << deep.ec.message();
    EXPECT_FALSE(present(deepRoot));

    EXPECT_GT(shallow.stackBytes, 0u);
    EXPECT_LT(deep.stackBytes, kPaintedBytes);
    EXPECT_LE(deep.stackBytes, shallow.stackBytes + 2048)
        << "stack use grows with the depth: " << shallow.stackBytes << " bytes at 13 levels, "
        << deep.stackBytes << " at 600";
}

TEST(FileSystemDirectoryLister, ListsEntriesWithKindsAndReportsMissingFolders) {
    ScratchFolder folder;
    const std::wstring dir = folder / std::wstring(200, L'x');  // past 260 with the names below
    makeFolder(dir);
    writeFile(dir + L"\\" + std::wstring(100, L'a'));
    writeFile(dir + L"\\.dotted");
    makeFolder(dir + L"\\sub");
    writeFile(dir + L"\\sub\\inner.txt");

    fs::DirectoryLister lister;
    std::error_code ec;
    ASSERT_TRUE(lister.open(dir + L"\\", ec)) << ec.message();
    std::vector<std::pair<std::wstring, ItemKind>> entries;
    fs::DirEntry entry;
    while (lister.next(entry)) {
        EXPECT_EQ(entry.path.parent_path().wstring(), dir);
        entries.emplace_back(entry.path.filename().wstring(), entry.kind);
    }
    EXPECT_FALSE(lister.next(entry));  // stays at the end
    std::sort(entries.begin(), entries.end());
    const std::vector<std::pair<std::wstring, ItemKind>> expected = {
        {L".dotted", ItemKind::file},
        {std::wstring(100, L'a'), ItemKind::file},
        {L"sub", ItemKind::directory}};
    EXPECT_EQ(entries, expected);

    for (const std::wstring& missing : {folder / L"missing", folder / L"missing\\deeper"}) {
        fs::DirectoryLister failed;
        EXPECT_FALSE(failed.open(missing, ec));
        EXPECT_TRUE(isWindowsError(ec, ERROR_FILE_NOT_FOUND) ||
                    isWindowsError(ec, ERROR_PATH_NOT_FOUND))
            << ec.value() << " " << ec.category().name();
        EXPECT_FALSE(failed.next(entry));
    }
}

TEST(FileSystemDirectoryLister, TellsWhichEntriesAreReadOnlyAsTheirAttributesDo) {
    ScratchFolder folder;
    writeFile(folder / L"writable.txt");
    writeFile(folder / L"readonly.txt");
    writeFile(folder / L"hidden.txt");
    makeFolder(folder / L"sub");
    ASSERT_TRUE(SetFileAttributesW((folder / L"readonly.txt").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW((folder / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));

    fs::DirectoryLister lister;
    std::error_code ec;
    ASSERT_TRUE(lister.open(folder.path(), ec)) << ec.message();
    fs::DirEntry entry;
    int seen = 0;
    while (lister.next(entry)) {
        const std::wstring name = entry.path.filename().wstring();
        SCOPED_TRACE(narrow(name));
        ++seen;
        EXPECT_EQ(entry.readOnly,
                  (attributesOf(entry.path.wstring()) & FILE_ATTRIBUTE_READONLY) != 0);
        if (name == L"readonly.txt") {
            EXPECT_TRUE(entry.readOnly);
        } else {
            EXPECT_FALSE(entry.readOnly);
        }
    }
    EXPECT_EQ(seen, 4);
    ASSERT_TRUE(SetFileAttributesW((folder / L"readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
}

// How one removal ended.
struct Outcome {
    bool removed = false;
    std::error_code ec;
    std::string thrown;  // what() of a filesystem_error, if one was thrown
    bool stays = false;  // something is still at the path

    bool operator==(const Outcome& other) const {
        return removed == other.removed && ec == other.ec && thrown == other.thrown &&
               stays == other.stays;
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    return out << "{removed " << outcome.removed << ", ec " << outcome.ec.value() << "/"
               << outcome.ec.category().name() << ", thrown \"" << outcome.thrown << "\", stays "
               << outcome.stays << "}";
}

// The entry a listing of folder gives for name; fails the test when there is none.
fs::DirEntry listedEntry(const std::wstring& folder, const std::wstring& name) {
    fs::DirectoryLister lister;
    std::error_code ec;
    EXPECT_TRUE(lister.open(folder, ec)) << ec.message();
    fs::DirEntry entry;
    while (lister.next(entry)) {
        if (entry.path.filename().wstring() == name) return entry;
    }
    ADD_FAILURE() << narrow(name) << " not listed in " << narrow(folder);
    return {};
}

// Removes the entry through removeListedEntry (listed) or the two general calls it stands
// for, and records how that ended. The folder's name in an exception text is cut out, so
// that the two ways, run in different folders, compare.
Outcome removeEntry(const fs::DirEntry& entry, bool listed) {
    Outcome outcome;
    try {
        if (listed) {
            outcome.removed = fs::removeListedEntry(entry, outcome.ec);
        } else {
            fs::makeWritable(entry.path);
            outcome.removed = fs::removeItem(entry.path, outcome.ec);
        }
    } catch (const std::filesystem::filesystem_error& error) {
        outcome.thrown = error.what();
        outcome.thrown = outcome.thrown.substr(0, outcome.thrown.find('['));
        outcome.ec = error.code();
    }
    outcome.stays = present(entry.path.wstring());
    return outcome;
}

// A case: `make` puts the item "item" into the folder it is given; `change` alters it
// after the listing. The case is set up twice, removed once by the general calls and once
// by removeListedEntry, and both must end alike. Returns the listed removal's outcome.
using Step = std::function<void(const std::wstring& folder)>;
Outcome expectSameAsGeneralCalls(const ScratchFolder& scratch, const std::wstring& name,
                                 const Step& make, const Step& change) {
    SCOPED_TRACE(narrow(name));
    Outcome outcomes[2];
    makeFolder(scratch / name);
    for (const bool listed : {false, true}) {
        const std::wstring folder = scratch / name + (listed ? L"\\listed" : L"\\general");
        makeFolder(folder);
        make(folder);
        const fs::DirEntry entry = listedEntry(folder, L"item");
        if (change) change(folder);
        outcomes[listed ? 1 : 0] = removeEntry(entry, listed);
    }
    EXPECT_EQ(outcomes[1], outcomes[0]);
    return outcomes[1];
}

TEST(FileSystemRemoveListedEntry, EndsAsTheGeneralCallsForUnchangedItems) {
    ScratchFolder scratch;
    const Step file = [](const std::wstring& f) { writeFile(f + L"\\item"); };
    EXPECT_TRUE(expectSameAsGeneralCalls(scratch, L"writable", file, {}).removed);
    const Outcome readOnly = expectSameAsGeneralCalls(
        scratch, L"readOnly",
        [](const std::wstring& f) {
            writeFile(f + L"\\item");
            ASSERT_TRUE(SetFileAttributesW((f + L"\\item").c_str(),
                                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        },
        {});
    EXPECT_TRUE(readOnly.removed);
    EXPECT_FALSE(readOnly.stays);
    EXPECT_TRUE(expectSameAsGeneralCalls(scratch, L"folder",
                                         [](const std::wstring& f) { makeFolder(f + L"\\item"); },
                                         {})
                    .removed);
    // Past 260 characters.
    const std::wstring longName(240, L'l');
    EXPECT_TRUE(expectSameAsGeneralCalls(scratch, longName, file, {}).removed);
}

TEST(FileSystemRemoveListedEntry, EndsAsTheGeneralCallsForItemsChangedSinceTheListing) {
    ScratchFolder scratch;
    const Step file = [](const std::wstring& f) { writeFile(f + L"\\item"); };
    const Step folder = [](const std::wstring& f) { makeFolder(f + L"\\item"); };

    const Outcome gone = expectSameAsGeneralCalls(
        scratch, L"gone", file,
        [](const std::wstring& f) { ASSERT_TRUE(DeleteFileW((f + L"\\item").c_str())); });
    EXPECT_FALSE(gone.removed);
    EXPECT_FALSE(gone.ec) << gone.ec.message();

    const Outcome refilled =
        expectSameAsGeneralCalls(scratch, L"refilled", folder,
                                 [](const std::wstring& f) { writeFile(f + L"\\item\\new.txt"); });
    EXPECT_FALSE(refilled.removed);
    EXPECT_TRUE(isWindowsError(refilled.ec, ERROR_DIR_NOT_EMPTY)) << refilled;
    EXPECT_TRUE(refilled.stays);

    // Listed as a file, a folder with something in it now; and the other way round.
    const Outcome nowFolder =
        expectSameAsGeneralCalls(scratch, L"nowFolder", file, [](const std::wstring& f) {
            ASSERT_TRUE(DeleteFileW((f + L"\\item").c_str()));
            makeFolder(f + L"\\item");
            writeFile(f + L"\\item\\inside.txt");
        });
    EXPECT_TRUE(isWindowsError(nowFolder.ec, ERROR_DIR_NOT_EMPTY)) << nowFolder;
    EXPECT_TRUE(expectSameAsGeneralCalls(scratch, L"nowFile", folder, [](const std::wstring& f) {
                    ASSERT_TRUE(RemoveDirectoryW((f + L"\\item").c_str()));
                    writeFile(f + L"\\item");
                }).removed);

    // Listed writable, read-only now: the refused delete is followed by the general calls.
    EXPECT_TRUE(expectSameAsGeneralCalls(scratch, L"nowReadOnly", file, [](const std::wstring& f) {
                    ASSERT_TRUE(
                        SetFileAttributesW((f + L"\\item").c_str(), FILE_ATTRIBUTE_READONLY));
                }).removed);
}

TEST(FileSystemRemoveListedEntry, ReportsAFileHeldOpenLikeTheGeneralCalls) {
    ScratchFolder scratch;
    std::vector<HANDLE> held;
    // Held open without FILE_SHARE_DELETE: the delete is refused with a sharing violation.
    const Outcome busy = expectSameAsGeneralCalls(
        scratch, L"busy", [](const std::wstring& f) { writeFile(f + L"\\item"); },
        [&held](const std::wstring& f) {
            const HANDLE file = CreateFileW((f + L"\\item").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
            held.push_back(file);
        });
    for (const HANDLE file : held) CloseHandle(file);
    EXPECT_FALSE(busy.removed);
    EXPECT_TRUE(isWindowsError(busy.ec, ERROR_SHARING_VIOLATION)) << busy;
    EXPECT_TRUE(busy.stays);
}

}  // namespace
