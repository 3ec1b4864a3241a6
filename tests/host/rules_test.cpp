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
    sim::state().protectedFolders.push_back({L"/users", platform::FolderGuard::children});
    sim::state().protectedFolders.push_back({l, platform::FolderGuard::platformData});
    const std::pair<std::wstring, bool> rows[] = {
        {L"", false},
        {L"/", false},
        {L"//", false},
        {L"relative/game", false},
        {L"game", false},
        {L"/home/user", false},
        {L"/home/user/", false},
        {L"/HOME/USER/.local", false},
        {L"/usr", false},
        {L"/usr.", false},
        {L"/usr /", false},
        {L"/opt/../usr", false},
        {L"/opt/./game", false},
        {L"/opt/.../x", false},
        {L"//home/user", false},
        {L"///usr", false},
        {std::wstring(L"/opt/game\0/x", 11), false},
        {L"/opt/games/Foo", true},
        {L"/home/user/Games/Foo", true},
        {L"/usr/games/Foo", true},
        {L"/home/user2", true},
        {L"/home/user/.local/share/Foo", true},
        // Other names: short names, links above, the folder itself a link.
        {L"/short/DESKTO~1", false},
        {L"/short/GAMES~1/../Local", false},
        {L"/short/GAMES~1/G", true},
        {g + L"/Link", false},
        {g + L"/ToRoot/Desktop", false},
        {g + L"/ToRoot/Games/G", true},
        {g + L"/Link/Moved", true},
        // Characters Windows forbids in names, and administrative shares.
        {L"/opt/game:stream", false},
        {L"/opt/ga*e", false},
        {L"/opt/gam?", false},
        {L"/opt/<game>", false},
        {L"/opt/\"game\"", false},
        {L"/opt/a|b", false},
        {L"/opt/ga\tme", false},
        {L"/opt/game\r\n/x", false},
        {L"//server/C$/Games", false},
        {L"//nas/Admin$/Foo", false},
        {L"//nas/Games$/Foo", true},
        // Guards: the whole Windows folder, each profile, the platform's own folders.
        {L"/win/Vendor/Tools", false},
        {L"/WIN/a/b/c/d", false},
        {L"/users/other", false},
        {L"/users/other/Games/Foo", true},
        {L"/usersX/Foo", true},
        {l + L"/VEXAL", false},
        {l + L"/vexal_qa", false},
        {l + L"/VEXALqa/Logs", false},
        {l + L"/VEXAL/tmpgamemanifest", false},
        {l + L"/VEXAL/Games/Foo", true},
        {l + L"/VEXAL/Logs/Foo", true},
        {l + L"/Other/Logs", true}};
    for (const auto& [path, removable] : rows) {
        EXPECT_EQ(isRemovableGameFolder(path), removable) << logging::toUtf8(path);
    }
}

TEST(Rules, NamesAndForms) {
    for (const std::wstring name : {L"Space Race.url", L"tmp_77_live.upf", L".url", L"a..b"}) {
        EXPECT_TRUE(isPlainFileName(name)) << logging::toUtf8(name);
    }
    for (const std::wstring name : {L"", L".", L"..", L" . ", L"a\\b", L"a/b", L"C:x", L"a\0b"}) {
        EXPECT_FALSE(isPlainFileName(name == L"a" ? std::wstring(L"a\0b", 3) : name));
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
    const std::tuple<std::uint32_t, std::string, std::uint32_t, long, std::wstring> rows[] = {
        {1, std::string("a\0b\0c\0\0\0", 8), 0xFFFFFFFF, 0, L"abc"},
        {2, std::string("%\0T\0%\0\0\0", 8), 0xFFFFFFFF, 0, L"%T%"},       // not expanded
        {1, std::string("a\0b\0\0\0\0\0\0\0", 10), 0xFFFFFFFF, 0, L"ab"},  // every trailing NUL
        {1, std::string("a\0\0\0b\0", 6), 0xFFFFFFFF, 0, std::wstring(L"a\0b", 3)},
        {1, std::string("a\0b\0c", 5), 0xFFFFFFFF, 0, L"ab"},  // the odd byte is dropped
        {1, "", 0xFFFFFFFF, 0, L""},
        {1, std::string("a\0b\0", 4), 4, 0, L"ab"},
        {1, std::string("a\0b\0", 4), 3, platform::kErrorMoreData, L"kept"},
        {4, std::string(4, '\1'), 0xFFFFFFFF, platform::kErrorUnsupportedType, L"kept"},
        {7, std::string("a\0\0\0", 4), 0xFFFFFFFF, platform::kErrorUnsupportedType, L"kept"}};
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
