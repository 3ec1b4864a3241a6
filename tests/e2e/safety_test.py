#!/usr/bin/env python3
"""Hostile inputs end to end under Wine: game folders, environment tokens, titles and game
numbers chosen to make GameUninstaller.exe delete or write outside the game.

Before every case, canaries with random bytes are placed in the system, program, user and
platform folders, beside the game, at the root of C:, in an "outside" folder that only
links reach, and wherever a hostile name would lead if it were used as it stands; after
the case every one must be there byte for byte, with the outcome (box, exit status 0,
log lines) the table gives.

Run like e2e_test.py (same options), inside scripts/with-wine-rig. With --summary FILE one
machine-readable line with the counts of the run is appended to FILE.
"""
import ntpath
import os
import shutil
import sys
import tempfile
import unittest

import e2e_test as e2e
import uninstall_test as ui

GAME = r"C:\Games\SpaceRace"
TITLE = "Space Race"
FORBIDDEN_IN_NAMES = '|\\?*<":>/'  # what the program strips from titles
REFUSED = "GamePath refused, not a game folder: "
# Another game's record and uninstall entry: they must survive every case.
NEIGHBOUR_RECORD = r"HKEY_CURRENT_USER\Software\ORBA_qa\Apps\78"
NEIGHBOUR_ENTRY = e2e.UNINSTALL + r"\Vexal_qa App 78"
# Where canaries go (each gets gu-canary.bin); {user} is the profile, C:\users\<name>.
CANARY_FOLDERS = [
    r"C:\windows", r"C:\windows\system32", r"C:\Program Files", r"C:\ProgramData", "{user}",
    r"{user}\Desktop", r"{user}\Documents", r"{user}\AppData\Local", r"{user}\AppData\Local\VEXAL",
    r"{user}\AppData\Roaming", r"{user}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs",
    r"C:\Games", "C:\\",
]
# Named like what the clean-up steps remove inside a game folder: a step that reached
# through a link into these folders would take them.
LEFTOVER_NAMES = ["install_progress.json", r".vexal_temp\chunk.tmp", r"combinedata_manifest\m.bin"]

STATS = {"cases": 0, "canary_bytes": 0, "lost": 0, "gaps": 0, "gap_lost": 0}


def sanitized(title):
    return "".join(c for c in title if c not in FORBIDDEN_IN_NAMES)


def reg_string(name, value):
    """A REG_SZ line of a .reg file; hex(1) (UTF-16LE with its NUL) when it holds a NUL."""
    if "\0" in value:
        data = (value + "\0").encode("utf-16-le")
        return f'"{name}"=hex(1):' + ",".join(f"{b:02x}" for b in data)
    return f'"{name}"="' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def record(key, title=TITLE, path=GAME, game_no="77"):
    lines = [f"[{key}]"]
    for name, value in (("GameTitle", title), ("GamePath", path), ("GameNo", game_no)):
        if value is not None:
            lines.append(reg_string(name, value))
    return "\r\n".join(lines)


