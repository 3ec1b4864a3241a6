// Tests on what Windows code cannot make under Wine: run_with_prefix_fixture.sh makes it
// in the prefix before the run and names the fixture's folder in GU_PREFIX_FIXTURE:
//   list\file.txt       list\dirlink -> target      list\dangling -> (nothing)
//   remove\file.txt     remove\sub\x.txt            remove\dirlink -> target
//   remove\filelink -> target\canary.txt
//   target\canary.txt   target\inner\canary.txt
//   <150 p>\<120 q>\child_long.exe, running, and the long_report.txt it wrote
// Links are never followed: Wine shows a folder link with FILE_ATTRIBUTE_REPARSE_POINT and
// cannot remove it, so a removal through the tree ends with an error while the canaries
// stay (the script checks them again after the run). The program path passes 260
// characters, which moduleFileName and the process walk must give in full.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/path_names.h"
#include "tests/win/test_support.h"

namespace {

namespace fs = platform::fs;
using fs::ItemKind;
using gu_test::samePath;

// The fixture's folder; the script checks after the run that the canaries behind the links
// are still there.
const std::wstring kFixture = gu_test::environment(L"GU_PREFIX_FIXTURE");
const std::wstring kLink = kFixture + L"\\list\\dirlink";

// Every test acts on the fixture: without it, its paths would name the current drive's root.
class Links : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kFixture.empty()) << "run through run_with_prefix_fixture.sh";
    }
};
using LongProgramPath = Links;

// What the item at path is, opened as itself.
ItemKind kindAt(const std::wstring& path) {
    fs::OpenItem item;
    std::error_code ec;
    return fs::openItem(path, item, ec) ? fs::kindOf(item) : ItemKind::absent;
}

// The final path name leads through links where the long name does not; a folder link is
// reported as a link but exists through its target (removing it: the last Links test).
TEST_F(Links, AFolderLinkIsSeenAsALinkAndExistsThroughItsTarget) {
    const std::wstring target = kFixture + L"\\target";
    EXPECT_TRUE(samePath(platform::finalPathName(kLink), target));
    EXPECT_TRUE(samePath(platform::finalPathName(kLink + L"\\inner"), target + L"\\inner"));
    EXPECT_TRUE(samePath(platform::longPathName(kLink + L"\\inner"), kLink + L"\\inner"));
    EXPECT_EQ(platform::finalPathName(kFixture + L"\\list\\dangling"), L"");
    EXPECT_EQ(kindAt(kLink), ItemKind::link);
    EXPECT_TRUE(fs::exists(kLink));
    EXPECT_EQ(kindAt(kLink + L"\\canary.txt"), ItemKind::file);
    EXPECT_NO_THROW(EXPECT_FALSE(fs::exists(kFixture + L"\\list\\dangling")));
}

// Opened by name below its open folder, as the removal opens every item, a folder link is
// never entered: Windows opens it as itself; Wine may open its target, whose final path
// then lies outside the folder. Also when listed as a folder, as one swapped in would be.
TEST_F(Links, AChildOpenedRelativeToItsFolderIsNeverFollowed) {
    std::error_code ec;
    fs::OpenItem folder;
    ASSERT_TRUE(fs::openItem(kFixture + L"\\list", folder, ec)) << ec.message();
    int seen = 0;
    for (fs::ListedEntry entry; fs::nextEntry(folder, entry, ec);) {
        if (entry.name != L"dirlink") continue;
        seen += entry.kind == ItemKind::link;
        for (const ItemKind asked : {ItemKind::link, ItemKind::directory}) {
            entry.kind = asked;
            fs::OpenItem item;
            ASSERT_TRUE(fs::openChild(folder, entry, kLink, item, ec)) << ec.message();
            std::error_code outside;
            EXPECT_FALSE(fs::kindOf(item) == ItemKind::directory &&
                         fs::isItself(folder, item, L"dirlink", outside));
        }
    }
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(seen, 1);
}

// The walk leaves both links and what they lead to: the Unix file link, which Wine shows
// as a plain file, is found out by its final path, left, and reported like the folder
// link. The whole-tree removal stops at the first link; given a link as its top, it fails
// on it the same way, and so does the single-item removal. Removing a folder link or making
// it writable touches nothing behind it (Wine refuses to remove it: 145); last, as the
// tests before it need list\dirlink.
TEST_F(Links, RemovalWalksNeverReachThroughALink) {
    const std::wstring tree = kFixture + L"\\remove";
    static std::vector<std::wstring> failed;
    failed.clear();  // static for the captureless callback: emptied for each repetition
    fs::RemovalWalk own{true,
                        [](const fs::RemovalFailure& failure) { failed.push_back(failure.path); }};
    std::error_code ec;
    gu_test::removeTreeAt(tree, own, ec);
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::wstring>{tree, tree + L"\\dirlink", tree + L"\\filelink"}));
    EXPECT_FALSE(gu_test::present(tree + L"\\sub"));
    EXPECT_EQ(gu_test::readFile(tree + L"\\filelink"), "canary\n");  // still the link
    EXPECT_EQ(gu_test::removeAllAt(tree, ec), static_cast<std::uintmax_t>(-1));
    EXPECT_EQ(ec.category(), std::system_category());
    for (const wchar_t* link : {L"dirlink", L"filelink"}) {
        EXPECT_EQ(gu_test::removeAllAt(tree + L"\\" + link, ec), static_cast<std::uintmax_t>(-1));
        EXPECT_TRUE(ec);
        EXPECT_FALSE(gu_test::removeChildAt(tree, link, ec));
        EXPECT_TRUE(ec);
    }
    EXPECT_FALSE(gu_test::removeChildAt(kFixture + L"\\list", L"dirlink", ec));
    EXPECT_TRUE(ec);
    EXPECT_EQ(kindAt(kLink), ItemKind::link);
}

TEST_F(LongProgramPath, ModuleNameAndProcessWalkGiveTheWholePath) {
    const std::wstring program = kFixture + L"\\" + std::wstring(150, L'p') + L"\\" +
                                 std::wstring(120, L'q') + L"\\child_long.exe";
    // The helper reports as soon as it runs; give Wine time to start it.
    const std::wstring report = gu_test::waitForReport(kFixture + L"\\long_report.txt", 30000);
    EXPECT_TRUE(samePath(report.substr(0, report.find(L'\n')), program)) << gu_test::narrow(report);
    EXPECT_EQ(gu_test::running(program), 1);
}

}  // namespace
