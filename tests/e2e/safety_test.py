#!/usr/bin/env python3
"""Hostile inputs end to end under Wine: game folders, environment tokens, titles and game
numbers chosen to make GameUninstaller.exe delete or write outside the game. Every row is
one attempt; after it every canary of the harness (system, program, user and platform
folders, beside the game, the root of C:, an "outside" folder only links reach, and
wherever a hostile name would lead) must hold its bytes, with the outcome the row gives.
Run it as tests/e2e/harness.py says; --summary counts it as suite "hostile".
"""
import ntpath
import os

import harness as h
from harness import GAME, TITLE

FORBIDDEN_IN_NAMES = '|\\?*<":>/'  # what the program strips from titles
REFUSED = "GamePath refused, not a game folder: "

# (case, GamePath, set-up) -> refused with code 3 before anything is deleted. In the paths,
# {user} is the profile, {u} the user name, {short:X} the short (8.3) name Wine gives to X.
# Set-ups, as Hostile.prepare reads them: "game", "victim F", "link X T", "drive X: T",
# several joined by "; ".
REFUSED_FOLDERS = [
    ("root_c", "C:\\", "game"),
    ("root_c_no_separator", "C:", "game"),
    ("root_c_forward_slash", "C:/", "game"),
    ("root_c_doubled", "C:\\\\", "game"),
    ("root_unc_share", r"\\server\share", "game"),
    ("root_unc_share_separator", "\\\\server\\share\\", "game"),
    ("root_unc_server", r"\\server", "game"),
    ("root_unc_bare", "\\\\", "game"),
    ("unc_admin_share_root", r"\\localhost\C$", "game"),
    ("unc_admin_share_windows", r"\\localhost\C$\windows", "game"),
    ("unc_admin_share_profile", r"\\127.0.0.1\c$\users\{u}", "game"),
    ("unc_admin_share_system", r"\\localhost\ADMIN$\system32", "game"),
    ("device_extended_windows", r"\\?\C:\windows", "game"),
    ("device_dot_windows", r"\\.\C:\windows", "game"),
    ("device_extended_unc", r"\\?\UNC\localhost\C$\windows", "game"),
    ("relative", r"Games\SpaceRace", "game"),
    ("relative_rooted", r"\Games\SpaceRace", "game"),
    ("relative_drive", r"C:Games\SpaceRace", "game"),
    ("relative_drive_short", "C:Games", "game"),
    ("relative_dot", r".\Games\SpaceRace", "game"),
    ("relative_dotdot", r"..\windows", "game"),
    ("short_program_files", "{short:C:\\Program Files}", "game"),
    ("short_program_data", "{short:C:\\ProgramData}", "game"),
    ("short_documents", "{short:{user}\\Documents}", "game"),
    ("short_start_menu", "{short:{user}\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu}", "game"),
    ("short_programs", "{short:{user}\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs}", "game"),
    ("trailing_dot", "C:\\windows.", "game"),
    ("trailing_space_dot", "C:\\windows .", "game"),
    ("trailing_space", "{user} ", "game"),
    ("trailing_dots_spaces", "{user}\\Desktop. . ", "game"),
    ("trailing_dot_program_files", "C:\\Program Files.", "game"),
    ("mixed_forward_profile", "C:/users/{u}", "game"),
    ("mixed_trailing_forward", "C:\\Program Files/", "game"),
    ("mixed_forward_system", "C:/windows/system32", "game"),
    ("mixed_local_appdata", "C:\\users/{u}\\AppData/Local", "game"),
    ("mixed_doubled", "C:\\\\users\\\\{u}\\\\", "game"),
    ("nul_hides_game", "C:\\windows\0\\Games\\SpaceRace", "game"),
    ("nul_after_game", "C:\\Games\\SpaceRace\0C:\\windows", "game"),
    ("dotdot_to_windows", r"C:\Games\SpaceRace\..\..\windows", "game"),
    ("dot_then_dotdot", r"C:\Games\.\..\windows", "game"),
    ("dotdot_to_profile", r"{user}\Desktop\..", "game"),
    ("three_dots", r"C:\Games\SpaceRace\...\x", "game"),
    ("spaced_dotdot", r"C:\Games\SpaceRace\ .. \..\windows", "game"),
    ("stream_of_windows", "C:\\windows::$INDEX_ALLOCATION", "game"),
    ("stream_of_profile", "{user}:x", "game"),
    ("stream_in_path", "C:\\windows::$INDEX_ALLOCATION\\system32", "game"),
    ("wildcard_star", r"C:\Games\*", "game"),
    ("wildcard_question", r"C:\Games\SpaceRac?", "game"),
    ("control_character", "C:\\Games\\Space\tRace", "game"),
    ("game_is_link_to_profile", GAME, "link " + GAME + " {user}"),
    ("game_is_link_to_outside", GAME, "link " + GAME + " outside"),
    ("path_through_link_to_profile", r"C:\Games\Lib\Desktop", "link C:\\Games\\Lib {user}"),
    ("path_through_link_to_drive", r"C:\Games\Lib\windows", "link C:\\Games\\Lib C:\\"),
    ("path_through_link_to_programs", r"C:\Games\Lib\Programs",
     "link C:\\Games\\Lib {user}\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"),
    ("mapped_drive_to_profile", r"D:\users\{u}", "drive d: C:\\"),
    ("mapped_drive_to_windows", "D:\\windows", "drive d: C:\\"),
    ("inside_windows", r"C:\windows\gu-victim\Tools", r"victim C:\windows\gu-victim\Tools"),
    ("other_users_profile", r"C:\users\gu-other", r"victim C:\users\gu-other"),
    ("platform_folder", r"{user}\AppData\Local\VEXAL", "game"),
]

