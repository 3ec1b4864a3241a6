#!/usr/bin/env python3
"""What only the whole program shows, under Wine: its real boxes read and pressed, its exit
statuses, the launcher hand-off, a whole uninstall, the elevated copy and the shared log
file. Run it as tests/e2e/harness.py says."""
import os
import shutil
import subprocess
import threading
import time

import harness as h
from harness import GAME

TITLE = "Space Race: 우주"  # ':' is dropped from the shortcut names
SHORTCUT = "Space Race 우주_qa.url"
ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexal_qa App 77"
MANIFEST = r"\AppData\Local\VEXAL\tmpgamemanifest\tmpgamemanifest_{}_qa.upf"
PROGRAMS = r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\VEXAL_qa" + "\\"

# (case, launcher entry's token, VEXAL.exe in its folder, command line, URL; None: the
# program asks itself and the launcher is not started)
HAND_OFF = [
    ("qa_token_to_qa_launcher", "_qa", True, "77 _qa", "orba_qa://deletegame/77"),
    ("no_token_to_plain_launcher", "", True, "77", "orba://deletegame/77"),
    ("qa_launcher_not_for_a_start_without_token", "_qa", True, "77", None),
    ("launcher_folder_without_exe_left_local", "_qa", False, "77 _qa", None),
    ("game_number_with_tab_left_local", "_qa", True, "7\t7 _qa", None),
]


class Program(h.Case):
    def test_no_arguments_show_no_args_and_end_with_0(self):
        run = self.run_program("")
        self.answer("No Args", "Error", ["ok"], "ok")
        self.expect_exit(run, 0)

    def test_no_keeps_the_game_and_writes_no_log(self):
        files = self.install_game()
        self.rig.set_registry(h.record())
        run = self.run_program()
        self.answer(h.QUESTION, "", ["yes", "no"], "no")
        self.expect_exit(run, 0)
        self.expect_no_box(300)
        self.assertEqual(self.remaining(files), sorted(files))
        self.assertEqual(self.rig.value_of(h.RECORD_QA, "GameTitle"), h.TITLE)
        self.assertEqual(os.listdir(self.rig.log_dir("_qa")), [])

    def test_runs_append_to_one_log_with_one_bom(self):
        for _ in range(2):
            self.result(self.confirm(), 3)
        self.assert_log_lines([h.error_line(h.READ_INFO, "Apps registry not found: " + h.RECORD),
                               h.failed(3)] * 2)
        self.assertIsNone(self.read_log(""), "wrote into the log of another environment")

    def hand_off(self, token, exe, exact, url):
        folder = self.host(r"C:\launcher")
        os.makedirs(folder)
        if exe:
            shutil.copyfile(os.path.join(self.rig.work, "fakelauncher.exe"), os.path.join(folder, "VEXAL.exe"))
        record_key = f"HKEY_CURRENT_USER\\Software\\ORBA{token}\\Apps\\77"
        self.rig.set_registry(f'[{h.UNINSTALL}\\VexalLauncher{token}]\r\n"InstallLocation"="C:\\\\launcher"'
                              + "\r\n\r\n" + h.record(record_key))
        run = self.run_program(exact)
        args_txt = os.path.join(folder, "args.txt")
        if url is None:
            self.answer(h.QUESTION, "", ["yes", "no"], "no")
            self.expect_exit(run, 0)
            self.assertFalse(os.path.exists(args_txt), "the launcher was started")
            return
        self.assertLess(self.expect_exit(run, 1, within=20), 5.0, "the hand-off did not end at once")
        for _ in range(200):
            if os.path.exists(args_txt):
                break
            time.sleep(0.05)
        time.sleep(0.2)  # a second start, if any, would have written by now
        with open(args_txt, "rb") as f:
            lines = f.read().decode("utf-8").splitlines()
        exe_path = r"C:\launcher\VEXAL.exe"
        self.assertIn(lines, ([f'"{exe_path}" {url}'], [f"{exe_path} {url}"]))
        self.expect_no_box(500)
        # The launcher does the uninstall: nothing is removed here, nothing is logged.
        self.assertEqual(self.rig.value_of(record_key, "GameTitle"), h.TITLE)
        self.assertEqual(os.listdir(self.rig.log_dir(token)), [])


h.add_rows(Program, HAND_OFF, Program.hand_off)


