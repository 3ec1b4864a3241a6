// platform::fs on Wine's file system, where it is Win32 behaviour: the status of odd names,
// read-only attributes by path and through handles, the Windows error codes, names and
// trees past 260 characters, and a 600-level tree removed without growing the call stack.
// The walk's own logic is tested on the host.

#include "platform/file_system.h"

#include <algorithm>
#include <cstdint>
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

// ec as "<value>/<category>", so that rows compare the Windows error and its kind at once.
std::string code(const std::error_code& ec) {
    return ec ? std::to_string(ec.value()) + "/" + ec.category().name() : "0";
}
std::string windowsError(DWORD error) {
    return code({static_cast<int>(error), std::system_category()});
}

TEST(FileSystemStatus, KindsOfFilesFoldersAndOddNamesWithoutThrowing) {
    ScratchFolder folder;
    writeFile(folder / L"file.txt");
    const std::pair<std::wstring, ItemKind> rows[] = {
        {folder / L"file.txt", ItemKind::file},
        {folder.path(), ItemKind::directory},
        {folder.path() + L"\\", ItemKind::directory},
        {L"", ItemKind::absent},
        {folder / L"missing", ItemKind::absent},
        {folder / L"file.txt\\below", ItemKind::absent},  // a file used as a folder
        {folder / L"missing\\below", ItemKind::absent},
        {folder / L"a<b", ItemKind::absent},
        {folder / L"a?b*c|d", ItemKind::absent},
        {folder / L"a:b:c", ItemKind::absent},
        {L"Q:\\nothing\\here", ItemKind::absent},
        {L"\\\\no-such-server-gu\\share\\x", ItemKind::absent},
        {L"C:\\" + std::wstring(40000, L'x'), ItemKind::absent},
    };
    for (const auto& [name, kind] : rows) {
        SCOPED_TRACE(narrow(name.substr(0, 80)));
        EXPECT_NO_THROW(EXPECT_EQ(fs::exists(name), kind != ItemKind::absent));
    }
}

