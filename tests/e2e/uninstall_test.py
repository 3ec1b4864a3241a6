#!/usr/bin/env python3
"""End-to-end tests of whole uninstalls under Wine: a realistic game is removed
completely and only it, with the real registry, files, processes and message boxes.

Run like e2e_test.py (same options), inside scripts/with-wine-rig.
"""
import os
import re
import shutil
import subprocess
import threading
import time

import e2e_test as e2e

GAME = r"C:\Games\SpaceRace"
TITLE = "Space Race: 우주"           # ':' is dropped from the shortcut names
SHORTCUT = "Space Race 우주_qa.url"
ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexal_qa App 77"
ENTRY_KEY = r"HKEY_LOCAL_MACHINE" + "\\" + ENTRY
RECORD = r"Software\ORBA_qa\Apps\77"
SUCCESS = "게임이 삭제되었습니다."


def line(severity, function, message):
    """The pattern of one record of the log (without its CR LF)."""
    return re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} " + severity.ljust(5)
                      + r" \[\d+\] \[GameUninstallHelper::" + re.escape(function) + r"@\d+\] "
                      + re.escape(message) + "$")


class Uninstall(e2e.E2ECase):
    """A game installed the way the platform installs it, with canaries around it."""

    def setUp(self):
        super().setUp()
        rig = self.rig
        self.user = "C:\\users\\" + os.path.basename(rig.user_dir)
        self.desktop = os.path.join(rig.user_dir, "Desktop")
        self.programs = os.path.join(rig.user_dir, "AppData", "Roaming", "Microsoft", "Windows",
                                     "Start Menu", "Programs")
        self.manifests = os.path.join(rig.local_appdata, "VEXAL", "tmpgamemanifest")
        for folder in (os.path.join(self.programs, "VEXAL_qa"), self.manifests):
            shutil.rmtree(folder, ignore_errors=True)
        for leftover in ("alias",):
            path = os.path.join(rig.drive_c, leftover)
            if os.path.islink(path):
                os.remove(path)
        blocker = os.path.join(os.path.dirname(e2e.ARGS.driver), "blocker.exe")
        shutil.copyfile(blocker, os.path.join(rig.work, "blocker.exe"))
        for view in (32, 64):
            rig.wine_run(["reg", "delete", ENTRY_KEY, "/f", f"/reg:{view}"], 30, check=False)
        self.canaries = {}

    def tearDown(self):
        subprocess.run(["chattr", "-R", "-i", os.path.join(self.rig.drive_c, "Games")],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        super().tearDown()

    # ---- the installed game -----------------------------------------------------------

    def write(self, path, data=b"x", read_only=False):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if read_only:
            os.chmod(path, 0o444)  # Wine shows it as FILE_ATTRIBUTE_READONLY

    def canary(self, path):
        data = os.urandom(64)
        self.write(path, data)
        self.canaries[path] = data

    def install_game(self, files=200, entry_view=64):
        game = self.rig.host_path(GAME)
        for i in range(files):
            self.write(os.path.join(game, "Content", f"pak{i % 7}", f"에셋_{i}.uasset"), os.urandom(32),
                       read_only=(i % 10 == 0))
        self.write(os.path.join(game, "bin", "game.exe"), b"MZ")
        self.write(os.path.join(game, ".vexal_temp", "chunk.tmp"))
        self.write(os.path.join(game, "install_progress.json"), b"{}", read_only=True)
        self.write(os.path.join(game, "combinedata_manifest"), b"m")
        self.write(os.path.join(self.manifests, "tmpgamemanifest_501_qa.upf"), read_only=True)
        self.write(os.path.join(self.desktop, SHORTCUT))
        self.write(os.path.join(self.programs, "VEXAL_qa", SHORTCUT))
        # What must survive: a sibling whose name starts like the game's, other manifests
        # and shortcuts, and the platform's folders.
        self.canary(self.rig.host_path(GAME + r"2\keep.txt"))
        self.canary(os.path.join(self.manifests, "tmpgamemanifest_502_qa.upf"))
        self.canary(os.path.join(self.desktop, "Other Game_qa.url"))
        self.set_registry(e2e.record(title=TITLE, path=GAME, game_no="501"),
                          check_keys=[e2e.RECORD_QA])
        reg = ["reg", "add", ENTRY_KEY, "/v", "DisplayName", "/d", TITLE, "/f"]
        self.rig.wine_run(reg + (["/reg:32"] if entry_view == 32 else []), 30)
        return game

    def assert_canaries_intact(self):
        for path, data in self.canaries.items():
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data, f"{path} changed")

    def entry_exists(self, view):
        args = ["reg", "query", ENTRY_KEY, f"/reg:{view}"]
        return self.rig.wine_run(args, 30, check=False).returncode == 0

    def confirm(self, *args):
        run = self.run_program("77", "_qa", *args)
        self.expect_box(e2e.QUESTION, "", ["yes", "no"])
        self.press("yes")
        return run

    def expect_result(self, run, text, caption, wait_ms=60000):
        self.expect_box(text, caption, ["ok"], wait_ms=wait_ms)
        self.press("ok")
        self.expect_exit(run, 0)

    def success_lines(self):
        return [
            line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
            line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
            line("INFO", "_deleteTmpManifest", "Deleted tmp manifest: " + self.user
                 + r"\AppData\Local\VEXAL\tmpgamemanifest\tmpgamemanifest_501_qa.upf"),
            line("INFO", "_deleteGameShortcuts", "Deleted desktop shortcut: " + self.user
                 + "\\Desktop\\" + SHORTCUT),
            line("INFO", "_deleteGameShortcuts", "Deleted start menu shortcut: " + self.user
                 + r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\VEXAL_qa" + "\\"
                 + SHORTCUT),
            line("INFO", "_regDeleteKey", "Deleted registry key: " + ENTRY),
            line("INFO", "_regDeleteKey", "Deleted registry key: " + RECORD),
        ]

    # ---- cases ------------------------------------------------------------------------

    def test_whole_game_is_removed_and_only_it(self):
        game = self.install_game()
        run = self.confirm()
        self.expect_result(run, SUCCESS, "")
        self.assertFalse(os.path.exists(game))
        self.assertFalse(os.path.exists(os.path.join(self.manifests, "tmpgamemanifest_501_qa.upf")))
        self.assertFalse(os.path.exists(os.path.join(self.desktop, SHORTCUT)))
        self.assertFalse(os.path.exists(os.path.join(self.programs, "VEXAL_qa", SHORTCUT)))
        self.assertTrue(os.path.isdir(os.path.join(self.programs, "VEXAL_qa")))
        self.assertFalse(self.rig.key_exists(e2e.RECORD_QA))
        self.assertFalse(self.entry_exists(64))
        self.assert_canaries_intact()
        self.assert_log_lines(self.read_log("_qa"), self.success_lines())

    def test_entry_only_in_32_bit_view_is_deleted_there(self):
        self.install_game(files=5, entry_view=32)
        self.assertTrue(self.entry_exists(32))
        self.assertFalse(self.entry_exists(64))
        self.expect_result(self.confirm(), SUCCESS, "")
        self.assertFalse(self.entry_exists(32))
        self.assert_log_lines(self.read_log("_qa"), self.success_lines())

    def test_running_game_is_refused_with_7(self):
        game = self.install_game(files=5)
        exe = os.path.join(game, "bin", "game.exe")
        shutil.copyfile(os.path.join(self.rig.work, "blocker.exe"), exe)
        holder = subprocess.Popen(["timeout", "60", self.rig.wine, GAME + r"\bin\game.exe",
                                   r"C:\never.txt", "never", "50000"], cwd=self.rig.drive_c,
                                  env=self.rig.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True)
        try:
            time.sleep(1.0)  # the game process is up
            self.expect_result(self.confirm(), e2e.FAILURE.format(7), "Error")
        finally:
            os.killpg(holder.pid, 9)
            holder.wait()
        self.assertTrue(os.path.exists(os.path.join(game, ".vexal_temp", "chunk.tmp")))
        self.assertTrue(self.rig.key_exists(e2e.RECORD_QA))
        self.assert_log_lines(self.read_log("_qa"), [
            line("INFO", "_isGameRunning", "Game process detected: " + GAME + r"\bin\game.exe"),
            line("ERROR", "_worker", "Game is currently running, cannot uninstall: " + GAME),
            e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(7)"),
        ])

    def test_folder_that_stays_fails_with_2_after_the_leftovers(self):
        game = self.install_game(files=5)
        locked = os.path.join(game, "locked")
        self.write(os.path.join(locked, "save.dat"))
        if subprocess.run(["chattr", "+i", locked], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("this file system cannot make a folder immutable")
        self.expect_result(self.confirm(), e2e.FAILURE.format(2), "Error")
        self.assertFalse(os.path.exists(os.path.join(game, ".vexal_temp")))
        self.assertFalse(os.path.exists(os.path.join(game, "install_progress.json")))
        self.assertTrue(os.path.exists(os.path.join(locked, "save.dat")))
        self.assertTrue(self.rig.key_exists(e2e.RECORD_QA))
        self.assertTrue(self.entry_exists(64))
        self.assertTrue(os.path.exists(os.path.join(self.desktop, SHORTCUT)))
        self.assert_log_lines(self.read_log("_qa"), [
            line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
            line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
            line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + GAME + r"\locked"),
            line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + GAME),
            line("ERROR", "_deleteGameFolder", "Failed to delete game folder: " + GAME),
            e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(2)"),
        ])

    def elevated_copies(self):
        """Command lines of running copies started with --elevated in this prefix (other
        prefixes on the machine may run copies of their own)."""
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
            if "--elevated" in args and any(a.endswith("GameUninstaller.exe") for a in args):
                found.append(args[[i for i, a in enumerate(args) if a.endswith("GameUninstaller.exe")][0]:])
        return found

    def relaunch(self, blocker_ends):
        """Holds an executable of the game in use through a path the running-game check
        does not know, so deleting it is refused with access denied."""
        game = self.install_game(files=0)
        os.remove(os.path.join(game, "combinedata_manifest"))
        shutil.copyfile(os.path.join(self.rig.work, "blocker.exe"), os.path.join(game, "bin", "game.exe"))
        os.symlink(os.path.join(game, "bin"), os.path.join(self.rig.drive_c, "alias"))
        watch = self.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log"
        text = "Access denied, relaunching elevated" if blocker_ends else "never appears"
        holder = subprocess.Popen(["timeout", "90", self.rig.wine, r"C:\alias\game.exe", watch, text,
                                   "80000"], cwd=self.rig.drive_c, env=self.rig.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, start_new_session=True)
        time.sleep(1.0)
        run = self.confirm()
        # The elevated copy may live for a fraction of a second: a thread looks for it
        # every few milliseconds while the main thread waits for the result box.
        seen = []
        done = threading.Event()

        def watch():
            while not done.is_set():
                seen.extend(c for c in self.elevated_copies() if c not in seen)
                time.sleep(0.003)

        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        try:
            status, box = self.rig.driver("--wait-ms", "60000")
            self.assertEqual(status, 0, "no result box appeared")
        finally:
            done.set()
            watcher.join()
        return game, run, holder, seen

    def test_access_denied_relaunches_elevated_and_goes_on_once_the_folder_is_gone(self):
        game, run, holder, seen = self.relaunch(blocker_ends=True)
        try:
            self.expect_result(run, SUCCESS, "")
        finally:
            os.killpg(holder.pid, 9)
            holder.wait()
        self.assertEqual(seen, [["C:\\gu-e2e\\GameUninstaller.exe", "77", "_qa", "--elevated"]])
        self.assertFalse(os.path.exists(game))
        self.assertFalse(self.rig.key_exists(e2e.RECORD_QA))
        self.assert_canaries_intact()
        # The elevated copy's own records are lost while this process holds the log; this
        # process then finds the keys already gone.
        self.assert_log_lines(self.read_log("_qa"), [
            line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
            line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
            line("ERROR", "_removeDirectoriesRecursive", "Remove file failed: " + GAME + r"\bin\game.exe"),
            line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + GAME + r"\bin"),
            line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + GAME),
            line("INFO", "_deleteGameFolder", "Access denied, relaunching elevated: " + GAME),
            line("ERROR", "_regDeleteKey", "Failed to delete registry key: " + ENTRY + " (2)"),
            line("ERROR", "_regDeleteKey", "Failed to delete registry key: " + RECORD + " (2)"),
        ])

    def test_elevated_copy_that_fails_too_ends_with_2(self):
        game, run, holder, seen = self.relaunch(blocker_ends=False)
        try:
            self.expect_result(run, e2e.FAILURE.format(2), "Error")
        finally:
            os.killpg(holder.pid, 9)
            holder.wait()
        self.assertEqual(len(seen), 1)
        self.assertTrue(os.path.exists(os.path.join(game, "bin", "game.exe")))
        self.assertTrue(self.rig.key_exists(e2e.RECORD_QA))
        log = self.read_log("_qa").decode("utf-8")
        self.assertIn("Access denied, relaunching elevated: " + GAME, log)
        self.assertNotIn("Failed to delete game folder", log)  # not on the relaunch branch


if __name__ == "__main__":
    e2e.main()
