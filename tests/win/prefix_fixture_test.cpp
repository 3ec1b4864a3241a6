// Tests on what Windows code cannot make under Wine: run_with_prefix_fixture.sh makes it
// in the prefix before the run and names the fixture's folder in GU_PREFIX_FIXTURE:
//   list\file.txt       list\dirlink -> target      list\dangling -> (nothing)
//   remove\file.txt     remove\sub\x.txt            remove\dirlink -> target
//   remove\filelink -> target\canary.txt
//   target\canary.txt   target\inner\canary.txt
//   <150 p>\<120 q>\child_long.exe, running, and the long_report.txt it wrote
// Links are never followed: Wine shows a folder link with FILE_ATTRIBUTE_REPARSE_POINT and
// cannot remove it, so a removal through the tree ends with an error while the canaries
// stay. The program path passes 260 characters, which moduleFileName and the process walk
// must give in full.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

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
    EXPECT_EQ(fs::itemKind(link + L"\\canary.txt"), ItemKind::file);

    // A dangling link is absent when followed (under Wine it is not seen at all).
    EXPECT_NO_THROW(EXPECT_FALSE(fs::exists(_fixture + L"\\list\\dangling")));
}

// Opened by name below its open folder, as the removal opens every item, a folder link is
// never entered: Windows opens it as itself; Wine may open its target, whose final path
// then lies outside the folder.
TEST_F(Links, AChildOpenedRelativeToItsFolderIsNeverFollowed) {
    std::error_code ec;
    fs::OpenItem folder;
    ASSERT_TRUE(fs::openItem(_fixture + L"\\list", folder, ec)) << ec.message();
    fs::ListedEntry entry;
    int seen = 0;
    while (fs::nextEntry(folder, entry, ec)) {
        if (entry.name != L"dirlink") continue;
        ++seen;
        EXPECT_EQ(entry.kind, ItemKind::link);
        for (const ItemKind asked : {ItemKind::link, ItemKind::directory}) {
            entry.kind = asked;  // also as a folder swapped in after the listing would be
            fs::OpenItem item;
            ASSERT_TRUE(fs::openChild(folder, entry, _fixture + L"\\list\\dirlink", item, ec))
                << ec.message();
            std::error_code outside;
            EXPECT_FALSE(fs::kindOf(item) == ItemKind::directory &&
                         fs::isItself(folder, item, L"dirlink", outside))
                << "the link would be entered";
        }
    }
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(seen, 1);
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

// The walk leaves both links and what they lead to: the Unix file link, which Wine shows
// as a plain file, is found out by its final path, left, and reported like the folder link.
TEST_F(Links, RemovalWalksNeverReachThroughALink) {
    const std::wstring tree = _fixture + L"\\remove";
    static std::vector<std::wstring> failed;
    failed.clear();
    fs::RemovalWalk own;
    own.ownRemoval = true;
    own.onFailure = [](const fs::RemovalFailure& failure) { failed.push_back(failure.path); };
    std::error_code ec;
    fs::removeTree(tree, own, ec);
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::wstring>{tree, tree + L"\\dirlink", tree + L"\\filelink"}));
    EXPECT_FALSE(present(tree + L"\\sub"));
    EXPECT_EQ(gu_test::readFile(tree + L"\\filelink"), "canary\n");  // still the link

    // The whole-tree removal stops at the first link with an error; given a link as its
    // top, it fails on it the same way.
    EXPECT_EQ(fs::removeAll(tree, ec), static_cast<std::uintmax_t>(-1));
    EXPECT_EQ(ec.category(), std::system_category());
    for (const wchar_t* link : {L"\\dirlink", L"\\filelink"}) {
        EXPECT_EQ(fs::removeAll(tree + link, ec), static_cast<std::uintmax_t>(-1));
        EXPECT_TRUE(ec);
        EXPECT_FALSE(fs::removeChild(tree, link + 1, ec));  // the single-item removal
        EXPECT_TRUE(ec);
    }
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
