// platform::fs on Wine's file system: status, read-only handling, removal of single items
// and of trees deeper than 260 characters, the handle-level operations, and error reporting.

#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <system_error>
#include <tuple>
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
    EXPECT_EQ(fs::itemKind(folder.path()), ItemKind::directory);
    // Trailing separators and forward slashes name the same items.
    std::wstring forward = folder.path();
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    EXPECT_EQ(fs::itemKind(forward + L"/"), ItemKind::directory);
    EXPECT_TRUE(fs::exists(forward + L"/file.txt"));
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
        EXPECT_NO_THROW(EXPECT_EQ(fs::itemKind(name), ItemKind::absent));
        EXPECT_NO_THROW(fs::makeWritable(name));
        std::error_code ec;
        EXPECT_FALSE(fs::removeItem(name, ec));
        EXPECT_FALSE(ec) << ec.message();
    }
    // A device name becomes the device path ("\\.\CON"), which is no folder.
    EXPECT_NE(fs::itemKind(L"CON"), ItemKind::directory);
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

// The handle-level operations report the Windows errors the removal's callers test: 145 for
// a folder that is not empty, 5 for a read-only file, 32 for a file held open without
// FILE_SHARE_DELETE; the listing gives names past 260 characters with their attributes.
TEST(FileSystemByHandle, ListsOpensAndDeletesWithTheWindowsErrors) {
    ScratchFolder scratch;
    const std::wstring dir = scratch / std::wstring(200, L'x');  // past 260 with the names
    makeFolder(dir);
    const std::wstring longName(100, L'a');
    writeFile(dir + L"\\" + longName);
    writeFile(dir + L"\\readonly.txt");
    ASSERT_TRUE(SetFileAttributesW(gu_test::longForm(dir + L"\\readonly.txt").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    writeFile(dir + L"\\busy.txt");
    makeFolder(dir + L"\\sub");
    writeFile(dir + L"\\sub\\inner.txt");
    const HANDLE busy = CreateFileW(gu_test::longForm(dir + L"\\busy.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE) << GetLastError();

    std::error_code ec;
    fs::OpenItem top;
    ASSERT_TRUE(fs::openItem(dir + L"\\", top, ec)) << ec.message();
    EXPECT_EQ(fs::kindOf(top), ItemKind::directory);
    std::vector<std::tuple<std::wstring, ItemKind, bool>> listed;
    fs::ListedEntry entry;
    while (fs::nextEntry(top, entry, ec))
        listed.emplace_back(entry.name, entry.kind, entry.readOnly);
    EXPECT_FALSE(ec) << ec.message();
    std::sort(listed.begin(), listed.end());
    const std::vector<std::tuple<std::wstring, ItemKind, bool>> expected = {
        {longName, ItemKind::file, false},
        {L"busy.txt", ItemKind::file, false},
        {L"readonly.txt", ItemKind::file, true},
        {L"sub", ItemKind::directory, false}};
    EXPECT_EQ(listed, expected);

    // Opens an entry, listed as `kind`, by name below the open folder.
    const auto child = [&](const std::wstring& name, ItemKind kind, fs::OpenItem& item) {
        fs::ListedEntry listedEntry;
        listedEntry.name = name;
        listedEntry.kind = kind;
        return fs::openChild(top, listedEntry, dir + L"\\" + name, item, ec);
    };
    fs::OpenItem item;
    EXPECT_FALSE(child(L"busy.txt", ItemKind::file, item));
    EXPECT_TRUE(isWindowsError(ec, ERROR_SHARING_VIOLATION)) << ec.value();
    EXPECT_FALSE(child(L"missing", ItemKind::file, item));
    EXPECT_TRUE(fs::isNotFound(ec)) << ec.value();

    ASSERT_TRUE(child(L"readonly.txt", ItemKind::file, item)) << ec.message();
    EXPECT_TRUE(fs::isReadOnly(item));
    EXPECT_FALSE(fs::deleteItem(item, ec));
    EXPECT_TRUE(isWindowsError(ec, ERROR_ACCESS_DENIED)) << ec.value();
    EXPECT_TRUE(fs::isAccessDenied(ec));
    EXPECT_TRUE(fs::clearReadOnly(item, ec)) << ec.message();
    EXPECT_NE(attributesOf(dir + L"\\readonly.txt") & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_TRUE(fs::deleteItem(item, ec)) << ec.message();
    EXPECT_FALSE(item);
    EXPECT_FALSE(present(dir + L"\\readonly.txt"));

    // A folder listed as one is opened as one; a file in its place is opened as a file.
    ASSERT_TRUE(child(L"sub", ItemKind::directory, item)) << ec.message();
    EXPECT_EQ(fs::kindOf(item), ItemKind::directory);
    EXPECT_FALSE(fs::deleteItem(item, ec));
    EXPECT_TRUE(isWindowsError(ec, ERROR_DIR_NOT_EMPTY)) << ec.value();
    ASSERT_TRUE(child(longName, ItemKind::directory, item)) << ec.message();
    EXPECT_EQ(fs::kindOf(item), ItemKind::file);
    EXPECT_TRUE(fs::isItself(top, item, longName, ec)) << ec.value();
    EXPECT_TRUE(fs::deleteItem(item, ec)) << ec.message();
    EXPECT_FALSE(present(dir + L"\\" + longName));
    CloseHandle(busy);
}

// The engine's walk clears read-only attributes, goes on past a file in use and reports
// each failure once, with its Windows error.
TEST(FileSystemByHandle, OwnRemovalGoesOnPastFailures) {
    ScratchFolder scratch;
    const std::wstring root = scratch / L"tree";
    makeFolder(root);
    makeFolder(root + L"\\sub");
    writeFile(root + L"\\sub\\readonly.txt");
    ASSERT_TRUE(
        SetFileAttributesW((root + L"\\sub\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW((root + L"\\sub").c_str(), FILE_ATTRIBUTE_READONLY));
    writeFile(root + L"\\busy.txt");
    const HANDLE busy = CreateFileW((root + L"\\busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE) << GetLastError();

    static std::vector<std::pair<std::wstring, int>> failures;
    failures.clear();
    fs::RemovalWalk walk;
    walk.ownRemoval = true;
    walk.onFailure = [](const fs::RemovalFailure& failure) {
        failures.emplace_back(failure.path, failure.ec.value());
    };
    std::error_code ec;
    EXPECT_EQ(fs::removeTree(root, walk, ec), 2u);  // sub and its file
    CloseHandle(busy);
    const std::vector<std::pair<std::wstring, int>> expected = {
        {root + L"\\busy.txt", ERROR_SHARING_VIOLATION}, {root, ERROR_DIR_NOT_EMPTY}};
    EXPECT_EQ(failures, expected);
    EXPECT_FALSE(present(root + L"\\sub"));
    EXPECT_TRUE(present(root + L"\\busy.txt"));
}

}  // namespace