class Guarded(e2e.E2ECase):
    """Canaries around a small installed game; the helpers run one attempt and check it."""

    @classmethod
    def setUpClass(cls):
        rig = cls.rig
        cls.user = "C:\\users\\" + os.path.basename(rig.user_dir)
        cls.local = cls.user + r"\AppData\Local"
        cls.desktop = cls.user + r"\Desktop"
        cls.programs = cls.user + r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
        # Outside the prefix: only the links the cases make lead there.
        cls.outside = tempfile.mkdtemp(prefix="gu-outside-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.outside, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.canaries = {}  # host path -> bytes
        self.made = []      # links, decoys and folders to take away after the case
        self.decoys = 0
        for folder in CANARY_FOLDERS:
            self.canary(self.host(folder.format(user=self.user) + r"\gu-canary.bin"))
        for name in LEFTOVER_NAMES + ["gu-canary.bin", r"sub\gu-canary.bin"]:
            self.canary(os.path.join(self.outside, *name.split("\\")))
        for name in LEFTOVER_NAMES:
            self.canary(self.host(self.user + "\\" + name))
            self.made.append(self.host(self.user + "\\" + name.split("\\")[0]))

    def tearDown(self):
        for path in reversed(self.made):
            if os.path.islink(path) or os.path.isfile(path):
                os.remove(path)
            elif os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
        super().tearDown()

    # ---- places -----------------------------------------------------------------------

    def host(self, win_path):
        return self.rig.host_path(win_path)

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def canary(self, path, size=64):
        data = os.urandom(size)
        self.write(path, data)
        self.canaries[path] = data

    def decoy(self, folder, name, variable):
        """A canary where folder\\name leads when `variable`, the part of name that comes
        from the input, holds separators: where the name would lead if used as it stands."""
        win_path = ntpath.normpath(folder + "\\" + name)
        if not any(c in variable for c in "\\/") or ":" in win_path[2:] or "\0" in win_path:
            return
        path = self.host(win_path)
        if path in self.canaries or os.path.isdir(path):
            return
        top = path
        while not os.path.exists(os.path.dirname(top)):
            top = os.path.dirname(top)
        self.made.append(top)
        self.canary(path)
        self.decoys += 1

    def link(self, win_path, target):
        """A Unix folder link at win_path (Wine shows it as a reparse point)."""
        path = self.host(win_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(target, path)
        self.made.append(path)

    def install_game(self, guard):
        """The game at GAME with its installer's leftovers; with guard, its files must
        stay (the attempt is refused before anything is deleted)."""
        game = self.host(GAME)
        for name in [r"bin\game.exe", r"Content\a.pak", r"Content\b.pak"] + LEFTOVER_NAMES:
            path = os.path.join(game, *name.split("\\"))
            if guard:
                self.canary(path, 32)
            else:
                self.write(path, os.urandom(32))
        return game

    def neighbour(self):
        """Another game's record and uninstall entry, in .reg syntax."""
        other = record(NEIGHBOUR_RECORD, "Other", r"C:\Games\Other", "78")
        return other + f'\r\n\r\n[{NEIGHBOUR_ENTRY}]\r\n"DisplayName"="Other"'

    # ---- one attempt ------------------------------------------------------------------

    def answer(self, text, caption, buttons, press, wait_ms=30000):
        """Waits for the box, checks what it shows and presses `press`: one driver run."""
        status, box = self.rig.driver("--wait-ms", str(wait_ms), "--press", press,
                                      timeout=wait_ms // 1000 + 30)
        self.assertEqual(status, 0, f"no box to press {press} on within {wait_ms} ms: {box}")
        self.assertEqual((box["text"], box["caption"], box["buttons"], box["icon"], box["count"]),
                         (text, caption, buttons, "exclamation", 1))
        self.assertEqual(box.get("pressed"), press)

    def confirm(self, exact="77 _qa"):
        run = self.run_program(exact=exact)
        self.answer(e2e.QUESTION, "", ["yes", "no"], "yes")
        return run

    def result(self, run, within=60):
        """Presses OK on the result box once it is up; the program must then end with 0.
        Returns the box as it was shown."""
        status, box = self.rig.driver("--wait-ms", str(within * 1000), "--press", "ok",
                                      timeout=within + 30)
        self.assertEqual(status, 0, f"no result box within {within} s: {box}")
        self.expect_exit(run, 0)
        return box

    def assert_result(self, box, code):
        """The box is the one for code (1: success), alone on the screen."""
        text, caption = (ui.SUCCESS, "") if code == 1 else (e2e.FAILURE.format(code), "Error")
        self.assertEqual((box["text"], box["caption"], box["buttons"], box["icon"], box["count"]),
                         (text, caption, ["ok"], "exclamation", 1))

    def attempt(self, exact, code, lines, log_env="_qa"):
        """Runs the program with the command-line text `exact`, answers Yes, and checks the
        canaries first, then the result `code` and exactly `lines` in the log of `log_env`
        (None: no log file)."""
        STATS["cases"] += 1
        box = self.result(self.confirm(exact))
        self.assert_guarded()
        self.assert_result(box, code)
        if log_env is not None:
            self.assert_log_lines(self.read_log(log_env), lines)

    def assert_guarded(self):
        """Every canary holds its bytes; the neighbour's registry entries are there."""
        lost = {}
        for path, data in self.canaries.items():
            try:
                with open(path, "rb") as f:
                    now = f.read()
            except OSError:
                now = b""
            diff = sum(a != b for a, b in zip(data, now)) + abs(len(data) - len(now))
            STATS["canary_bytes"] += len(data)
            if diff:
                lost[path] = diff
        STATS["gap_lost" if getattr(self, "gap", False) else "lost"] += sum(lost.values())
        if any(self.host(f + r"\gu-canary.bin") in lost for f in CANARY_FOLDERS[:2]):
            # Wine itself may be broken now: the next rig makes the prefix again.
            marker = os.path.join(os.environ["WINEPREFIX"], ".gu-prefix-ready")
            if os.path.exists(marker):
                os.remove(marker)
        self.assertEqual(lost, {}, "canaries lost or changed (bytes per file)")
        for key in (NEIGHBOUR_RECORD, NEIGHBOUR_ENTRY):
            self.assertTrue(self.rig.key_exists(key), f"{key} is gone")


# ---- the game folder from the record ----------------------------------------------------

# (case, GamePath, set-up) -> refused with code 3 before anything is deleted. In the paths,
# {user} is the profile, {u} the user name, {short:X} the short (8.3) name Wine gives to X.
# Set-ups: "game" installs the game at GAME; "link X T" makes X a link to T ("outside":
# the outside folder; otherwise a Windows path); "drive X: T" maps drive X: to T.
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


class HostileGameFolders(Guarded):
    short_names = None  # long -> short, read once from Wine

    def expand(self, template):
        u = os.path.basename(self.rig.user_dir)
        text = template.replace("{user}", self.user).replace("{u}", u)
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
        if HostileGameFolders.short_names is None:
            helper = os.path.join(os.path.dirname(e2e.ARGS.driver), "shortname.exe")
            shutil.copyfile(helper, os.path.join(self.rig.work, "shortname.exe"))
            wanted = [self.expand(t[7:-1]) for _, p, _ in REFUSED_FOLDERS
                      for t in [p] if p.startswith("{short:")]
            out = self.rig.wine_run([r"C:\gu-e2e\shortname.exe"] + wanted, 30)
            names = out.stdout.decode("utf-8").splitlines()
            HostileGameFolders.short_names = dict(zip(wanted, names))
        return HostileGameFolders.short_names.get(long_path, "")

    def prepare(self, setup):
        if setup == "game":
            self.install_game(guard=True)
            return
        if setup.startswith("victim "):
            folder = self.host(setup[7:])
            self.made.append(folder)
            for name in ("a.bin", r"sub\b.bin"):
                self.canary(os.path.join(folder, *name.split("\\")))
            return
        kind, at, target = setup.split(" ", 2)
        target = self.outside if target == "outside" else self.host(self.expand(target))
        if kind == "drive":
            drive = os.path.join(os.environ["WINEPREFIX"], "dosdevices", at)
            os.symlink(target, drive)
            self.made.append(drive)
            return
        self.link(at, target)

    def refused(self, game_path, setup):
        path = self.expand(game_path)
        self.prepare(setup)
        self.set_registry(record(e2e.RECORD_QA, path=path) + "\r\n\r\n" + self.neighbour(),
                          check_keys=[e2e.RECORD_QA])
        self.attempt("77 _qa", 3, [e2e.error_line(e2e.READ_INFO, REFUSED + path),
                                   e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(3)")])
        self.assertTrue(self.rig.key_exists(e2e.RECORD_QA))

    def known_gap(self, game_path, setup):
        self.gap = True
        STATS["gaps"] += 1
        STATS["cases"] -= 1  # counted among the gaps, not the passing attempts
        self.refused(game_path, setup)

    def test_device_extended_game_is_removed_like_its_plain_form(self):
        self.install_game(guard=False)
        path = "\\\\?\\" + GAME
        self.set_registry(record(e2e.RECORD_QA, path=path) + "\r\n\r\n" + self.neighbour(),
                          check_keys=[e2e.RECORD_QA])
        self.attempt("77 _qa", 1, [
            ui.line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + path + r"\.vexal_temp"),
            ui.line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
            ui.line("INFO", "_regDeleteKey", "Deleted registry key: " + e2e.RECORD_QA.split("\\", 1)[1])])
        self.assertFalse(os.path.exists(self.host(GAME)))


for _name, _path, _setup in REFUSED_FOLDERS:
    setattr(HostileGameFolders, "test_" + _name,
            lambda self, p=_path, s=_setup: self.refused(p, s))
for _name, _path, _setup in KNOWN_GAPS:
    setattr(HostileGameFolders, "test_" + _name,
            unittest.expectedFailure(lambda self, p=_path, s=_setup: self.known_gap(p, s)))


# Links inside a real game folder: each is removed as a link, never entered. Wine cannot
# remove a Unix folder link (RemoveDirectoryW 145), so the run ends with code 2 and what
# lies behind the link stays. (case, link inside the game, target)
LINKS_INSIDE = [
    ("link_in_game_to_outside", "data", "outside"),
    ("deep_link_in_game_to_profile", r"Content\home", "{user}"),
    ("link_in_game_to_windows", "sys", r"C:\windows"),
    ("file_link_in_game_to_outside_file", r"mods\mod.pak", "outside file"),
]


class LinksInsideTheGame(Guarded):
    def inside(self, name, target):
        self.install_game(guard=False)
        target = {"outside": self.outside, "outside file": os.path.join(self.outside, "gu-canary.bin")
                  }.get(target) or self.host(target.format(user=self.user))
        self.link(GAME + "\\" + name, target)
        self.set_registry(record(e2e.RECORD_QA) + "\r\n\r\n" + self.neighbour(), check_keys=[e2e.RECORD_QA])
        parents = [GAME + "\\" + name.rsplit("\\", 1)[0]] if "\\" in name else []
        self.attempt("77 _qa", 2, [
            ui.line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
            ui.line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
            ui.line("ERROR", "_removeDirectoriesRecursive", "Remove file failed: " + GAME + "\\" + name),
        ] + [ui.line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + p) for p in parents] + [
            ui.line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + GAME),
            ui.line("ERROR", "_deleteGameFolder", "Failed to delete game folder: " + GAME),
            e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(2)"),
        ])
        # Everything but the link (and the folders holding it) is gone.
        left = sorted(os.path.relpath(os.path.join(d, n), self.host(GAME))
                      for d, dirs, files in os.walk(self.host(GAME)) for n in dirs + files)
        self.assertEqual(left, sorted([name.replace("\\", "/")] + [p[len(GAME) + 1:] for p in parents]))


for _name, _link, _target in LINKS_INSIDE:
    setattr(LinksInsideTheGame, "test_" + _name, lambda self, l=_link, t=_target: self.inside(l, t))


# ---- names built from the command line and the record -----------------------------------

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


class HostileNames(Guarded):
    def names(self, game_no, token, title, record_no, lines):
        self.install_game(guard=False)
        key = f"Software\\ORBA{token}\\Apps\\{game_no}"
        # Keys that hostile tokens make outside ORBA_qa go again before the case.
        stale = sorted({f"[-HKEY_CURRENT_USER\\Software\\ORBA{t.split(chr(92))[0]}]" for _, _, t, *_ in NAMES})
        self.set_registry("\r\n".join(stale) + "\r\n\r\n" + record("HKEY_CURRENT_USER\\" + key, title=title,
                                                                   game_no=record_no)
                          + "\r\n\r\n" + self.neighbour(), check_keys=["HKEY_CURRENT_USER\\" + key])
        # Canaries where each name would lead if used as it stands.
        zone = {"": "live"}.get(token, token[1:] if token.startswith("_") else token)
        suffix = token[1:] if token.startswith("_") else token
        self.decoy(self.local, "VEXAL" + suffix + r"\Logs\GameUninstaller.log", suffix)
        for shown in (sanitized(title), title):
            self.decoy(self.desktop, shown + token + ".url", shown + token)
            self.decoy(self.programs, "VEXAL" + token + "\\" + shown + token + ".url", token + shown)
        self.decoy(self.local + r"\VEXAL\tmpgamemanifest", "tmpgamemanifest_" + record_no + "_" + zone + ".upf",
                   record_no + zone)
        # A name with a separator leads somewhere, unless a colon or NUL makes it no path.
        if any(c in token + title + record_no for c in "\\/") and not any(
                c in token + title + record_no for c in ":\0"):
            self.assertGreater(self.decoys, 0, "no canary where the hostile name leads")
        if lines is not None and token not in ("", "_qa"):
            os.makedirs(self.rig.log_dir(token), exist_ok=True)
            self.made.append(os.path.dirname(self.rig.log_dir(token)))
        expected = [ui.line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
                    ui.line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json")]
        expected += [ui.line("ERROR", f, m) for f, m in lines or []]
        expected.append(ui.line("INFO", "_regDeleteKey", "Deleted registry key: " + key))
        self.attempt(f"{game_no} {token}".rstrip(), 1, expected, None if lines is None else token)
        self.assertFalse(os.path.exists(self.host(GAME)))
        self.assertFalse(self.rig.key_exists("HKEY_CURRENT_USER\\" + key))
        if lines is None:  # no log in any environment's usual place either
            for env in ("", "_qa"):
                self.assertEqual(os.listdir(self.rig.log_dir(env)), [])


for _name, _no, _token, _title, _record_no, _lines in NAMES:
    setattr(HostileNames, "test_" + _name,
            lambda self, a=_no, b=_token, c=_title, d=_record_no, e=_lines: self.names(a, b, c, d, e))


def main(kind):
    """e2e_test's main, with --summary FILE taken off the command line: one line
    "SAFETY suite=<kind> cases=N canary_bytes=N lost=N gaps=N gap_lost=N status=passed|failed"
    is appended to FILE at the end (cases and lost: the attempts that must hold; gaps and
    gap_lost: the known gaps)."""
    summary = None
    if "--summary" in sys.argv:
        at = sys.argv.index("--summary")
        summary = sys.argv[at + 1]
        del sys.argv[at:at + 2]
    status = 1
    try:
        e2e.main()
    except SystemExit as done:
        status = done.code or 0
        raise
    finally:
        if summary:
            os.makedirs(os.path.dirname(os.path.abspath(summary)), exist_ok=True)
            with open(summary, "a") as f:
                f.write(f"SAFETY suite={kind} cases={STATS['cases']} canary_bytes={STATS['canary_bytes']} "
                        f"lost={STATS['lost']} gaps={STATS['gaps']} gap_lost={STATS['gap_lost']} "
                        f"status={'passed' if status == 0 else 'failed'}\n")


if __name__ == "__main__":
    main("hostile")
