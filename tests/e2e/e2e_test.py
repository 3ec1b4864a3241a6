#!/usr/bin/env python3
"""End-to-end tests of GameUninstaller.exe under Wine.

Run inside scripts/with-wine-rig (it provides WINEPREFIX, DISPLAY and a warm wineserver):

    scripts/with-wine-rig ctest --test-dir build/windows -R e2e --output-on-failure

or directly, to pick cases with -k (unittest's options follow the script's own):

    b=build/windows; scripts/with-wine-rig python3 tests/e2e/e2e_test.py \
        --exe $b/GameUninstaller.exe --driver $b/tests/e2e/boxdriver.exe \
        --launcher $b/tests/e2e/fakelauncher.exe --runexact $b/tests/e2e/runexact.exe \
        --artifacts build/e2e-artifacts -k Launcher

Each test prepares the registry and files in the prefix, starts the program, reads and
answers its message boxes with boxdriver.exe, and checks the exit status, the texts, the
registry and the log file. Tests run one after another: the mutex and the process list
are per prefix. Screenshots of every box go to --artifacts.
"""
import argparse
import datetime
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None  # the parsed command line, set in main()

QUESTION = ("해당 게임을 삭제하시겠습니까?\n"
            "삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다.")
FAILURE = "게임 삭제에 실패하였습니다.\n(Error Code={})"
BOM = b"\xef\xbb\xbf"

# Keys a test may set up; every test starts with all of them deleted.
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
MANAGED_KEYS = [
    r"HKEY_CURRENT_USER\Software\ORBA_qa",
    r"HKEY_CURRENT_USER\Software\ORBA",
    UNINSTALL + r"\VexalLauncher_qa",
    UNINSTALL + r"\VexalLauncher",
]
# Folders in drive_c a test may fill; every test starts without them.
MANAGED_DIRS = ["launcher", "launcher-empty", "Games"]