# Folders the rules accept although they are not a game's: attempts that still succeed.
# They are expected failures (each deletes what it names) until the rules refuse them.
KNOWN_GAPS = []

# Links inside a real game folder: each is removed as a link, never entered. Wine cannot
# remove a Unix folder link (RemoveDirectoryW 145), so the run ends with code 2 and what
# lies behind the link stays. (case, link inside the game, target)
LINKS_INSIDE = [
    ("link_in_game_to_outside", "data", "outside"),
    ("deep_link_in_game_to_profile", r"Content\home", "{user}"),
    ("link_in_game_to_windows", "sys", r"C:\windows"),
    ("file_link_in_game_to_outside_file", r"mods\mod.pak", r"outside\gu-canary.bin"),
]

# (case, game number, token, title, record's GameNo, log lines) for a real game that is
# removed (Success). Lines name what was refused; None: no log file may be written.
# {local}, {desktop} and {programs} are the user's folders.
NAMES = [
    # Environment tokens: the log folder, the record key, shortcut and Start menu names.
    ("token_dotdot_backslash", "77", r"_qa\..\..\x", TITLE, "77", None),
    ("token_dotdot_slash", "77", "_qa/../../x", TITLE, "77", None),
    ("token_up_to_windows", "77", r"..\..\..\windows", TITLE, "77", None),
    ("token_drive", "77", r"C:\windows", TITLE, "77", None),
    ("token_colon", "77", "_qa:x", TITLE, "77", None),
    ("token_con", "77", "CON", TITLE, "77", []),
    ("token_nul", "77", "NUL", TITLE, "77", []),
    ("token_com1", "77", "COM1", TITLE, "77", []),
    # Titles: shortcut names (the nine forbidden characters are stripped).
    ("title_up_to_win_ini", "77", "_qa", r"..\..\..\windows\win.ini", "77", []),
    ("title_forward_up", "77", "_qa", "../../../windows/win", "77", []),
    ("title_drive", "77", "_qa", r"C:\windows\system32\x", "77", []),
    ("title_unc", "77", "_qa", r"\\server\share\x", "77", []),
    ("title_colon_only", "77", "_qa", ":", "77", []),
    ("title_dotdot_no_token", "77", "", "..", "77", []),
    ("title_dot_no_token", "77", "", ".", "77", []),
    ("title_con", "77", "", "CON", "77", []),
    ("title_nul", "77", "_qa", "NUL", "77", []),
    ("title_com1", "77", "_qa", "COM1", "77", []),
    ("title_with_nul", "77", "_qa", "..\0\\..\\x", "77",
     [("_deleteGameShortcuts", "Shortcut name refused: ..\0..x_qa.url")]),
    # Game numbers: the record key, the uninstall entry, the temporary manifest's name.
    ("game_no_up_to_desktop", r"..\..\..\..\Desktop\x", "_qa", TITLE, "77", []),
    ("game_no_to_neighbour", r"77\..\78", "_qa", TITLE, "77", []),
    ("game_no_drive", r"C:\windows", "_qa", TITLE, "77", []),
    ("game_no_con", "CON", "_qa", TITLE, "77", []),
    ("game_no_com1", "COM1", "_qa", TITLE, "77", []),
    ("game_no_dotdot", "..", "_qa", TITLE, "77", []),
    ("record_no_up_to_desktop", "77", "_qa", TITLE, r"..\..\..\..\Desktop\x",
     [("_deleteTmpManifest", r"Tmp manifest name refused: tmpgamemanifest_..\..\..\..\Desktop\x_qa.upf")]),
    ("record_no_drive", "77", "_qa", TITLE, r"C:\windows\x",
     [("_deleteTmpManifest", r"Tmp manifest name refused: tmpgamemanifest_C:\windows\x_qa.upf")]),
    ("record_no_nul", "77", "_qa", TITLE, "NUL", []),
]


