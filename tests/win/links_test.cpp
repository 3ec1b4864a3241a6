// What Windows code cannot make under Wine: run_with_prefix_fixture.sh makes list\dirlink ->
// target and list\filelink -> target\canary.txt in the prefix, names the fixture's folder in
// GU_PREFIX_FIXTURE, and checks afterwards that the canaries behind the links are unchanged.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "platform/file_system.h"

namespace fs = platform::fs;

// Opened by name below its open folder, as the removal opens every item, a link is never
// entered, also when the listing said folder (one swapped in after the listing): Windows
// opens it as itself; Wine may open a folder link's target, and always opens a file link's
// (Wine hides file links), whose final path then lies outside the folder: isItself fails.
TEST(Links, AChildOpenedRelativeToItsFolderIsNeverFollowed) {
    wchar_t fixture[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"GU_PREFIX_FIXTURE", fixture, MAX_PATH), 0u)
        << "run through run_with_prefix_fixture.sh";
    const std::wstring list = std::wstring(fixture) + L"\\list";
    std::error_code ec;
    fs::OpenItem folder;
    ASSERT_TRUE(fs::openItem(list, folder, ec)) << ec.message();
    std::vector<std::wstring> seen;
    for (fs::ListedEntry entry; fs::nextEntry(folder, entry, ec);) {
        seen.push_back(entry.name);
        for (const fs::ItemKind asked : {entry.kind, fs::ItemKind::directory}) {
            entry.kind = asked;
            fs::OpenItem item;
            ASSERT_TRUE(fs::openChild(folder, entry, list + L"\\" + entry.name, item, ec));
            std::error_code outside;
            EXPECT_FALSE(fs::kindOf(item) != fs::ItemKind::link &&
                         fs::isItself(folder, item, entry.name, outside))
                << static_cast<int>(asked);
        }
    }
    EXPECT_FALSE(ec) << ec.message();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"dirlink", L"filelink"}));
}
