// The pure rules: which game folders and file names are accepted, the comparable and plain
// forms of paths, the command line, and registry text as RegKey::readString reads it.
#include "app/command_line.h"
#include "engine/game_folder_rules.h"
#include "platform/path_names.h"
#include "tests/host/fixture.h"

// Path -> removable? Host paths use "/" where Windows has "\"; the rules are the same.
TEST_F(HostTest, GameFolders) {
    const std::wstring l = local.wstring(), g = game.parent_path().wstring();
    write(game / "a.pak");
    write(root / "outside" / "Moved" / "a.pak");
    stdfs::create_directory_symlink(root / "outside", root / "Games" / "Link");
    stdfs::create_directory_symlink(root, root / "Games" / "ToRoot");
    sim::state().shortNames = {{L"/short/DESKTO~1", desktop.wstring()}, {L"/short/GAMES~1", g}};
    sim::state().protectedFolders.push_back({L"/home/user/.local/share"});
    sim::state().protectedFolders.push_back({L"/win", platform::FolderGuard::wholeTree});
    sim::state().protectedFolders.push_back(
        {L"/users", platform::FolderGuard::otherProfiles, L"/users/me"});
    sim::state().protectedFolders.push_back({l, platform::FolderGuard::platformData});
    // clang-format off
    const std::vector<std::wstring> refused = {
        L"", L"/", L"//", L"relative/game", L"game", L"/home/user", L"/home/user/", L"/HOME/USER/.local",
        L"/usr", L"/usr.", L"/usr /", L"/opt/../usr", L"/opt/./game", L"/opt/.../x", L"//home/user", L"///usr",
        std::wstring(L"/opt/game\0/x", 11),
        // Other names: short names, links above, the folder itself a link.
        L"/short/DESKTO~1", L"/short/GAMES~1/../Local", g + L"/Link", g + L"/ToRoot/Desktop",
        // Characters Windows forbids in names, and administrative shares.
        L"/opt/game:stream", L"/opt/ga*e", L"/opt/gam?", L"/opt/<game>", L"/opt/\"game\"", L"/opt/a|b",
        L"/opt/ga\tme", L"/opt/game\r\n/x", L"//server/C$/Games", L"//nas/Admin$/Foo",
        // Guards: the whole Windows folder, each profile, the platform's own folders.
        L"/win/Vendor/Tools", L"/WIN/a/b/c/d", L"/users/other", L"/users/other/Docs/Game", L"/users/me",
        L"/users/me2/Game", l + L"/VEXAL", l + L"/vexal_qa",
        l + L"/VEXALqa/Logs", l + L"/VEXAL/tmpgamemanifest"};
    const std::vector<std::wstring> accepted = {
        L"/opt/games/Foo", L"/home/user/Games/Foo", L"/usr/games/Foo", L"/home/user2", L"/home/user/.local/share/Foo",
        L"/short/GAMES~1/G", g + L"/ToRoot/Games/G", g + L"/Link/Moved", L"//nas/Games$/Foo",
        L"/users/me/Games/Foo", L"/usersX/Foo", l + L"/VEXAL/Games/Foo", l + L"/VEXAL/Logs/Foo", l + L"/Other/Logs"};
    // clang-format on
    platform::fs::OpenItem folder;
    for (const auto& path : refused)
        EXPECT_FALSE(openRemovableGameFolder(path, folder)) << logging::toUtf8(path);
    for (const auto& path : accepted)
        EXPECT_TRUE(openRemovableGameFolder(path, folder)) << logging::toUtf8(path);
}

TEST(Rules, NamesAndForms) {
    for (const wchar_t* name : {L"Space Race.url", L"tmp_77_live.upf", L".url", L"a..b"}) {
        EXPECT_TRUE(isPlainFileName(name)) << logging::toUtf8(name);
    }
    for (const std::wstring& name : std::vector<std::wstring>{
             L"", L".", L"..", L" . ", L"a\\b", L"a/b", L"C:x", std::wstring(L"a\0b", 3)}) {
        EXPECT_FALSE(isPlainFileName(name));
    }
    const std::pair<std::wstring, std::wstring> forms[] = {
        {L"C:\\Program Files\\", L"C:\\PROGRAM FILES"},
        {L"c:/program files./", L"C:\\PROGRAM FILES"},
        {L"//home//user/", L"\\HOME\\USER"},  // two leading separators mean a share on Windows only
    };
    for (const auto& [path, form] : forms) EXPECT_EQ(comparablePath(path), form);
    const std::pair<std::wstring, std::wstring> plain[] = {
        {L"\\\\?\\C:\\Games\\X", L"C:\\Games\\X"},
        {L"\\\\?\\UNC\\nas\\share\\X", L"\\\\nas\\share\\X"},
        {L"\\\\?\\unc\\nas\\share", L"\\\\nas\\share"},
        {L"\\\\?\\Volume{1}\\X", L"\\\\?\\Volume{1}\\X"},  // no plain form: kept
        {L"\\\\.\\C:\\Games", L"\\\\.\\C:\\Games"},
        {L"C:\\Games\\X", L"C:\\Games\\X"}};
    for (const auto& [extended, form] : plain) EXPECT_EQ(platform::plainForm(extended), form);
}