# (case, item that the user's side replaces, link kind, target): below VEXALqa, or in
# {programs} and {desktop}, the game's shortcuts or their folder. Targets are Windows paths
# or outside\NAME; the game is removed (Success) and the target keeps its bytes.
LOG_LINKS = [
    ("log_folder_link_to_system_folder", "Logs", "symlink", r"C:\windows\gu-logs"),
    ("log_folder_link_to_outside", "Logs", "symlink", "outside"),
    ("log_file_link_to_system_file", r"Logs\GameUninstaller.log", "symlink", r"C:\windows\gu-log.bin"),
    ("log_file_link_to_nothing", r"Logs\GameUninstaller.log", "symlink", r"outside\new.log"),
    ("log_file_hard_link_to_system_file", r"Logs\GameUninstaller.log", "hardlink", r"C:\windows\gu-log.bin"),
    ("shortcut_folder_link_to_outside", r"{programs}\VEXAL_qa", "symlink", "outside"),
    ("desktop_shortcut_link_to_outside", r"{desktop}\Space Race_qa.url", "symlink", r"outside\Space Race_qa.url"),
]
# What the program reaches inside a folder that the user's side replaced.
LINKED_FOLDER_FILES = {"Logs": "GameUninstaller.log", "VEXAL_qa": TITLE + "_qa.url"}


