// The pure rules, on host paths and texts: which game folders and file names are accepted,
// the comparable and plain forms of paths, and the command line. (Registry text is read
// against an oracle by the parsers fuzz target; every end-to-end row checks the log lines.)
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "engine/game_folder_rules.h"
#include "platform/path_names.h"

using Names = std::vector<std::wstring>;

// (path, its long and final names) -> accepted. Host paths use "/" where Windows has "\".
TEST(Rules, GameFolders) {
    using platform::FolderGuard;
    // clang-format off
    const std::vector<platform::ProtectedFolder> kept = {
        {L"/home/user"}, {L"/home/user/Desktop"}, {L"/usr"}, {L"/home/user/.local/share"}, {L"/win", FolderGuard::wholeTree},
        {L"/users", FolderGuard::otherProfiles, {L"/users/me"}}, {L"/local", FolderGuard::platformData}, {L""}};  // {L""}: a name unknown
    const std::tuple<std::wstring, Names, bool> rows[] = {
        {L"", {}, false}, {L"/", {}, false}, {L"//", {}, false}, {L"relative/game", {}, false}, {L"game", {}, false},
        {L"/home/user", {}, false}, {L"/home/user/", {}, false}, {L"/HOME/USER/.local", {}, false}, {L"/usr", {}, false},
        {L"/usr.", {}, false}, {L"/usr /", {}, false}, {L"/opt/../usr", {}, false}, {L"/opt/./game", {}, false},
        {L"/opt/.../x", {}, false}, {L"//home/user", {}, false}, {L"///usr", {}, false}, {{L"/opt/game\0/x", 11}, {}, false},
        // Other names: a short name made long, links above resolved.
        {L"/short/DESKTO~1", {L"/home/user/Desktop", L""}, false}, {L"/games/Link", {L"", L"/home/user"}, false},
        {L"/short/GAMES~1/G", {L"/games/G", L"/games/G"}, true}, {L"/games/Link/Moved", {L"", L"/outside/Moved"}, true},
        // Characters Windows forbids in names, and administrative shares.
        {L"/opt/game:stream", {}, false}, {L"/opt/ga*e", {}, false}, {L"/opt/gam?", {}, false}, {L"/opt/<game>", {}, false},
        {L"/opt/\"game\"", {}, false}, {L"/opt/a|b", {}, false}, {L"/opt/ga\tme", {}, false}, {L"/opt/game\r\n/x", {}, false},
        {L"//server/C$/Games", {}, false}, {L"//nas/Admin$/Foo", {}, false}, {L"//nas/Games$/Foo", {}, true},
        // Guards: the whole Windows folder, each profile, the platform's own folders.
        {L"/win/Vendor/Tools", {}, false}, {L"/WIN/a/b/c/d", {}, false}, {L"/users/other", {}, false},
        {L"/local/VEXAL", {}, false}, {L"/local/vexal_qa", {}, false}, {L"/local/VEXALqa/Logs", {}, false},
        {L"/local/VEXAL/tmpgamemanifest", {}, false}, {L"/users/other/Docs/Game", {}, false}, {L"/users/me", {}, false}, {L"/users/me2/Game", {}, false},
        {L"/users/me/Games/Foo", {}, true}, {L"/usersX/Foo", {}, true},
        {L"/local/VEXAL/Games/Foo", {}, true}, {L"/local/VEXAL/Logs/Foo", {}, true}, {L"/local/Other/Logs", {}, true},
        {L"/opt/games/Foo", {}, true}, {L"/home/user/Games/Foo", {}, true}, {L"/usr/games/Foo", {}, true},
        {L"/home/user2", {}, true}, {L"/home/user/.local/share/Foo", {}, true}};
    // clang-format on
    for (const auto& [path, names, accepted] : rows) {
        EXPECT_EQ(std::make_pair(path, isGameFolderName(path, names, kept)),
                  std::make_pair(path, accepted));
    }
}

TEST(Rules, NamesAndForms) {
    // clang-format off
    const std::pair<std::wstring, bool> names[] = {
        {L"Space Race.url", true}, {L"tmp_77_live.upf", true}, {L".url", true}, {L"a..b", true}, {L"", false},
        {L".", false}, {L"..", false}, {L" . ", false}, {L"a\\b", false}, {L"a/b", false}, {L"C:x", false},
        {std::wstring(L"a\0b", 3), false}};
    // clang-format on
    for (const auto& [name, plain] : names) {
        EXPECT_EQ(std::make_pair(name, isPlainFileName(name)), std::make_pair(name, plain));
    }
    // clang-format off
    const std::pair<std::wstring, std::wstring> forms[] = {  // two leading "/" mean a share on Windows only
        {L"C:\\Program Files\\", L"C:\\PROGRAM FILES"}, {L"c:/program files./", L"C:\\PROGRAM FILES"}, {L"//home//user/", L"\\HOME\\USER"}};
    const std::pair<std::wstring, std::wstring> plain[] = {  // volume and device paths have no plain form
        {L"\\\\?\\C:\\Games\\X", L"C:\\Games\\X"}, {L"\\\\?\\UNC\\nas\\share\\X", L"\\\\nas\\share\\X"}, {L"\\\\?\\unc\\nas\\share", L"\\\\nas\\share"},
        {L"\\\\?\\Volume{1}\\X", L"\\\\?\\Volume{1}\\X"}, {L"\\\\.\\C:\\Games", L"\\\\.\\C:\\Games"}, {L"C:\\Games\\X", L"C:\\Games\\X"}};
    // clang-format on
    for (const auto& [path, form] : forms) EXPECT_EQ(comparablePath(path), form);
    for (const auto& [extended, form] : plain) EXPECT_EQ(platform::plainForm(extended), form);
}

// Text -> tokens, then game number, environment token and elevation.
TEST(Rules, CommandLine) {
    // clang-format off
    const std::tuple<const wchar_t*, Names, const wchar_t*, bool> rows[] = {
        {L"", {}, L"", false}, {L" ", {L""}, L"", false}, {L"123 ", {L"123"}, L"", false}, {L"123  ", {L"123", L""}, L"", false},
        {L"123 _qa extra", {L"123", L"_qa", L"extra"}, L"extra", false}, {L"123  --elevated", {L"123", L"", L"--elevated"}, L"", true},
        {L"123 --elevated _qa", {L"123", L"--elevated", L"_qa"}, L"_qa", true}, {L"--elevated 123", {L"--elevated", L"123"}, L"123", false},
        {L"123 --Elevated", {L"123", L"--Elevated"}, L"--Elevated", false}, {L"12\t3 \"x y\"", {L"12\t3", L"\"x", L"y\""}, L"y\"", false}};
    // clang-format on
    for (const auto& [text, tokens, env, elevated] : rows) {
        EXPECT_EQ(splitCommandLine(text), tokens);
        const CommandLine read = readCommandLine(tokens);
        EXPECT_EQ(std::make_tuple(read.hasGameNo, read.gameNo, read.env, read.elevated),
                  std::make_tuple(!tokens.empty(), tokens.empty() ? L"" : tokens[0],
                                  std::wstring(env), elevated));
    }
}
