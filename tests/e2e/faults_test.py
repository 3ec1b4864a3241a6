#!/usr/bin/env python3
"""Faults end to end under Wine: files held open, attributes that cannot be cleared,
entries appearing during the removal, a missing, held or read-only log file, a record
that changes under the program, values of odd types, competing starts and a long path.
Each case checks the final box, the exact log lines, what was deleted and kept, the exit
status, and the canaries of safety_test.py.

Run like e2e_test.py (same options), inside scripts/with-wine-rig; --summary FILE as in
safety_test.py.
"""
import os
import re
import shutil
import subprocess
import sys
import time

import e2e_test as e2e
import safety_test as safety
import uninstall_test as ui

GAME = safety.GAME
RECORD = r"Software\ORBA_qa\Apps\77"
TEMP_LINES = [
    ui.line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
    ui.line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json"),
]
SUCCESS_LINES = TEMP_LINES + [ui.line("INFO", "_regDeleteKey", "Deleted registry key: " + RECORD)]
FAILED_2 = e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(2)")
# A folder chain that takes the held file's path past 260 characters.
DEEP = "\\".join(["deep"] + [f"level{i}_" + "x" * 40 for i in range(6)])

# Creates files in the folders it is given, one in each every millisecond or so, until
# the stop file appears, the folders are gone or 20 s pass; prints how many it made.
SPAWNER = r"""
import os, sys, time
stop, folders = sys.argv[1], sys.argv[2:]
made, end = 0, time.monotonic() + 20
while not os.path.exists(stop) and time.monotonic() < end:
    alive = 0
    for folder in folders:
        try:
            with open(os.path.join(folder, f"spawn_{made}.tmp"), "xb") as f:
                f.write(b"s")
            made += 1
            alive += 1
        except OSError:
            pass
    if not alive:
        break
    time.sleep(0.001)
print(made)
"""