class Run:
    """One start of a Windows program; its stderr goes to a file for failure reports."""

    def __init__(self, popen, stderr_path, label):
        self.popen = popen
        self.stderr_path = stderr_path
        self.label = label
        self.started = time.monotonic()

    def stderr(self):
        try:
            with open(self.stderr_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def kill(self):
        """Ends the whole process group (timeout, wine64 and what the program started)."""
        if self.popen.poll() is None:
            try:
                os.killpg(self.popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.popen.wait()


class Rig:
    """The Wine prefix and the helpers that act on it."""

    def __init__(self, artifacts):
        prefix = os.environ.get("WINEPREFIX")
        if not prefix or not os.path.isdir(os.path.join(prefix, "drive_c")):
            sys.exit("e2e_test.py: WINEPREFIX must name a ready Wine prefix; "
                     "run the tests through scripts/with-wine-rig")
        if not os.environ.get("DISPLAY"):
            sys.exit("e2e_test.py: DISPLAY is not set; run the tests through "
                     "scripts/with-wine-rig")
        self.wine = os.environ.get("WINE64", "/usr/lib/wine/wine64")
        self.drive_c = os.path.join(prefix, "drive_c")
        self.user_dir = self._user_dir()
        self.local_appdata = os.path.join(self.user_dir, "AppData", "Local")
        self.work = os.path.join(self.drive_c, "gu-e2e")  # C:\gu-e2e: our programs
        self.artifacts = artifacts
        os.makedirs(self.artifacts, exist_ok=True)
        for name in os.listdir(self.artifacts):  # no stale results from an earlier run
            if name.endswith((".png", ".stderr")):
                os.remove(os.path.join(self.artifacts, name))
        # Wine's own messages stay off unless asked for (GU_E2E_WINEDEBUG=err+all).
        self.env = dict(os.environ, WINEDEBUG=os.environ.get("GU_E2E_WINEDEBUG", "-all"))
        self.runs = []
        self.test_name = "setup"  # names the artifacts of the running test
        self.run_count = 0

    def _user_dir(self):
        users = os.path.join(self.drive_c, "users")
        names = [n for n in os.listdir(users) if n != "Public"]
        own = pwd.getpwuid(os.getuid()).pw_name
        if own in names:
            return os.path.join(users, own)
        if len(names) == 1:
            return os.path.join(users, names[0])
        sys.exit(f"e2e_test.py: cannot tell the user folder among {names} in {users}")

    # ---- paths ------------------------------------------------------------------------

    def host_path(self, win_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b."""
        assert win_path[:3].upper() == "C:\\", win_path
        return os.path.join(self.drive_c, *win_path[3:].split("\\"))

    def log_dir(self, env_token):
        folder = "VEXAL" + (env_token[1:] if env_token.startswith("_") else env_token)
        return os.path.join(self.local_appdata, folder, "Logs")

    def log_path(self, env_token):
        return os.path.join(self.log_dir(env_token), "GameUninstaller.log")

    # ---- set-up -----------------------------------------------------------------------

    def install_programs(self):
        """Copies the programs into C:\\gu-e2e so they run from a Windows path."""
        os.makedirs(self.work, exist_ok=True)
        for name, src in (("GameUninstaller.exe", ARGS.exe), ("boxdriver.exe", ARGS.driver),
                          ("runexact.exe", ARGS.runexact), ("fakelauncher.exe", ARGS.launcher)):
            shutil.copyfile(src, os.path.join(self.work, name))

    def reset(self):
        """A clean state: no records, launcher entries, test folders or log files."""
        self.set_registry("")
        for d in MANAGED_DIRS:
            shutil.rmtree(os.path.join(self.drive_c, d), ignore_errors=True)
        for token in ("", "_qa"):
            shutil.rmtree(os.path.dirname(self.log_dir(token)), ignore_errors=True)
            os.makedirs(self.log_dir(token))  # the program never creates it

    def set_registry(self, body, check_keys=()):
        """Deletes the managed keys, then imports `body` (lines of a .reg file) in one
        regedit run. `check_keys` are verified to exist afterwards."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        lines += [f"[-{k}]" for k in MANAGED_KEYS] + ["", body, ""]
        reg = os.path.join(self.work, "state.reg")
        with open(reg, "wb") as f:
            f.write("\r\n".join(lines).encode("utf-16"))  # with BOM: any text is fine
        self.wine_run(["regedit", "/S", r"C:\gu-e2e\state.reg"], 30)
        for key in check_keys:
            if not self.key_exists(key):
                raise AssertionError(f"registry set-up failed: {key} is missing")

    def key_exists(self, key):
        return self.wine_run(["reg", "query", key], 30, check=False).returncode == 0

    def value_of(self, key, name):
        """The data of a value as `reg query` prints it, or None when it is missing."""
        out = self.wine_run(["reg", "query", key, "/v", name], 30, check=False)
        if out.returncode != 0:
            return None
        for line in out.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[2] if len(parts) == 3 else ""
        return None

    def install_launcher(self, folder=r"C:\launcher"):
        """Puts the stand-in launcher at <folder>\\VEXAL.exe; returns its args.txt path."""
        host = self.host_path(folder)
        os.makedirs(host, exist_ok=True)
        shutil.copyfile(os.path.join(self.work, "fakelauncher.exe"),
                        os.path.join(host, "VEXAL.exe"))
        return os.path.join(host, "args.txt")

    # ---- running programs -------------------------------------------------------------

    def wine_run(self, args, timeout, check=True):
        """Runs a short Windows command to its end. Its output goes through files, not
        pipes: a Wine system process started on the way (the desktop's explorer.exe) can
        inherit the handles and outlive the command, and a pipe would then never close."""
        with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
            status = subprocess.run(["timeout", str(timeout), self.wine] + args, cwd=self.drive_c,
                                    env=self.env, stdin=subprocess.DEVNULL, stdout=out_file,
                                    stderr=err_file, timeout=timeout + 10).returncode
            out_file.seek(0)
            err_file.seek(0)
            out = subprocess.CompletedProcess(args, status, out_file.read(), err_file.read())
        if check and out.returncode != 0:
            raise AssertionError(f"{args} failed with {out.returncode}: "
                                 f"{out.stderr.decode('utf-8', 'replace')}")
        return out

    def run_program(self, *args, exact=None):
        """Starts GameUninstaller.exe with `args` (Wine quotes each as needed), or with
        the command-line text `exact` given unchanged. Returns at once."""
        exe = r"C:\gu-e2e\GameUninstaller.exe"
        if exact is not None:
            cmd = [r"C:\gu-e2e\runexact.exe", exe, exact]
        else:
            cmd = [exe] + list(args)
        self.run_count += 1
        stderr_path = os.path.join(self.artifacts, f"{self.test_name}-run{self.run_count}.stderr")
        with open(stderr_path, "wb") as err:
            popen = subprocess.Popen(["timeout", "60", self.wine] + cmd, cwd=self.drive_c,
                                     env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=err,
                                     start_new_session=True)
        run = Run(popen, stderr_path, " ".join(cmd[1:] if exact is None else [exact]))
        self.runs.append(run)
        return run

    def wait_exit(self, run, timeout=30):
        """The exit status of `run`; fails (and kills it) when it does not end in time."""
        try:
            return run.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            run.kill()
            raise AssertionError(f"GameUninstaller.exe {run.label!r} still running after "
                                 f"{timeout} s; stderr: {run.stderr()}")

    def kill_all(self):
        for run in self.runs:
            run.kill()
            if not run.stderr():
                os.remove(run.stderr_path)
        self.runs = []

    def driver(self, *args, timeout=30):
        """Runs boxdriver.exe; returns (exit status, parsed JSON line)."""
        out = self.wine_run([r"C:\gu-e2e\boxdriver.exe"] + list(args), timeout, check=False)
        text = out.stdout.decode("utf-8")
        lines = [l for l in text.splitlines() if l.strip()]
        if not lines:
            raise AssertionError(f"boxdriver {args} printed nothing (status {out.returncode}): "
                                 f"{out.stderr.decode('utf-8', 'replace')}")
        return out.returncode, json.loads(lines[-1])

    def screenshot(self, name, rect=None):
        """Saves the screen, or the part `rect` = [left, top, right, bottom] of it."""
        path = os.path.join(self.artifacts, name + ".png")
        cmd = ["import", "-display", os.environ["DISPLAY"], "-window", "root"]
        if rect:
            l, t, r, b = rect
            cmd += ["-crop", f"{r - l}x{b - t}+{l}+{t}", "+repage"]
        subprocess.run(cmd + [path], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)
        return path


class E2ECase(unittest.TestCase):
    """Base of all cases: a clean prefix state before each test, nothing left running
    after it, and the helpers below."""

    rig = None  # shared by all tests; made in main()
    durations = []  # (test, seconds), printed at the end

    def setUp(self):
        self.started = time.monotonic()
        self.shots = 0
        self.rig.test_name = self.id().split(".", 1)[1]
        self.rig.run_count = 0
        self.rig.reset()
        status, box = self.rig.driver("--none-for-ms", "0")
        self.assertEqual(status, 0, f"a message box from an earlier run is still up: {box}")

    def tearDown(self):
        self.rig.kill_all()
        self.durations.append((self.rig.test_name, time.monotonic() - self.started))

    # ---- helpers for the cases --------------------------------------------------------

    def set_registry(self, body, check_keys=()):
        self.rig.set_registry(body, check_keys)

    def run_program(self, *args, exact=None):
        return self.rig.run_program(*args, exact=exact)

    def wait_exit(self, run, timeout=30):
        return self.rig.wait_exit(run, timeout)

    def expect_box(self, text, caption, buttons, wait_ms=10000):
        """Waits for the box, checks what it shows, saves a screenshot; returns the box."""
        status, box = self.rig.driver("--wait-ms", str(wait_ms))
        self.assertEqual(status, 0, f"no message box appeared within {wait_ms} ms")
        self.shots += 1
        self.rig.screenshot(f"{self.rig.test_name}-box{self.shots}", box.get("rect"))
        self.assertEqual(box["text"], text)
        self.assertEqual(box["caption"], caption)
        self.assertEqual(box["buttons"], buttons)
        self.assertEqual(box["icon"], "exclamation")
        self.assertEqual(box["count"], 1, "more than one message box is up")
        return box

    def press(self, button):
        status, box = self.rig.driver("--press", button, "--wait-ms", "5000")
        self.assertEqual(status, 0, f"could not press {button} on {box}")
        self.assertEqual(box.get("pressed"), button)
        return box

    def expect_no_box(self, ms):
        status, box = self.rig.driver("--none-for-ms", str(ms))
        self.assertEqual(status, 0, f"a message box appeared: {box}")

    def expect_exit(self, run, status, within=30):
        got = self.rig.wait_exit(run, within)
        self.assertEqual(got, status, f"exit status of {run.label!r}; stderr: {run.stderr()}")
        return time.monotonic() - run.started

    def read_log(self, env_token="_qa"):
        """The log file's bytes, or None when there is none."""
        try:
            with open(self.rig.log_path(env_token), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def assert_log_lines(self, data, patterns):
        """The log starts with one BOM and holds exactly the CR LF lines `patterns`."""
        self.assertIsNotNone(data, "no log file was written")
        self.assertTrue(data.startswith(BOM), f"log does not start with the BOM: {data[:16]!r}")
        self.assertEqual(data.count(BOM), 1, "the BOM appears more than once")
        body = data[len(BOM):]
        self.assertTrue(body.endswith(b"\r\n"), f"last line does not end in CR LF: {body!r}")
        lines = body[:-2].split(b"\r\n")
        self.assertEqual(len(lines), len(patterns), f"log lines: {lines}")
        now = datetime.datetime.now()
        for line, pattern in zip(lines, patterns):
            self.assertNotIn(b"\n", line, "a line ends in LF without CR")
            self.assertRegex(line.decode("utf-8"), pattern)
            stamp = datetime.datetime.strptime(line[:23].decode(), "%Y-%m-%d %H:%M:%S.%f")
            self.assertLess(abs((now - stamp).total_seconds()), 600,
                            f"time stamp is not local time now ({now}): {line!r}")


def error_line(function, message):
    """The pattern of one error record (without its CR LF)."""
    return re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ERROR \[\d+\] \["
                      + re.escape(function) + r"@\d+\] " + re.escape(message) + r"$", re.ASCII)


READ_INFO = "GameUninstallHelper::_readGameInfo"
ON_EVENT = "onUninstallEvent"
RECORD_QA = r"HKEY_CURRENT_USER\Software\ORBA_qa\Apps\77"


def record(key=RECORD_QA, title="Space Race", path=r"C:\Games\SpaceRace", game_no="77"):
    """A game record in .reg syntax; a value given as None is left out."""
    lines = [f"[{key}]"]
    for name, value in (("GameTitle", title), ("GamePath", path), ("GameNo", game_no)):
        if value is not None:
            escaped = value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{escaped}"')
    return "\r\n".join(lines)


def launcher_entry(token, location):
    escaped = location.replace("\\", "\\\\")
    return f'[{UNINSTALL}\\VexalLauncher{token}]\r\n"InstallLocation"="{escaped}"'


# ---- cases ------------------------------------------------------------------------------

class StartUp(E2ECase):
    def test_no_arguments_shows_no_args_and_ok_ends_with_0(self):
        run = self.run_program()
        self.expect_box("No Args", "Error", ["ok"])
        self.press("ok")
        self.expect_exit(run, 0)
        self.expect_no_box(300)

    def test_elevated_start_shows_no_box_and_ends_with_0(self):
        run = self.run_program("77", "_qa", "--elevated")
        self.expect_no_box(3000)
        self.expect_exit(run, 0)


class Question(E2ECase):
    def test_no_ends_with_0_and_writes_no_log(self):
        run = self.run_program("77", "_qa")
        self.expect_box(QUESTION, "", ["yes", "no"])
        self.press("no")
        self.expect_exit(run, 0)
        self.expect_no_box(500)
        self.assertEqual(os.listdir(self.rig.log_dir("_qa")), [], "No must not write a log")

    def test_no_keeps_the_game(self):
        game = os.path.join(self.rig.drive_c, "Games", "SpaceRace")
        os.makedirs(game)
        with open(os.path.join(game, "game.exe"), "wb") as f:
            f.write(b"MZ")
        self.set_registry(record(), check_keys=[RECORD_QA])
        run = self.run_program("77", "_qa")
        self.expect_box(QUESTION, "", ["yes", "no"])
        self.press("no")
        self.expect_exit(run, 0)
        self.assertTrue(os.path.isfile(os.path.join(game, "game.exe")))
        self.assertEqual(self.rig.value_of(RECORD_QA, "GameTitle"), "Space Race")

    def test_second_start_ends_with_1_without_a_box(self):
        first = self.run_program("77", "_qa")
        box = self.expect_box(QUESTION, "", ["yes", "no"])
        second = self.run_program("77", "_qa")
        took = self.expect_exit(second, 1, within=20)
        self.assertLess(took, 5.0, "the second instance did not end quickly")
        status, now = self.rig.driver("--wait-ms", "1000")
        self.assertEqual(status, 0)
        self.assertEqual(now["count"], 1, "the second instance showed a box")
        self.assertEqual(now["pid"], box["pid"])
        self.press("no")
        self.expect_exit(first, 0)


class RecordErrors(E2ECase):
    def answer_yes_expect_failure(self, code):
        run = self.run_program("77", "_qa")
        self.expect_box(QUESTION, "", ["yes", "no"])
        self.press("yes")
        self.expect_box(FAILURE.format(code), "Error", ["ok"])
        self.press("ok")
        self.expect_exit(run, 0)
        self.expect_no_box(300)

    def test_missing_record_fails_with_3_and_logs_it(self):
        self.answer_yes_expect_failure(3)
        self.assert_log_lines(self.read_log("_qa"), [
            error_line(READ_INFO, r"Apps registry not found: Software\ORBA_qa\Apps\77"),
            error_line(ON_EVENT, "Fail to uninstall due to error(3)"),
        ])
        self.assertIsNone(self.read_log(""), "wrote into the log of another environment")

    def test_second_run_appends_without_a_second_bom(self):
        self.answer_yes_expect_failure(3)
        self.answer_yes_expect_failure(3)
        lines = [
            error_line(READ_INFO, r"Apps registry not found: Software\ORBA_qa\Apps\77"),
            error_line(ON_EVENT, "Fail to uninstall due to error(3)"),
        ]
        self.assert_log_lines(self.read_log("_qa"), lines * 2)

    def test_record_without_title_fails_with_4(self):
        self.set_registry(record(title=None), check_keys=[RECORD_QA])
        self.answer_yes_expect_failure(4)
        self.assert_log_lines(self.read_log("_qa"), [
            error_line(READ_INFO, r"GameTitle not found in registry: Software\ORBA_qa\Apps\77"),
            error_line(ON_EVENT, "Fail to uninstall due to error(4)"),
        ])
        self.assertEqual(self.rig.value_of(RECORD_QA, "GamePath"), r"C:\Games\SpaceRace")


class LauncherHandOff(E2ECase):
    def read_args(self, args_txt, wait_s=10):
        """The launcher's recorded command lines; waits for the first one."""
        deadline = time.monotonic() + wait_s
        while not os.path.exists(args_txt) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(os.path.exists(args_txt), "the launcher was not started")
        time.sleep(0.2)  # a second start, if any, would have written by now
        with open(args_txt, "rb") as f:
            return f.read().decode("utf-8").splitlines()

    def assert_one_argument(self, line, exe, argument):
        """`line` is the launcher's path (quoted or not) followed by exactly `argument`."""
        for program in (f'"{exe}"', exe):
            if line.startswith(program + " "):
                self.assertEqual(line[len(program) + 1:], argument, line)
                return
        self.fail(f"the launcher's command line does not start with {exe}: {line!r}")

    def hand_off(self, token, args, url):
        key = f"{UNINSTALL}\\VexalLauncher{token}"
        record_key = f"HKEY_CURRENT_USER\\Software\\ORBA{token}\\Apps\\77"
        self.set_registry(launcher_entry(token, r"C:\launcher") + "\r\n\r\n"
                          + record(key=record_key), check_keys=[key, record_key])
        args_txt = self.rig.install_launcher()
        run = self.run_program(*args)
        took = self.expect_exit(run, 1, within=20)
        self.assertLess(took, 5.0, "the hand-off did not end at once")
        lines = self.read_args(args_txt)
        self.assertEqual(len(lines), 1, f"launcher starts: {lines}")
        self.assert_one_argument(lines[0], r"C:\launcher\VEXAL.exe", url)
        self.expect_no_box(500)
        # The launcher does the uninstall: nothing is removed here, nothing is logged.
        self.assertEqual(self.rig.value_of(record_key, "GameTitle"), "Space Race")
        self.assertEqual(os.listdir(self.rig.log_dir(token)), [])

    def test_qa_token_hands_off_to_qa_launcher(self):
        self.hand_off("_qa", ["77", "_qa"], "orba_qa://deletegame/77")

    def test_no_token_hands_off_to_plain_launcher(self):
        self.hand_off("", ["77"], "orba://deletegame/77")

    def expect_local_question(self, args_txt, *args, exact=None):
        """The program asks itself instead of handing off; `args_txt` (when given) shows
        that the installed launcher was not started."""
        run = self.run_program(*args, exact=exact)
        self.expect_box(QUESTION, "", ["yes", "no"])
        self.press("no")
        self.expect_exit(run, 0)
        if args_txt:
            self.assertFalse(os.path.exists(args_txt), "the launcher was started")

    def test_qa_launcher_does_not_take_a_start_without_token(self):
        key = UNINSTALL + r"\VexalLauncher_qa"
        self.set_registry(launcher_entry("_qa", r"C:\launcher"), check_keys=[key])
        args_txt = self.rig.install_launcher()
        self.expect_local_question(args_txt, "77")

    def test_launcher_folder_without_exe_falls_back_to_local(self):
        key = UNINSTALL + r"\VexalLauncher_qa"
        os.makedirs(self.rig.host_path(r"C:\launcher-empty"))
        self.set_registry(launcher_entry("_qa", r"C:\launcher-empty"), check_keys=[key])
        self.expect_local_question(None, "77", "_qa")

    def test_game_number_with_tab_is_not_handed_off(self):
        key = UNINSTALL + r"\VexalLauncher_qa"
        self.set_registry(launcher_entry("_qa", r"C:\launcher"), check_keys=[key])
        args_txt = self.rig.install_launcher()
        # runexact passes the text unquoted: the program's tokens are "7<TAB>7" and "_qa".
        self.expect_local_question(args_txt, exact="7\t7 _qa")


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="GameUninstaller.exe")
    parser.add_argument("--driver", required=True, help="boxdriver.exe")
    parser.add_argument("--launcher", required=True, help="fakelauncher.exe")
    parser.add_argument("--runexact", required=True, help="runexact.exe")
    parser.add_argument("--artifacts", default=os.path.join(os.getcwd(), "e2e-artifacts"),
                        help="folder for screenshots and program output")
    ARGS, rest = parser.parse_known_args()
    for path in (ARGS.exe, ARGS.driver, ARGS.launcher, ARGS.runexact):
        if not os.path.isfile(path):
            sys.exit(f"e2e_test.py: {path} does not exist; build it first")
    rig = Rig(os.path.abspath(ARGS.artifacts))
    rig.install_programs()
    E2ECase.rig = rig
    started = time.monotonic()
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    for name, seconds in E2ECase.durations:
        print(f"{seconds:6.2f} s  {name}", file=sys.stderr)
    print(f"{time.monotonic() - started:6.2f} s  all; artifacts in {rig.artifacts}",
          file=sys.stderr)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