class Hostile(h.Case):
    short_names = None  # long -> short, read once from Wine

    def expand(self, template):
        text = template.replace("{desktop}", r"{user}\Desktop").replace(
            "{programs}", r"{user}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs")
        text = text.replace("{user}", self.rig.user).replace("{u}", self.rig.user[9:])
        while "{short:" in text:
            start = text.index("{short:")
            end = text.index("}", start)
            long_path = text[start + 7:end]
            short = self.short_name(long_path)
            if not short or short.upper() == long_path.upper():
                self.skipTest(f"Wine gives {long_path} no short name of its own")
            text = text[:start] + short + text[end + 1:]
        return text

    def short_name(self, long_path):
        if Hostile.short_names is None:
            wanted = [self.expand(p[7:-1]) for _, p, _ in REFUSED_FOLDERS if p.startswith("{short:")]
            out = self.rig.wine_run([r"C:\gu-e2e\shortname.exe"] + wanted)
            Hostile.short_names = dict(zip(wanted, out.stdout.decode("utf-8").splitlines()))
        return Hostile.short_names.get(long_path, "")

    def prepare(self, setups):
        """Set-ups separated by "; ": "game": the game, guarded; "victim F": canaries in F;
        "link X T": X (an empty folder replaced) links to T, "outside[\\rest]" or a Windows
        path; "drive X: T": drive X: maps to T."""
        for setup in setups.split("; "):
            if setup == "game":
                self.install_game(guard=True)
                continue
            if setup.startswith("victim "):
                self.made.append(self.host(setup[7:]))
                for name in ("a.bin", r"sub\b.bin"):
                    self.canary(self.host(setup[7:] + "\\" + name))
                continue
            kind, at, target = setup.split(" ", 2)
            if target.startswith("outside"):
                target = os.path.join(self.outside, *target.split("\\")[1:])
            else:
                target = self.host(self.expand(target))
            if kind == "link":
                self.link(self.expand(at), target)
                continue
            drive = os.path.join(os.environ["WINEPREFIX"], "dosdevices", at)
            os.symlink(target, drive)
            self.made.append(drive)

    def refused(self, game_path, setup):
        path = self.expand(game_path)
        self.prepare(setup)
        self.attempt(h.record(path=path), 3, [h.error_line(h.READ_INFO, REFUSED + path), h.failed(3)])
        self.assertTrue(self.rig.key_exists(h.RECORD_QA))

    def known_gap(self, game_path, setup):
        self.gap = True
        self.refused(game_path, setup)

    def inside(self, name, target):
        """A link inside the game is removed as a link, never entered. Wine cannot remove
        a Unix folder link (RemoveDirectoryW 145): the run ends with 2 and the link stays."""
        self.install_game()
        self.prepare(f"link {GAME}\\{name} {target}")
        parents = [GAME + "\\" + name.rsplit("\\", 1)[0]] if "\\" in name else []
        removal = "_removeDirectoriesRecursive"
        self.attempt(h.record(), 2, h.TEMP_LINES + [
            h.error_line(removal, "Remove file failed: " + GAME + "\\" + name)] + [
            h.error_line(removal, "Remove dir failed: " + p) for p in parents + [GAME]] + [
            h.error_line("_deleteGameFolder", "Failed to delete game folder: " + GAME), h.failed(2)])
        left = sorted(os.path.relpath(os.path.join(d, n), self.host(GAME))
                      for d, dirs, files in os.walk(self.host(GAME)) for n in dirs + files)
        self.assertEqual(left, sorted([name.replace("\\", "/")] + [p[len(GAME) + 1:] for p in parents]))

    def decoy(self, folder, name, variable):
        """A canary where folder\\name leads when `variable`, the part of name that comes
        from the input, holds separators: where the name would lead if used as it stands."""
        win_path = ntpath.normpath(folder + "\\" + name)
        if not any(c in variable for c in "\\/") or ":" in win_path[2:] or "\0" in win_path:
            return 0
        path = self.host(win_path)
        if path in self.canaries or os.path.isdir(path):
            return 0
        top = path
        while not os.path.exists(os.path.dirname(top)):
            top = os.path.dirname(top)
        self.made.append(top)
        self.canary(path)
        return 1

    def names(self, game_no, token, title, record_no, lines):
        self.install_game()
        key = f"Software\\ORBA{token}\\Apps\\{game_no}"
        # Keys that hostile tokens make outside ORBA_qa go before the case.
        stale = sorted({f"[-HKEY_CURRENT_USER\\Software\\ORBA{row[2].split(chr(92))[0]}]" for row in NAMES})
        suffix = token.removeprefix("_")
        local, user = self.rig.user + r"\AppData\Local", self.rig.user
        programs = user + r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
        decoys = self.decoy(local, "VEXAL" + suffix + r"\Logs\GameUninstaller.log", suffix)
        for shown in ("".join(c for c in title if c not in FORBIDDEN_IN_NAMES), title):
            decoys += self.decoy(user + r"\Desktop", shown + token + ".url", shown + token)
            decoys += self.decoy(programs, "VEXAL" + token + "\\" + shown + token + ".url", token + shown)
        decoys += self.decoy(local + r"\VEXAL\tmpgamemanifest",
                             f"tmpgamemanifest_{record_no}_{suffix or 'live'}.upf", record_no + suffix)
        # A name with a separator leads somewhere, unless a colon or NUL makes it no path.
        text = token + title + record_no
        if any(c in text for c in "\\/") and not any(c in text for c in ":\0"):
            self.assertGreater(decoys, 0, "no canary where the hostile name leads")
        if lines is not None and token not in ("", "_qa"):
            os.makedirs(self.rig.log_dir(token), exist_ok=True)
            self.made.append(os.path.dirname(self.rig.log_dir(token)))
        expected = h.TEMP_LINES + [h.error_line(f, m) for f, m in lines or []]
        expected.append(h.line("INFO", "_regDeleteKey", "Deleted registry key: " + key))
        self.attempt("\r\n".join(stale) + "\r\n\r\n" + h.record("HKEY_CURRENT_USER\\" + key, title, GAME, record_no),
                     1, None if lines is None else expected, f"{game_no} {token}".rstrip(), token)
        self.assertFalse(os.path.exists(self.host(GAME)))
        self.assertFalse(self.rig.key_exists("HKEY_CURRENT_USER\\" + key))
        if lines is None:  # no log in any environment's usual place either
            for env in ("", "_qa"):
                self.assertEqual(os.listdir(self.rig.log_dir(env)), [])


    def test_extended_length_game_is_removed_like_its_plain_form(self):
        path = "\\\\?\\" + GAME
        self.install_game()
        self.attempt(h.record(path=path), 1, [
            h.line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + path + r"\.vexal_temp"),
            h.line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
            h.line("INFO", "_regDeleteKey", "Deleted registry key: " + h.RECORD)])
        self.assertFalse(os.path.exists(self.host(GAME)))
    def linked(self, item, kind, target):
        """The user's side replaced `item` (below VEXALqa, or a shortcut or its folder) by
        a link to `target`: the game is removed as usual and the target keeps its bytes
        and gains no file."""
        self.install_game()
        host = (os.path.join(self.outside, *target.split("\\")[1:]) if target.startswith("outside")
                else self.host(target))
        if not target.startswith("outside"):
            self.made.append(host)
        inside = LINKED_FOLDER_FILES.get(ntpath.basename(item))
        if inside:  # a folder link: a canary named like what the program reaches there
            self.canary(os.path.join(host, inside))
        elif not os.path.basename(host).startswith("new"):  # "new...": a link to nothing
            self.canary(host)
        if "{" in item:
            at = self.host(self.expand(item))
            self.made.append(at)
            os.makedirs(os.path.dirname(at), exist_ok=True)
        else:
            at = os.path.join(os.path.dirname(self.rig.log_dir("_qa")), *item.split("\\"))
        if inside and os.path.isdir(at):
            os.rmdir(at)
        (os.link if kind == "hardlink" else os.symlink)(host, at)
        watched = host if inside else os.path.dirname(host)
        before = sorted(os.listdir(watched))
        # The log's own rows leave no log to read; the shortcut rows keep it, without
        # a line for the shortcut that was left.
        lines = h.TEMP_LINES + [h.line("INFO", "_regDeleteKey", "Deleted registry key: " + h.RECORD)]
        self.attempt(h.record(), 1, lines if "{" in item else None)
        self.assertEqual(sorted(os.listdir(watched)), before, "a file appeared where the link leads")
        self.assertFalse(os.path.exists(self.host(GAME)))
        self.assertFalse(self.rig.key_exists(h.RECORD_QA))


h.add_rows(Hostile, REFUSED_FOLDERS, Hostile.refused)
h.add_rows(Hostile, KNOWN_GAPS, Hostile.known_gap, known_gaps=True)
h.add_rows(Hostile, LINKS_INSIDE, Hostile.inside)
h.add_rows(Hostile, NAMES, Hostile.names)
h.add_rows(Hostile, LOG_LINKS, Hostile.linked)

if __name__ == "__main__":
    h.main("hostile")