// The whole-tree removal lists each folder while it deletes its entries (none may be
// skipped), leaves the read-only attribute and stops at it with error 5; makeWritable
// clears that attribute alone, even past 260 characters.
TEST(FileSystemRemoveAll, RemovesWideTreesAndStopsAtAReadOnlyFileWithError5) {
    ScratchFolder folder;
    const std::wstring wide = folder / L"wide";
    makeFolder(wide);
    for (int i = 0; i < 300; ++i) writeFile(wide + L"\\file" + std::to_wstring(i));
    std::error_code ec;
    EXPECT_EQ(gu_test::removeAllAt(wide + L"\\", ec), 301u);
    EXPECT_FALSE(present(wide) || ec) << ec.message();
    EXPECT_EQ(gu_test::removeAllAt(wide, ec), 0u);  // already gone
    EXPECT_FALSE(ec) << ec.message();

    const std::wstring tree = folder / std::wstring(200, L'd');
    const std::wstring locked = tree + L"\\" + std::wstring(100, L'f');
    makeFolder(tree);
    writeFile(locked, "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(gu_test::removeAllAt(tree, ec), kFailed);
    EXPECT_EQ(code(ec), windowsError(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::isAccessDenied(ec));
    constexpr DWORD kBoth = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    EXPECT_EQ(attributesOf(locked) & kBoth, kBoth);
    ASSERT_TRUE(SetFileAttributesW(gu_test::longForm(locked).c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(gu_test::removeAllAt(locked, ec), 1u);  // a file as the top
    EXPECT_EQ(gu_test::removeAllAt(tree, ec), 1u);
}

// Stack use is measured by painting free stack below the caller with a marker byte and
// finding afterwards how far down the calls made since then have written. This relies on
// nothing else writing below the stack pointer, which holds on x64 Windows (no red zone)
// and under Wine (signals run on their own stack).
constexpr std::size_t kPaintedBytes = 256 * 1024;
constexpr unsigned char kPaint = 0xA5;

// Paints below the caller's frame (noinline keeps it there), runs removeAll on root and
// returns its count and the bytes of painted stack it wrote.
__attribute__((noinline)) void paintStack(std::uintptr_t& lowest) {
    volatile unsigned char area[kPaintedBytes];
    for (std::size_t i = 0; i < kPaintedBytes; ++i) area[i] = kPaint;
    lowest = reinterpret_cast<std::uintptr_t>(&area[0]);
}
__attribute__((noinline)) std::pair<std::uintmax_t, std::size_t> removeAllMeasured(
    const std::wstring& root) {
    std::uintptr_t lowest = 0;
    paintStack(lowest);
    std::error_code ec;
    const std::uintmax_t removed = gu_test::removeAllAt(root, ec);
    const volatile unsigned char* area = reinterpret_cast<const volatile unsigned char*>(lowest);
    std::size_t untouched = 0;
    while (untouched < kPaintedBytes && area[untouched] == kPaint) ++untouched;
    EXPECT_FALSE(ec) << ec.message();
    return {removed, kPaintedBytes - untouched};
}

// A chain of `depth` folders named `name` in root, with a file every 100 levels and one at
// the end; the number of items made, root included.
std::uintmax_t makeChain(std::wstring path, const std::wstring& name, int depth) {
    makeFolder(path);
    std::uintmax_t count = 2;
    for (int level = 1; level <= depth; ++level) {
        makeFolder(path += L"\\" + name);
        count += level % 100 == 0 ? 2 : 1;
        if (level % 100 == 0) writeFile(path + L"\\file.txt");
    }
    writeFile(path + L"\\end.txt");
    EXPECT_TRUE(present(path + L"\\end.txt")) << path.size();
    return count;
}

// 600 levels make paths of about 3,050 characters; Wine maps them to Unix paths, which
// must stay under 4,096 bytes, so thousands of levels cannot be made here. Instead the
// stack used on the deep tree is compared with that on a tree longer in characters but 13
// levels deep: with an explicit stack they are the same, while a recursive walk needs
// hundreds of frames more for the deep one.
TEST(FileSystemRemoveAll, RemovesA600LevelTreeWithoutGrowingTheCallStack) {
    ScratchFolder folder;
    const std::uintmax_t shallowItems = makeChain(folder / L"shallow", std::wstring(240, L's'), 13);
    const std::uintmax_t deepItems = makeChain(folder / L"deep", L"deep", 600);
    const auto [shallowRemoved, shallowStack] = removeAllMeasured(folder / L"shallow");
    const auto [deepRemoved, deepStack] = removeAllMeasured(folder / L"deep");
    EXPECT_EQ(std::make_pair(shallowRemoved, deepRemoved), std::make_pair(shallowItems, deepItems));
    EXPECT_FALSE(present(folder / L"shallow") || present(folder / L"deep"));
    EXPECT_GT(shallowStack, 0u);
    EXPECT_LT(deepStack, kPaintedBytes) << "the deep walk used all the painted stack";
    EXPECT_LE(deepStack, shallowStack + 2048) << "stack use grows with the depth";
}

// The handle-level operations in a folder whose entries pass 260 characters: the listing
// gives names with their attributes; items are opened as what they are and report the
// Windows errors the removal's callers test (145 not empty, 32 held open without
// FILE_SHARE_DELETE); read-only is cleared through the handle, keeping other attributes.
TEST(FileSystemByHandle, ListsOpensAndDeletesWithTheWindowsErrors) {
    ScratchFolder scratch;
    const std::wstring dir = scratch / std::wstring(200, L'x');
    const std::wstring longName(100, L'a');
    makeFolder(dir);
    writeFile(dir + L"\\" + longName);
    writeFile(dir + L"\\readonly.txt", "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    writeFile(dir + L"\\busy.txt");
    makeFolder(dir + L"\\sub");
    writeFile(dir + L"\\sub\\inner.txt", "x", FILE_ATTRIBUTE_READONLY);
    const HANDLE busy = CreateFileW(gu_test::longForm(dir + L"\\busy.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);

    std::error_code ec;
    fs::OpenItem top;
    ASSERT_TRUE(fs::openItem(dir + L"\\", top, ec)) << ec.message();
    EXPECT_EQ(fs::kindOf(top), ItemKind::directory);
    std::vector<std::tuple<std::wstring, ItemKind, bool>> listed;
    for (fs::ListedEntry entry; fs::nextEntry(top, entry, ec);) {
        listed.emplace_back(entry.name, entry.kind, entry.readOnly);
    }
    EXPECT_FALSE(ec) << ec.message();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::tuple<std::wstring, ItemKind, bool>>{
                          {longName, ItemKind::file, false},
                          {L"busy.txt", ItemKind::file, false},
                          {L"readonly.txt", ItemKind::file, true},
                          {L"sub", ItemKind::directory, false}}));

    // Through the handle: a read-only file refuses its delete with 5 until the attribute is
    // cleared, which keeps the others.
    const std::wstring readOnly = dir + L"\\readonly.txt";
    fs::ListedEntry entry{L"readonly.txt", ItemKind::file};
    fs::OpenItem item;
    ASSERT_TRUE(fs::openChild(top, entry, readOnly, item, ec)) << ec.message();
    EXPECT_TRUE(fs::isReadOnly(item));
    EXPECT_FALSE(fs::deleteItem(item, ec));
    EXPECT_EQ(code(ec), windowsError(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::clearReadOnly(item, ec)) << ec.message();
    EXPECT_EQ(attributesOf(readOnly) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              DWORD{FILE_ATTRIBUTE_HIDDEN});
    EXPECT_TRUE(SetFileAttributesW(gu_test::longForm(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
    // A file listed as a folder (swapped in after the listing) is opened as a file; a
    // confirmed item clears an error left in ec.
    entry = {longName, ItemKind::directory};
    ASSERT_TRUE(fs::openChild(top, entry, dir + L"\\" + longName, item, ec)) << ec.message();
    EXPECT_EQ(fs::kindOf(item), ItemKind::file);
    ec = std::make_error_code(std::errc::io_error);
    EXPECT_TRUE(fs::isItself(top, item, longName, ec));
    EXPECT_FALSE(ec);
    item.reset();

    // (name, removed, error): removeChild opens the item below its folder as itself.
    const std::tuple<std::wstring, bool, std::string> rows[] = {
        {L"readonly.txt", true, "0"},
        {L"busy.txt", false, windowsError(ERROR_SHARING_VIOLATION)},
        {L"sub", false, windowsError(ERROR_DIR_NOT_EMPTY)},
        {L"missing", false, "0"},
        {longName, true, "0"},
    };
    for (const auto& [name, removed, error] : rows) {
        EXPECT_EQ(gu_test::removeChildAt(dir, name, ec), removed) << narrow(name);
        EXPECT_EQ(code(ec), error) << narrow(name);
        EXPECT_EQ(present(dir + L"\\" + name), !removed && name != L"missing") << narrow(name);
    }
    // The C runtime's access denied (13, generic) counts as Windows' 5; a sharing violation not.
    EXPECT_TRUE(fs::isAccessDenied(std::make_error_code(std::errc::permission_denied)));
    EXPECT_FALSE(
        fs::isAccessDenied(std::error_code(ERROR_SHARING_VIOLATION, std::system_category())));

    // The engine's walk clears read-only attributes (of folders too), goes on past the file
    // in use and reports each failure once, with its Windows error.
    ASSERT_TRUE(
        SetFileAttributesW(gu_test::longForm(dir + L"\\sub").c_str(), FILE_ATTRIBUTE_READONLY));
    static std::vector<std::pair<std::wstring, std::string>> failures;
    failures.clear();
    fs::RemovalWalk walk{true, [](const fs::RemovalFailure& failure) {
                             failures.emplace_back(failure.path, code(failure.ec));
                         }};
    EXPECT_EQ(gu_test::removeTreeAt(dir, walk, ec), 2u);  // sub and its file
    CloseHandle(busy);
    EXPECT_EQ(failures, (std::vector<std::pair<std::wstring, std::string>>{
                            {dir + L"\\busy.txt", windowsError(ERROR_SHARING_VIOLATION)},
                            {dir, windowsError(ERROR_DIR_NOT_EMPTY)}}));
    EXPECT_FALSE(present(dir + L"\\sub"));
}

}  // namespace