class Faults(safety.Guarded):
    def setUp(self):
        super().setUp()
        self.helpers = []  # (popen, ready file) of holdopen runs
        self.immutables = []
        self.set_registry(safety.record(e2e.RECORD_QA) + "\r\n\r\n" + self.neighbour(),
                          check_keys=[e2e.RECORD_QA])

    def tearDown(self):
        for path in self.immutables:
            subprocess.run(["chattr", "-i", path], stderr=subprocess.DEVNULL, check=False)
        for popen, ready in self.helpers:
            if os.path.exists(ready):
                os.remove(ready)
            try:
                popen.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(popen.pid, 9)
                popen.wait()
            popen.stdout.close()
        super().tearDown()

    # ---- helpers ------------------------------------------------------------------------

    def game(self):
        """The game (with leftovers); returns {host path: bytes} of its files."""
        self.install_game(guard=False)
        files = {}
        for folder, _, names in os.walk(self.host(GAME)):
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    files[os.path.join(folder, name)] = f.read()
        return files

    def hold(self, win_path, timeout_ms=90000):
        """holdopen.exe holds the file until release(); returns once it is open."""
        helper = os.path.join(os.path.dirname(e2e.ARGS.driver), "holdopen.exe")
        exe = os.path.join(self.rig.work, "holdopen.exe")
        if not os.path.exists(exe):
            shutil.copyfile(helper, exe)
        ready = os.path.join(self.rig.work, f"ready{len(self.helpers)}")
        if os.path.exists(ready):
            os.remove(ready)
        popen = subprocess.Popen(["timeout", "120", self.rig.wine, r"C:\gu-e2e\holdopen.exe", win_path,
                                  "C:\\gu-e2e\\" + os.path.basename(ready), str(timeout_ms)],
                                 cwd=self.rig.drive_c, env=self.rig.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        self.helpers.append((popen, ready))
        deadline = time.monotonic() + 30
        while not os.path.exists(ready):
            if popen.poll() is not None:
                self.fail(f"holdopen ended: {popen.stdout.read()!r}")
            self.assertLess(time.monotonic(), deadline, "holdopen did not open the file")
            time.sleep(0.02)
        return popen, ready

    def immutable(self, path):
        """chattr +i, undone in tearDown."""
        if subprocess.run(["chattr", "+i", path], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("this file system cannot make a file immutable")
        self.immutables.append(path)

    def release(self, held):
        popen, ready = held
        os.remove(ready)
        self.assertEqual(popen.wait(30), 0, "holdopen was not holding the file to the end")

    def run_faulty(self, code, lines, exact="77 _qa", before_yes=None):
        """One attempt like safety_test's, with `before_yes` called while the question is up."""
        safety.STATS["cases"] += 1
        run = self.run_program(exact=exact)
        status, box = self.rig.driver("--wait-ms", "30000")
        self.assertEqual((status, box.get("text")), (0, e2e.QUESTION))
        if before_yes:
            before_yes()
        self.press("yes")
        box = self.result(run)
        self.assert_guarded()
        self.assert_result(box, code)
        if lines is not None:
            self.assert_log_lines(self.read_log("_qa"), lines)

    def remaining(self, files):
        """The game's files still there, each with its bytes unchanged."""
        left = [p for p in files if os.path.exists(p)]
        for path in left:
            with open(path, "rb") as f:
                self.assertEqual(f.read(), files[path], f"{path} changed")
        return sorted(left)

    def assert_record_kept(self):
        self.assertTrue(self.rig.key_exists(e2e.RECORD_QA))

    # ---- files that cannot be deleted -------------------------------------------------

    def held_file(self, folder):
        """A file in `folder` (below the game) is held open by another process: deleting
        it is a sharing violation (32), which the program reports without relaunching."""
        held_win = GAME + "\\" + folder + r"\data.pak"
        self.write(self.host(held_win), b"held" * 8)
        files = self.game()
        held = self.hold(("\\\\?\\" if len(held_win) > 250 else "") + held_win)
        chain = [GAME + "\\" + "\\".join(folder.split("\\")[:i]) for i in range(len(folder.split("\\")), 0, -1)]
        self.run_faulty(2, TEMP_LINES + [
            ui.line("ERROR", "_removeDirectoriesRecursive", "Remove file failed: " + held_win)
        ] + [ui.line("ERROR", "_removeDirectoriesRecursive", "Remove dir failed: " + p) for p in chain + [GAME]] + [
            ui.line("ERROR", "_deleteGameFolder", "Failed to delete game folder: " + GAME), FAILED_2])
        self.assertEqual(self.remaining(files), [self.host(held_win)])
        self.release(held)
        self.assert_record_kept()

    def test_held_file_short_path_fails_with_2_without_relaunch(self):
        self.held_file("bin")

    def test_held_file_past_260_characters_ends_like_its_short_twin(self):
        self.assertGreater(len(GAME + "\\" + DEEP + r"\data.pak"), 260)
        self.held_file(DEEP)

    def test_immutable_read_only_file_ends_with_2_through_the_worker(self):
        locked_win = GAME + r"\bin\save.dat"
        self.write(self.host(locked_win), b"save" * 8)
        files = self.game()
        os.chmod(self.host(locked_win), 0o444)
        self.immutable(self.host(locked_win))
        self.run_faulty(2, TEMP_LINES + [
            ui.line("ERROR", "_worker", "[_worker] filesystem_error: filesystem error: permissions: "
                    "Access denied [" + locked_win + "] path1=" + locked_win + " path2="),
            FAILED_2])
        left = self.remaining(files)
        self.assertIn(self.host(locked_win), left)
        self.assertTrue(set(left) <= set(files))
        self.assert_record_kept()

    def test_entries_appearing_during_the_removal_end_in_a_clear_outcome(self):
        for i in range(400):  # a tree that takes a while to remove
            self.write(self.host(GAME + f"\\Content\\pak{i % 8}\\asset{i}.bin"), b"a" * 16)
        files = self.game()
        folders = sorted({os.path.dirname(p) for p in files} | {self.host(GAME)})
        stop = os.path.join(self.rig.work, "stop-spawner")
        if os.path.exists(stop):
            os.remove(stop)
        safety.STATS["cases"] += 1
        run = self.run_program(exact="77 _qa")
        status, box = self.rig.driver("--wait-ms", "30000")
        self.assertEqual((status, box.get("text")), (0, e2e.QUESTION))
        spawner = subprocess.Popen([sys.executable, "-c", SPAWNER, stop] + folders, stdout=subprocess.PIPE)
        started = time.monotonic()
        try:
            self.press("yes")
            box = self.result(run, within=90)
        finally:
            open(stop, "w").close()
            made = int(spawner.communicate(timeout=30)[0] or 0)
        took = time.monotonic() - started
        self.assertGreater(made, 0, "the spawner made no file while the program ran")
        self.assert_guarded()
        log = self.read_log("_qa").decode("utf-8")
        lines = log.lstrip("\ufeff").splitlines()
        allowed = re.compile(r".*\] (Removed \.vexal_temp: |Removed install_progress\.json|Remove (file|dir) "
                             r"failed: " + re.escape(GAME) + r"(\\|$)|Deleted registry key: |Failed to delete "
                             r"game folder: |Deleted combinedata_manifest: |Fail to uninstall due to error\(2\))")
        for line in lines:
            self.assertRegex(line, allowed)
        if box["text"] == ui.SUCCESS:
            self.assertRegex(lines[-1], "Deleted registry key: " + re.escape(RECORD) + "$")
            self.assertFalse(self.rig.key_exists(e2e.RECORD_QA))
        else:
            self.assert_result(box, 2)
            self.assertRegex(lines[-2], "Failed to delete game folder: " + re.escape(GAME) + "$")
            self.assert_record_kept()
        print(f"  spawner made {made} files; outcome {box['text']!r} after {took:.1f} s", file=sys.stderr)
        # Whatever stays is the game's own or the spawner's, inside the game.
        for folder, _, names in os.walk(self.host(GAME)):
            for name in names:
                self.assertTrue(name.startswith("spawn_") or os.path.join(folder, name) in files, name)

    # ---- the log file -------------------------------------------------------------------

    def log_fault(self, prepare):
        """The log cannot be written: its records are lost, the uninstall succeeds."""
        files = self.game()
        before = prepare()
        self.run_faulty(1, None)
        self.assertEqual(self.read_log("_qa"), before)
        self.assertFalse(any(os.path.exists(p) for p in files))
        self.assertFalse(self.rig.key_exists(e2e.RECORD_QA))

    def test_missing_log_folder_loses_the_records_and_is_not_made(self):
        def prepare():
            os.rmdir(self.rig.log_dir("_qa"))
            return None
        self.log_fault(prepare)
        self.assertFalse(os.path.exists(self.rig.log_dir("_qa")))

    def test_log_held_by_another_writer_loses_the_records(self):
        held = []

        def prepare():
            self.write(self.rig.log_path("_qa"), b"\xef\xbb\xbfearlier\r\n")
            held.append(self.hold(self.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log"))
            return b"\xef\xbb\xbfearlier\r\n"
        self.log_fault(prepare)
        self.release(held[0])

    def test_read_only_log_loses_the_records(self):
        # Wine running as root opens a file with the read-only attribute (chmod 444) for
        # writing; the immutable flag is what makes the open fail, as the attribute would.
        def prepare():
            self.write(self.rig.log_path("_qa"), b"\xef\xbb\xbfearlier\r\n")
            os.chmod(self.rig.log_path("_qa"), 0o444)
            self.immutable(self.rig.log_path("_qa"))
            return b"\xef\xbb\xbfearlier\r\n"
        self.log_fault(prepare)

    # ---- the record -------------------------------------------------------------------

    def test_record_deleted_between_question_and_yes_fails_with_3(self):
        files = self.game()
        self.run_faulty(3, [
            e2e.error_line(e2e.READ_INFO, "Apps registry not found: " + RECORD),
            e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(3)"),
        ], before_yes=lambda: self.rig.wine_run(["reg", "delete", e2e.RECORD_QA, "/f"], 30))
        self.assertEqual(self.remaining(files), sorted(files))

    def test_record_with_a_subkey_succeeds_and_keeps_the_record(self):
        self.game()
        self.rig.wine_run(["reg", "add", e2e.RECORD_QA + r"\Saves", "/v", "Slot", "/d", "1", "/f"], 30)
        self.run_faulty(1, TEMP_LINES + [
            ui.line("ERROR", "_regDeleteKey", "Failed to delete registry key: " + RECORD + " (5)")])
        self.assertFalse(os.path.exists(self.host(GAME)))
        self.assertEqual(self.rig.value_of(e2e.RECORD_QA + r"\Saves", "Slot"), "1")
        self.assertEqual(self.rig.value_of(e2e.RECORD_QA, "GameTitle"), safety.TITLE)
    # ---- competing starts -------------------------------------------------------------

    def test_two_starts_at_once_show_one_question(self):
        safety.STATS["cases"] += 1
        first, second = self.run_program(exact="77 _qa"), self.run_program(exact="77 _qa")
        deadline = time.monotonic() + 30
        while first.popen.poll() is None and second.popen.poll() is None:
            self.assertLess(time.monotonic(), deadline, "neither start ended")
            time.sleep(0.02)
        ended, waiting = (first, second) if first.popen.poll() is not None else (second, first)
        self.expect_exit(ended, 1)
        status, box = self.rig.driver("--wait-ms", "10000", "--press", "no")
        self.assertEqual((status, box["text"], box["count"]), (0, e2e.QUESTION, 1))
        self.expect_exit(waiting, 0)
        self.expect_no_box(300)
        self.assert_guarded()
        self.assertEqual(os.listdir(self.rig.log_dir("_qa")), [])

    def test_elevated_copy_beside_a_waiting_process_removes_the_game_silently(self):
        files = self.game()
        safety.STATS["cases"] += 1
        run = self.run_program(exact="77 _qa")
        status, box = self.rig.driver("--wait-ms", "30000")
        self.assertEqual((status, box.get("text")), (0, e2e.QUESTION))
        elevated = self.run_program(exact="77 _qa --elevated")
        self.expect_exit(elevated, 0)
        status, now = self.rig.driver("--wait-ms", "0")
        self.assertEqual((now["count"], now["pid"]), (1, box["pid"]), "the elevated copy showed a box")
        self.assertFalse(any(os.path.exists(p) for p in files))
        self.assertFalse(self.rig.key_exists(e2e.RECORD_QA))
        self.press("yes")
        result = self.result(run)
        self.assert_guarded()
        self.assert_result(result, 3)
        self.assert_log_lines(self.read_log("_qa"), SUCCESS_LINES + [
            e2e.error_line(e2e.READ_INFO, "Apps registry not found: " + RECORD),
            e2e.error_line(e2e.ON_EVENT, "Fail to uninstall due to error(3)"),
        ])



def hex_value(type_no, data):
    return f"hex({type_no:x}):" + ",".join(f"{b:02x}" for b in data)


# (case, values of the record in .reg syntax, code, log message of _readGameInfo or None)
ODD_VALUES = [
    ("dword_title_fails_with_4", {"GameTitle": "dword:00000001"}, 4,
     "GameTitle not found in registry: " + RECORD),
    ("multi_sz_path_fails_with_3",
     {"GamePath": hex_value(7, (GAME + "\0" + GAME + "\0\0").encode("utf-16-le"))}, 3,
     "GamePath not found in registry: " + RECORD),
    ("binary_path_fails_with_3", {"GamePath": hex_value(3, (GAME + "\0").encode("utf-16-le"))}, 3,
     "GamePath not found in registry: " + RECORD),
    ("unexpanded_path_is_refused_with_3",
     {"GamePath": hex_value(2, "%SystemRoot%\\Games\0".encode("utf-16-le"))}, 3,
     safety.REFUSED + "%SystemRoot%\\Games"),
    ("huge_title_succeeds", {"GameTitle": '"' + "T" * 100000 + '"'}, 1, None),
]


def odd_value(self, values, code, message):
    files = self.game()
    body = [f"[HKEY_CURRENT_USER\\{RECORD}]", f'"GameTitle"="{safety.TITLE}"',
            f'"GamePath"="{GAME.replace(chr(92), chr(92) * 2)}"', '"GameNo"="77"']
    body += [f'"{name}"={value}' for name, value in values.items()]  # later lines win
    self.set_registry("\r\n".join(body) + "\r\n\r\n" + self.neighbour(), check_keys=[e2e.RECORD_QA])
    if code == 1:
        self.run_faulty(1, SUCCESS_LINES)
        self.assertFalse(os.path.exists(self.host(GAME)))
        return
    self.run_faulty(code, [e2e.error_line(e2e.READ_INFO, message),
                           e2e.error_line(e2e.ON_EVENT, f"Fail to uninstall due to error({code})")])
    self.assertEqual(self.remaining(files), sorted(files))


for _name, _values, _code, _message in ODD_VALUES:
    setattr(Faults, "test_odd_value_" + _name,
            lambda self, v=_values, c=_code, m=_message: odd_value(self, v, c, m))


if __name__ == "__main__":
    safety.main("faults")
