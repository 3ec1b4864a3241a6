// Tests on what Windows code cannot make under Wine: run_with_prefix_fixture.sh makes it
// in the prefix before the run and names the fixture's folder in GU_PREFIX_FIXTURE:
//   list\file.txt       list\dirlink -> target      list\dangling -> (nothing)
//   remove\file.txt     remove\sub\x.txt            remove\dirlink -> target
//   target\canary.txt   target\inner\canary.txt
//   <150 p>\<120 q>\child_long.exe, running, and the long_report.txt it wrote
// Links are never followed: Wine shows a folder link with FILE_ATTRIBUTE_REPARSE_POINT and
// cannot remove it, so a removal through the tree ends with an error while the canaries
// stay. The program path passes 260 characters, which moduleFileName and the process walk
// must give in full.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <system_error>

#include "platform/file_system.h"
#include "platform/path_names.h"
#include "platform/process.h"
#include "tests/win/test_support.h"

namespace {

namespace fs = platform::fs;
using fs::ItemKind;
using gu_test::present;

// The fixture's folder; every test here needs it.
std::wstring fixtureFolder() { return gu_test::environment(L"GU_PREFIX_FIXTURE"); }

class Links : public ::testing::Test {
protected:
    void SetUp() override {
        _fixture = fixtureFolder();
        ASSERT_FALSE(_fixture.empty()) << "run through run_with_prefix_fixture.sh";
        ASSERT_TRUE(present(_fixture + L"\\target\\canary.txt"));
        ASSERT_TRUE(present(_fixture + L"\\target\\inner\\canary.txt"));
    }
    // The canaries behind the links, checked after each test.
    void TearDown() override {
        EXPECT_TRUE(present(_fixture + L"\\target\\canary.txt"));
        EXPECT_TRUE(present(_fixture + L"\\target\\inner\\canary.txt"));
        EXPECT_EQ(gu_test::readFile(_fixture + L"\\target\\canary.txt"), "canary\n");
    }

    std::wstring _fixture;
};

TEST_F(Links, TheFinalPathNameLeadsThroughLinksWhereTheLongNameDoesNot) {
    const std::wstring link = _fixture + L"\\list\\dirlink";
    const std::wstring target = _fixture + L"\\target";
    EXPECT_TRUE(gu_test::samePath(platform::finalPathName(link), target));
    EXPECT_TRUE(gu_test::samePath(platform::finalPathName(link + L"\\inner"), target + L"\\inner"));
    EXPECT_TRUE(gu_test::samePath(platform::longPathName(link + L"\\inner"), link + L"\\inner"));
    EXPECT_EQ(platform::finalPathName(_fixture + L"\\list\\dangling"), L"");
}

TEST_F(Links, AFolderLinkIsReportedAsALinkButExistsThroughItsTarget) {
    const std::wstring link = _fixture + L"\\list\\dirlink";
    EXPECT_EQ(fs::itemKind(link), ItemKind::link);
    EXPECT_TRUE(fs::exists(link));
    EXPECT_TRUE(fs::isDirectoryNoThrow(link));
    EXPECT_EQ(fs::itemKind(link + L"\\canary.txt"), ItemKind::file);

    // A dangling link is absent when followed (under Wine it is not seen at all).
    EXPECT_NO_THROW(EXPECT_FALSE(fs::exists(_fixture + L"\\list\\dangling")));
    EXPECT_FALSE(fs::isDirectoryNoThrow(_fixture + L"\\list\\dangling"));
}

TEST_F(Links, ListingReportsTheLinkFromItsOwnAttributes) {
    fs::DirectoryLister lister;
    std::error_code ec;
    ASSERT_TRUE(lister.open(_fixture + L"\\list", ec)) << ec.message();
    fs::DirEntry entry;
    int seen = 0;
    while (lister.next(entry)) {
        const std::wstring name = entry.path.filename().wstring();
        if (name == L"dirlink") {
            EXPECT_EQ(entry.kind, ItemKind::link);
            ++seen;
        } else if (name == L"file.txt") {
            EXPECT_EQ(entry.kind, ItemKind::file);
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
}

TEST_F(Links, RemovingTheLinkNeverRemovesWhatItPointsTo) {
    const std::wstring link = _fixture + L"\\list\\dirlink";
    std::error_code ec;
    const bool removed = fs::removeItem(link, ec);
    // Wine refuses to remove a folder link (145); Windows would remove the link alone.
    EXPECT_FALSE(removed);
    EXPECT_TRUE(ec);
    EXPECT_EQ(fs::itemKind(link), ItemKind::link);

    // makeWritable on the link touches nothing behind it either.
    EXPECT_NO_THROW(fs::makeWritable(link));
}

TEST_F(Links, RemoveAllDoesNotEnterALinkInsideTheTree) {
    const std::wstring tree = _fixture + L"\\remove";
    std::error_code ec;
    const std::uintmax_t removed = fs::removeAll(tree, ec);
    EXPECT_EQ(removed, static_cast<std::uintmax_t>(-1));
    EXPECT_TRUE(ec) << "the link cannot be removed under Wine, so the removal must fail";
    EXPECT_EQ(ec.category(), std::system_category());
    EXPECT_EQ(fs::itemKind(tree + L"\\dirlink"), ItemKind::link);

    // The link given as the root is removed as an item, not emptied.
    EXPECT_EQ(fs::removeAll(tree + L"\\dirlink", ec), static_cast<std::uintmax_t>(-1));
    EXPECT_TRUE(ec);
}

TEST(LongProgramPath, ModuleNameAndProcessWalkGiveTheWholePath) {
    const std::wstring fixture = fixtureFolder();
    ASSERT_FALSE(fixture.empty()) << "run through run_with_prefix_fixture.sh";
    const std::wstring program = fixture + L"\\" + std::wstring(150, L'p') + L"\\" +
                                 std::wstring(120, L'q') + L"\\child_long.exe";
    ASSERT_GT(program.size(), 300u);

    // The helper reports as soon as it runs; give Wine time to start it.
    const std::wstring moduleName =
        gu_test::waitForReport(fixture + L"\\long_report.txt", 30000).moduleName;
    EXPECT_TRUE(gu_test::samePath(moduleName, program)) << gu_test::narrow(moduleName);

    int found = 0;
    EXPECT_TRUE(platform::forEachProcessImage([&](const std::wstring& image) {
        if (gu_test::samePath(image, program)) ++found;
        return false;
    }));
    EXPECT_EQ(found, 1);
}

}  // namespace