class Uninstall(h.Case):
    """A game installed the way the platform installs it."""

    def setUp(self):
        super().setUp()
        self.desktop = self.host(self.rig.user + r"\Desktop")
        self.programs = self.host(self.rig.user + PROGRAMS)
        for view in (32, 64):
            self.rig.wine_run(["reg", "delete", "HKEY_LOCAL_MACHINE\\" + ENTRY, "/f", f"/reg:{view}"], check=False)
        self.made += [os.path.dirname(self.host(self.rig.user + MANIFEST.format(0))), self.programs,
                      self.host(r"C:\alias")]

    def install(self, files=200):
        """The game with read-only files, its manifests, shortcuts, record and uninstall
        entry, and canaries beside each: a sibling named like it, another game's manifest
        and shortcut."""
        game = self.install_game(files=files)
        for path in list(game)[::10] + [self.host(GAME + r"\install_progress.json")]:
            os.chmod(path, 0o444)
        self.write(self.host(self.rig.user + MANIFEST.format(501)), read_only=True)
        self.write(os.path.join(self.desktop, SHORTCUT))
        self.write(os.path.join(self.programs, SHORTCUT))
        self.canary(self.host(GAME + r"2\keep.txt"))
        self.canary(self.host(self.rig.user + MANIFEST.format(502)))
        self.canary(os.path.join(self.desktop, "Other Game_qa.url"))
        self.rig.set_registry(h.record(title=TITLE, game_no="501") + "\r\n\r\n" + h.neighbour())
        self.rig.wine_run(["reg", "add", "HKEY_LOCAL_MACHINE\\" + ENTRY, "/v", "DisplayName", "/d", TITLE, "/f"])

    def test_whole_game_is_removed_and_only_it(self):
        self.install()
        self.result(self.confirm(), 1)
        self.assert_guarded()
        for gone in (self.host(GAME), self.host(self.rig.user + MANIFEST.format(501)),
                     os.path.join(self.desktop, SHORTCUT), os.path.join(self.programs, SHORTCUT)):
            self.assertFalse(os.path.exists(gone), gone)
        self.assertTrue(os.path.isdir(self.programs))
        self.assertFalse(self.rig.key_exists(h.RECORD_QA))
        self.assertFalse(self.rig.key_exists("HKEY_LOCAL_MACHINE\\" + ENTRY, 64))
        self.assert_log_lines(h.TEMP_LINES + [
            h.line("INFO", "_deleteTmpManifest", "Deleted tmp manifest: " + self.rig.user + MANIFEST.format(501)),
            h.line("INFO", "_deleteGameShortcuts",
                   "Deleted desktop shortcut: " + self.rig.user + "\\Desktop\\" + SHORTCUT),
            h.line("INFO", "_deleteGameShortcuts",
                   "Deleted start menu shortcut: " + self.rig.user + PROGRAMS + SHORTCUT),
            h.line("INFO", "_regDeleteKey", "Deleted registry key: " + ENTRY),
            h.line("INFO", "_regDeleteKey", "Deleted registry key: " + h.RECORD)])

    def elevated_copies(self):
        """Command lines of copies started with --elevated in this prefix."""
        found = []
        own = ("WINEPREFIX=" + os.environ["WINEPREFIX"]).encode()
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    args = f.read().decode("utf-8", "replace").rstrip("\0").split("\0")
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if own not in f.read().split(b"\0"):
                        continue
            except OSError:
                continue
            exe = [i for i, a in enumerate(args) if a.endswith("GameUninstaller.exe")]
            if "--elevated" in args and exe:
                found.append(args[exe[0]:])
        return found

    def relaunch(self, blocker_ends):
        """An executable of the game runs through a path the running-game check does not
        know (a link to its folder), so deleting it is refused with access denied and the
        elevated copy starts. With blocker_ends it ends once the relaunch is logged."""
        self.install(files=0)
        shutil.copyfile(os.path.join(self.rig.work, "blocker.exe"), self.host(GAME + r"\bin\game.exe"))
        os.symlink(self.host(GAME + r"\bin"), self.host(r"C:\alias"))
        text = "Access denied, relaunching elevated" if blocker_ends else "never appears"
        self.rig.start([r"C:\alias\game.exe", self.rig.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log",
                        text, "80000"], limit=90)
        time.sleep(1.0)
        run = self.confirm()
        # The elevated copy may live for a fraction of a second: a thread looks for it
        # every few milliseconds until the result box is up.
        seen, done = [], threading.Event()

        def watch():
            while not done.is_set():
                seen.extend(c for c in self.elevated_copies() if c not in seen)
                time.sleep(0.003)

        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        try:
            self.assertEqual(self.rig.driver("--wait-ms", "60000")[0], 0, "no result box appeared")
        finally:
            done.set()
            watcher.join()
        self.result(run, 1 if blocker_ends else 2)
        self.assert_guarded()
        self.assertEqual(seen, [["C:\\gu-e2e\\GameUninstaller.exe", "77", "_qa", "--elevated"]])
        return self.read_log().decode("utf-8")

    def test_access_denied_relaunches_elevated_and_goes_on_once_the_folder_is_gone(self):
        self.relaunch(blocker_ends=True)
        self.assertFalse(os.path.exists(self.host(GAME)))
        self.assertFalse(self.rig.key_exists(h.RECORD_QA))
        # The elevated copy's records are lost while this process holds the log; this
        # process then finds the keys already gone.
        removal = "_removeDirectoriesRecursive"
        self.assert_log_lines(h.TEMP_LINES + [
            h.error_line(removal, "Remove file failed: " + GAME + r"\bin\game.exe"),
            h.error_line(removal, "Remove dir failed: " + GAME + r"\bin"),
            h.error_line(removal, "Remove dir failed: " + GAME),
            h.line("INFO", "_deleteGameFolder", "Access denied, relaunching elevated: " + GAME),
            h.error_line("_regDeleteKey", "Failed to delete registry key: " + ENTRY + " (2)"),
            h.error_line("_regDeleteKey", "Failed to delete registry key: " + h.RECORD + " (2)")])

    def test_elevated_copy_that_fails_too_ends_with_2(self):
        log = self.relaunch(blocker_ends=False)
        self.assertTrue(os.path.exists(self.host(GAME + r"\bin\game.exe")))
        self.assertTrue(self.rig.key_exists(h.RECORD_QA))
        self.assertIn("Access denied, relaunching elevated: " + GAME, log)
        self.assertNotIn("Failed to delete game folder", log)  # not on the relaunch branch


if __name__ == "__main__":
    h.main()
