#!/usr/bin/env python3
"""Faults end to end under Wine: files held open or immutable, entries appearing during the
removal, a missing, held or read-only log file, a record that changes under the program,
values of odd types and competing starts. Each row checks the result box, the exact log
lines, what was deleted and kept, the exit status and the harness's canaries. Run it as
tests/e2e/harness.py says; --summary counts it as suite "faults".
"""
import os
import re
import subprocess
import sys
import time

import harness as h
from harness import GAME, RECORD

REMOVAL = "_removeDirectoriesRecursive"
FAILED_FOLDER = h.error_line("_deleteGameFolder", "Failed to delete game folder: " + GAME)
# A folder chain that takes the held file's path past 260 characters.
DEEP = "\\".join(["deep"] + [f"level{i}_" + "x" * 40 for i in range(6)])
EARLIER = b"\xef\xbb\xbfearlier\r\n"

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
            made, alive = made + 1, alive + 1
        except OSError:
            pass
    if not alive:
        break
    time.sleep(0.001)
print(made)
"""


def hex_value(type_no, text):
    return f"hex({type_no:x}):" + ",".join(f"{b:02x}" for b in text.encode("utf-16-le"))


# (case, folder below the game holding a file another process holds open): deleting it is
# a sharing violation (32), reported without a relaunch.
HELD_FILES = [("held_file_short_path", "bin"), ("held_file_past_260_characters", DEEP)]

# (case, what makes the log unwritable): its records are lost, the uninstall succeeds.
LOG_FAULTS = [("missing_log_folder_is_not_made", "missing"), ("log_held_by_another_writer", "held"),
              ("read_only_log", "read-only")]

# (case, record values in .reg syntax over a complete record, code, _readGameInfo's line)
ODD_VALUES = [
    ("dword_title_fails_with_4", {"GameTitle": "dword:00000001"}, 4, "GameTitle not found in registry: "),
    ("multi_sz_path_fails_with_3", {"GamePath": hex_value(7, GAME + "\0" + GAME + "\0\0")}, 3,
     "GamePath not found in registry: "),
    ("binary_path_fails_with_3", {"GamePath": hex_value(3, GAME + "\0")}, 3, "GamePath not found in registry: "),
    ("unexpanded_path_is_refused_with_3", {"GamePath": hex_value(2, "%SystemRoot%\\Games\0")}, 3,
     "GamePath refused, not a game folder: %SystemRoot%\\Games"),
    ("huge_title_succeeds", {"GameTitle": '"' + "T" * 100000 + '"'}, 1, None),
]


class Faults(h.Case):
    def hold(self, win_path):
        """holdopen.exe holds the file until release(); returns once it is open."""
        ready = os.path.join(self.rig.work, "ready")
        if os.path.exists(ready):
            os.remove(ready)
        run = self.rig.start([r"C:\gu-e2e\holdopen.exe", win_path, r"C:\gu-e2e\ready", "90000"], limit=120)
        for _ in range(1500):
            if os.path.exists(ready) or run.popen.poll() is not None:
                break
            time.sleep(0.02)
        self.assertTrue(os.path.exists(ready), "holdopen did not open the file")
        return run, ready

    def release(self, held):
        os.remove(held[1])
        self.assertEqual(held[0].popen.wait(30), 0, "holdopen was not holding the file to the end")

    def held_file(self, folder):
        held_win = GAME + "\\" + folder + r"\data.pak"
        self.write(self.host(held_win), b"held" * 8)
        files = self.install_game()
        files[self.host(held_win)] = b"held" * 8
        held = self.hold(("\\\\?\\" if len(held_win) > 250 else "") + held_win)
        parts = folder.split("\\")
        chain = [GAME + "\\" + "\\".join(parts[:i]) for i in range(len(parts), 0, -1)] + [GAME]
        self.attempt(h.record(), 2, h.TEMP_LINES + [h.error_line(REMOVAL, "Remove file failed: " + held_win)]
                     + [h.error_line(REMOVAL, "Remove dir failed: " + p) for p in chain] + [FAILED_FOLDER, h.failed(2)])
        self.assertEqual(self.remaining(files), [self.host(held_win)])
        self.release(held)
        self.assertTrue(self.rig.key_exists(h.RECORD_QA))

    def log_fault(self, fault):
        files = self.install_game()
        before = None if fault == "missing" else EARLIER
        if fault == "missing":
            os.rmdir(self.rig.log_dir("_qa"))
        else:
            self.write(self.rig.log_path(), EARLIER)
        if fault == "held":
            held = self.hold(self.rig.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log")
        if fault == "read-only":
            # Wine running as root opens a chmod 444 file for writing; the immutable flag is
            # what makes the open fail, as the read-only attribute would.
            os.chmod(self.rig.log_path(), 0o444)
            self.immutable(self.rig.log_path())
        self.attempt(h.record(), 1, None)
        self.assertEqual(self.read_log(), before)
        self.assertEqual(self.remaining(files), [])
        self.assertFalse(self.rig.key_exists(h.RECORD_QA))
        self.assertEqual(os.path.exists(self.rig.log_dir("_qa")), fault != "missing")
        if fault == "held":
            self.release(held)

    def odd_value(self, values, code, message):
        files = self.install_game()
        body = h.record() + "".join(f'\r\n"{name}"={value}' for name, value in values.items())  # later wins
        if code == 1:
            self.attempt(body, 1, h.TEMP_LINES + [h.line("INFO", "_regDeleteKey", "Deleted registry key: " + RECORD)])
            self.assertEqual(self.remaining(files), [])
            return
        suffix = "" if "refused" in message else RECORD
        self.attempt(body, code, [h.error_line(h.READ_INFO, message + suffix), h.failed(code)])
        self.assertEqual(self.remaining(files), sorted(files))
        self.assertTrue(self.rig.key_exists(h.RECORD_QA))

    def test_immutable_read_only_file_ends_with_2_through_the_worker(self):
        locked = GAME + r"\bin\save.dat"
        self.write(self.host(locked), b"save" * 8)
        files = self.install_game()
        os.chmod(self.host(locked), 0o444)
        self.immutable(self.host(locked))
        self.attempt(h.record(), 2, h.TEMP_LINES + [
            h.error_line("_worker", "[_worker] filesystem_error: filesystem error: permissions: Access denied ["
                         + locked + "] path1=" + locked + " path2="), h.failed(2)])
        self.assertTrue(os.path.exists(self.host(locked)))
        self.assertTrue(set(self.remaining(files)) <= set(files))
        self.assertTrue(self.rig.key_exists(h.RECORD_QA))

    def test_entries_appearing_during_the_removal_end_in_a_clear_outcome(self):
        files = self.install_game(files=400)
        folders = sorted({os.path.dirname(p) for p in files})
        stop = os.path.join(self.rig.work, "stop-spawner")
        if os.path.exists(stop):
            os.remove(stop)
        spawner = []

        def spawn():
            spawner.append(subprocess.Popen([sys.executable, "-c", SPAWNER, stop] + folders, stdout=subprocess.PIPE))
        try:
            h.STATS["cases"] += 1
            self.rig.set_registry(h.record() + "\r\n\r\n" + h.neighbour())
            run = self.confirm(before_yes=spawn)
            status, box = self.rig.driver("--wait-ms", "90000", "--press", "ok", timeout=120)
            self.assertEqual(status, 0)
            self.expect_exit(run, 0)
        finally:
            open(stop, "w").close()
            made = int(spawner[0].communicate(timeout=30)[0] or 0) if spawner else 0
        self.assertGreater(made, 0, "the spawner made no file while the program ran")
        self.assert_guarded()
        lines = self.read_log().decode("utf-8").lstrip("\ufeff").splitlines()
        allowed = re.compile(r".*\] (Removed \.vexal_temp: |Removed install_progress\.json|Remove (file|dir) failed: "
                             + re.escape(GAME) + r"(\\|$)|Deleted registry key: |Failed to delete game folder: "
                             r"|Deleted combinedata_manifest: |Fail to uninstall due to error\(2\))")
        for text in lines:
            self.assertRegex(text, allowed)
        succeeded = box["text"] == h.SUCCESS
        self.assertIn(box["text"], (h.SUCCESS, h.FAILURE.format(2)))
        self.assertRegex(lines[-1 if succeeded else -2], ("Deleted registry key: " + re.escape(RECORD)) if succeeded
                         else "Failed to delete game folder: " + re.escape(GAME) + "$")
        self.assertEqual(self.rig.key_exists(h.RECORD_QA), not succeeded)
        # Whatever stays is the game's own or the spawner's, inside the game.
        for folder, _, names in os.walk(self.host(GAME)):
            for name in names:
                self.assertTrue(name.startswith("spawn_") or os.path.join(folder, name) in files, name)

    def test_record_deleted_between_question_and_yes_fails_with_3(self):
        files = self.install_game()
        self.attempt(h.record(), 3, [h.error_line(h.READ_INFO, "Apps registry not found: " + RECORD), h.failed(3)],
                     before_yes=lambda: self.rig.wine_run(["reg", "delete", h.RECORD_QA, "/f"]))
        self.assertEqual(self.remaining(files), sorted(files))

    def test_record_with_a_subkey_succeeds_and_keeps_the_record(self):
        self.install_game()
        self.attempt(h.record() + "\r\n\r\n[" + h.RECORD_QA + '\\Saves]\r\n"Slot"="1"', 1, h.TEMP_LINES + [
            h.error_line("_regDeleteKey", "Failed to delete registry key: " + RECORD + " (5)")])
        self.assertFalse(os.path.exists(self.host(GAME)))
        self.assertEqual(self.rig.value_of(h.RECORD_QA + r"\Saves", "Slot"), "1")
        self.assertEqual(self.rig.value_of(h.RECORD_QA, "GameTitle"), h.TITLE)

    def test_two_starts_at_once_show_one_question_and_the_second_ends_with_1(self):
        h.STATS["cases"] += 1
        self.rig.set_registry(h.record() + "\r\n\r\n" + h.neighbour())
        first, second = self.run_program(), self.run_program()
        for _ in range(1500):
            if first.popen.poll() is not None or second.popen.poll() is not None:
                break
            time.sleep(0.02)
        ended, waiting = (first, second) if first.popen.poll() is not None else (second, first)
        self.assertLess(self.expect_exit(ended, 1), 5.0, "the second instance did not end quickly")
        self.answer(h.QUESTION, "", ["yes", "no"], "no")
        self.expect_exit(waiting, 0)
        self.expect_no_box(300)
        self.assert_guarded()
        self.assertEqual(os.listdir(self.rig.log_dir("_qa")), [])

    def test_elevated_copy_beside_a_waiting_process_removes_the_game_without_a_box(self):
        files = self.install_game()

        def elevated():
            self.expect_exit(self.run_program("77 _qa --elevated"), 0)
            status, now = self.rig.driver("--wait-ms", "0")
            self.assertEqual(now["count"], 1, "the elevated copy showed a box")
            self.assertEqual(self.remaining(files), [])
            self.assertFalse(self.rig.key_exists(h.RECORD_QA))
        self.attempt(h.record(), 3, h.TEMP_LINES + [
            h.line("INFO", "_regDeleteKey", "Deleted registry key: " + RECORD),
            h.error_line(h.READ_INFO, "Apps registry not found: " + RECORD), h.failed(3)], before_yes=elevated)


h.add_rows(Faults, HELD_FILES, Faults.held_file)
h.add_rows(Faults, LOG_FAULTS, Faults.log_fault)
h.add_rows(Faults, ODD_VALUES, Faults.odd_value)

if __name__ == "__main__":
    h.main("faults")