// Text -> tokens, then game number, environment token and elevation.
TEST(Rules, CommandLine) {
    using Tokens = std::vector<std::wstring>;
    const std::tuple<const wchar_t*, Tokens, const wchar_t*, bool> rows[] = {
        {L"", {}, L"", false},
        {L" ", {L""}, L"", false},
        {L"123 ", {L"123"}, L"", false},
        {L"123  ", {L"123", L""}, L"", false},
        {L"123 _qa extra", {L"123", L"_qa", L"extra"}, L"extra", false},
        {L"123  --elevated", {L"123", L"", L"--elevated"}, L"", true},
        {L"123 --elevated ", {L"123", L"--elevated"}, L"", true},
        {L"123 --elevated _qa", {L"123", L"--elevated", L"_qa"}, L"_qa", true},
        {L"--elevated 123", {L"--elevated", L"123"}, L"123", false},
        {L"123 --Elevated", {L"123", L"--Elevated"}, L"--Elevated", false},
        {L"12\t3 \"x y\"", {L"12\t3", L"\"x", L"y\""}, L"y\"", false}};
    for (const auto& [text, tokens, env, elevated] : rows) {
        EXPECT_EQ(splitCommandLine(text), tokens);
        const CommandLine read = readCommandLine(tokens);
        EXPECT_EQ(std::make_tuple(read.hasGameNo, read.gameNo, read.env, read.elevated),
                  std::make_tuple(!tokens.empty(), tokens.empty() ? L"" : tokens[0],
                                  std::wstring(env), elevated));
    }
}

// (type, bytes, at most) -> (status, text); the text starts as "kept" and stays on failure.
TEST_F(HostTest, RegistryText) {
    const std::wstring key = L"Software\\T";
    const auto read = [&key](std::uint32_t maxBytes = 0xFFFFFFFF) {
        sim::state().keys[sim::keyId(RegRoot::currentUser, 0, key)];
        platform::RegKey open;
        EXPECT_EQ(open.open(RegRoot::currentUser, key, platform::kKeyRead), 0);
        std::wstring text = L"kept";
        const long status = open.readString(L"V", text, maxBytes);
        return std::make_pair(status, text);
    };
    const std::uint32_t any = 0xFFFFFFFF;
    const std::tuple<std::uint32_t, std::string, std::uint32_t, long, std::wstring> rows[] = {
        // clang-format off
        {1, std::string("a\0b\0c\0\0\0", 8), any, 0, L"abc"}, {2, std::string("%\0T\0%\0\0\0", 8), any, 0, L"%T%"},  // not expanded
        {1, std::string("a\0b\0\0\0\0\0\0\0", 10), any, 0, L"ab"}, {1, std::string("a\0\0\0b\0", 6), any, 0, std::wstring(L"a\0b", 3)},
        {1, std::string("a\0b\0c", 5), any, 0, L"ab"}, {1, "", any, 0, L""}, {1, std::string("a\0b\0", 4), 4, 0, L"ab"},
        {1, std::string("a\0b\0", 4), 3, platform::kErrorMoreData, L"kept"},
        {4, std::string(4, '\1'), any, platform::kErrorUnsupportedType, L"kept"},
        {7, std::string("a\0\0\0", 4), any, platform::kErrorUnsupportedType, L"kept"}};
    // clang-format on
    for (const auto& [type, bytes, maxBytes, status, text] : rows) {
        sim::setValue(RegRoot::currentUser, 0, key, L"V", type, bytes);
        EXPECT_EQ(read(maxBytes), std::make_pair(status, text)) << type << " " << bytes.size();
    }
    sim::state().keys.clear();
    EXPECT_EQ(read(), std::make_pair(platform::kErrorFileNotFound, std::wstring(L"kept")));
    // A value changing between the size query and the read is read again, never half read:
    // (type it becomes after the first query, or at every query) -> the read.
    const std::tuple<std::uint32_t, bool, long, std::wstring> changes[] = {
        {1, false, 0, L"a much longer text"},
        {7, false, platform::kErrorUnsupportedType, L"kept"},
        {1, true, platform::kErrorMoreData, L"kept"}};  // never settles
    for (const auto& [type, always, status, text] : changes) {
        sim::setValue(RegRoot::currentUser, 0, key, L"V", 1, sim::utf16z(L"short"));
        int queries = 0;
        sim::state().onValueQuery = [&, type = type, always = always] {
            if (++queries == 1 || always) {
                const std::wstring now =
                    always ? std::wstring(queries, L'y') : L"a much longer text";
                sim::setValue(RegRoot::currentUser, 0, key, L"V", type, sim::utf16z(now));
            }
        };
        EXPECT_EQ(read(), std::make_pair(status, text)) << type << always;
        sim::state().onValueQuery = nullptr;
    }
}
