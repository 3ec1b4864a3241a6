"""The harness of the end-to-end suites: GameUninstaller.exe and its helper programs in a
Wine prefix, canaries around every case, the message boxes read and pressed through
boxdriver.exe, and the log's exact lines.

Run a suite inside scripts/with-wine-rig (WINEPREFIX, DISPLAY, a warm wineserver):

    b=build/windows; scripts/with-wine-rig python3 tests/e2e/e2e_test.py --exe \\
        $b/GameUninstaller.exe --driver $b/tests/e2e/boxdriver.exe --launcher \\
        $b/tests/e2e/fakelauncher.exe --runexact $b/tests/e2e/runexact.exe \\
        --artifacts build/e2e-artifacts [--summary FILE] [-k NAME]

With --summary FILE one line "SAFETY suite=<kind> cases=N canary_bytes=N lost=N gaps=N
gap_lost=N status=passed|failed" is appended to FILE (cases and lost: the attempts that
must hold; gaps and gap_lost: the known gaps).
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
STATS = {"cases": 0, "canary_bytes": 0, "lost": 0, "gaps": 0, "gap_lost": 0}

QUESTION = "해당 게임을 삭제하시겠습니까?\n삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다."
FAILURE = "게임 삭제에 실패하였습니다.\n(Error Code={})"
SUCCESS = "게임이 삭제되었습니다."
BOM = b"\xef\xbb\xbf"
GAME = r"C:\Games\SpaceRace"
TITLE = "Space Race"
RECORD = r"Software\ORBA_qa\Apps\77"
RECORD_QA = "HKEY_CURRENT_USER\\" + RECORD
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
ON_EVENT = "onUninstallEvent"
READ_INFO = "_readGameInfo"
# Keys a case may set up; every case starts with all of them deleted.
MANAGED_KEYS = [r"HKEY_CURRENT_USER\Software\ORBA_qa", r"HKEY_CURRENT_USER\Software\ORBA",
                UNINSTALL + r"\VexalLauncher_qa", UNINSTALL + r"\VexalLauncher"]
# Another game's record and uninstall entry: they must survive every case.
NEIGHBOUR_RECORD = r"HKEY_CURRENT_USER\Software\ORBA_qa\Apps\78"
NEIGHBOUR_ENTRY = UNINSTALL + r"\Vexal_qa App 78"
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


def line(severity, function, message):
    """The pattern of one log record without its CR LF; functions without "::" are the
    engine's, but for the event reaction."""
    if "::" not in function and function != ON_EVENT:
        function = "GameUninstallHelper::" + function
    return re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} " + severity.ljust(5) + r" \[\d+\] \["
                      + re.escape(function) + r"@\d+\] " + re.escape(message) + "$")


def error_line(function, message):
    return line("ERROR", function, message)


def failed(code):
    return error_line(ON_EVENT, f"Fail to uninstall due to error({code})")


# The two leftover lines of a removal of GAME.
TEMP_LINES = [line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + GAME + r"\.vexal_temp"),
              line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json")]


def reg_string(name, value):
    """A REG_SZ line of a .reg file; hex(1) (UTF-16LE with its NUL) when it holds a NUL."""
    if "\0" in value:
        return f'"{name}"=hex(1):' + ",".join(f"{b:02x}" for b in (value + "\0").encode("utf-16-le"))
    return f'"{name}"="' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def record(key=RECORD_QA, title=TITLE, path=GAME, game_no="77"):
    """A game record in .reg syntax; a value given as None is left out."""
    values = (("GameTitle", title), ("GamePath", path), ("GameNo", game_no))
    return "\r\n".join([f"[{key}]"] + [reg_string(n, v) for n, v in values if v is not None])


def neighbour():
    """Another game's record and uninstall entry, in .reg syntax."""
    return (record(NEIGHBOUR_RECORD, "Other", r"C:\Games\Other", "78")
            + f'\r\n\r\n[{NEIGHBOUR_ENTRY}]\r\n"DisplayName"="Other"')


def add_rows(cls, table, method, known_gaps=False):
    """One test_<name> per row (name, *arguments) of the table, calling method(self, *arguments);
    with known_gaps each is an expected failure."""
    for name, *row in table:
        test = lambda self, r=tuple(row): method(self, *r)  # noqa: E731 (one per row)
        setattr(cls, "test_" + name, unittest.expectedFailure(test) if known_gaps else test)


class Run:
    """One start of a Windows program, in a process group of its own."""

    def __init__(self, popen, label):
        self.popen, self.label, self.started = popen, label, time.monotonic()

    def kill(self):
        if self.popen.poll() is None:
            try:
                os.killpg(self.popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.popen.wait()


class Rig:
    """The Wine prefix and the programs run in it."""

    def __init__(self):
        prefix = os.environ.get("WINEPREFIX")
        if not prefix or not os.path.isdir(os.path.join(prefix, "drive_c")) or not os.environ.get("DISPLAY"):
            sys.exit("harness: WINEPREFIX and DISPLAY must be set; run through scripts/with-wine-rig")
        self.wine = os.environ.get("WINE64", "/usr/lib/wine/wine64")
        self.drive_c = os.path.join(prefix, "drive_c")
        users = os.path.join(self.drive_c, "users")
        own = pwd.getpwuid(os.getuid()).pw_name
        names = [n for n in os.listdir(users) if n != "Public"]
        self.user_dir = os.path.join(users, own if own in names else names[0])
        self.user = "C:\\users\\" + os.path.basename(self.user_dir)
        self.work = os.path.join(self.drive_c, "gu-e2e")  # C:\gu-e2e: the programs
        # Wine's own messages stay off unless asked for (GU_E2E_WINEDEBUG=err+all).
        self.env = dict(os.environ, WINEDEBUG=os.environ.get("GU_E2E_WINEDEBUG", "-all"))
        self.runs = []
        os.makedirs(self.work, exist_ok=True)
        helpers = os.path.dirname(ARGS.driver)
        for name in ("boxdriver", "runexact", "fakelauncher", "blocker", "holdopen", "shortname"):
            shutil.copyfile(os.path.join(helpers, name + ".exe"), os.path.join(self.work, name + ".exe"))
        shutil.copyfile(ARGS.exe, os.path.join(self.work, "GameUninstaller.exe"))

    def host(self, win_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b."""
        assert win_path[:3].upper() == "C:\\", win_path
        return os.path.join(self.drive_c, *win_path[3:].split("\\"))

    def log_dir(self, token):
        return os.path.join(self.user_dir, "AppData", "Local", "VEXAL" + token.removeprefix("_"), "Logs")

    def log_path(self, token="_qa"):
        return os.path.join(self.log_dir(token), "GameUninstaller.log")

    def reset(self):
        """No records, launcher entries, games or log files; empty Logs folders."""
        self.set_registry("")
        for d in ("launcher", "launcher-empty", "Games"):
            shutil.rmtree(os.path.join(self.drive_c, d), ignore_errors=True)
        for token in ("", "_qa"):
            shutil.rmtree(os.path.dirname(self.log_dir(token)), ignore_errors=True)
            os.makedirs(self.log_dir(token))  # the program never creates it

    def set_registry(self, body, check_keys=()):
        """Deletes the managed keys, then imports `body` (lines of a .reg file)."""
        lines = ["Windows Registry Editor Version 5.00", ""] + [f"[-{k}]" for k in MANAGED_KEYS]
        with open(os.path.join(self.work, "state.reg"), "wb") as f:
            f.write("\r\n".join(lines + ["", body, ""]).encode("utf-16"))
        self.wine_run(["regedit", "/S", r"C:\gu-e2e\state.reg"])
        for key in check_keys:
            assert self.key_exists(key), f"registry set-up failed: {key} is missing"

    def key_exists(self, key, view=None):
        args = ["reg", "query", key] + ([f"/reg:{view}"] if view else [])
        return self.wine_run(args, check=False).returncode == 0

    def value_of(self, key, name):
        """The data of a value as `reg query` prints it, or None when it is missing."""
        out = self.wine_run(["reg", "query", key, "/v", name], check=False)
        for text in out.stdout.decode("utf-8", "replace").splitlines() if out.returncode == 0 else []:
            parts = text.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[2] if len(parts) == 3 else ""
        return None

    def wine_run(self, args, timeout=30, check=True):
        """Runs a short Windows command to its end. Output goes through files: a Wine system
        process started on the way can inherit the handles, and a pipe would never close."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run(["timeout", str(timeout), self.wine] + args, cwd=self.drive_c,
                                    env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout + 10).returncode
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(args, status, out.read(), err.read())
        if check and status != 0:
            raise AssertionError(f"{args} failed with {status}: {done.stderr.decode('utf-8', 'replace')}")
        return done

    def start(self, args, limit=60):
        """Starts a Windows command line (a list) and returns at once."""
        popen = subprocess.Popen(["timeout", str(limit), self.wine] + args, cwd=self.drive_c, env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        self.runs.append(Run(popen, " ".join(args)))
        return self.runs[-1]

    def driver(self, *args, timeout=60):
        """Runs boxdriver.exe; returns (exit status, its JSON line)."""
        out = self.wine_run([r"C:\gu-e2e\boxdriver.exe"] + list(args), timeout, check=False)
        lines = out.stdout.decode("utf-8").split("\n")
        assert lines[0].strip(), f"boxdriver {args} printed nothing (status {out.returncode})"
        return out.returncode, json.loads(lines[0])


class Case(unittest.TestCase):
    """A clean prefix with canaries before each case; nothing left running after it."""

    rig = None  # made in main()
    gap = False  # a known gap: its losses are counted apart

    def setUp(self):
        self.rig.reset()
        status, box = self.rig.driver("--none-for-ms", "0")
        self.assertEqual(status, 0, f"a message box from an earlier run is still up: {box}")
        self.canaries = {}  # host path -> bytes
        self.made = []      # links, decoys and folders to take away after the case
        self.immutables = []
        self.outside = tempfile.mkdtemp(prefix="gu-outside-")  # only links lead there
        self.made.append(self.outside)
        for folder in CANARY_FOLDERS:
            self.canary(self.host(folder.format(user=self.rig.user) + r"\gu-canary.bin"))
        for name in LEFTOVER_NAMES + ["gu-canary.bin", r"sub\gu-canary.bin"]:
            self.canary(os.path.join(self.outside, *name.split("\\")))
        for name in LEFTOVER_NAMES:
            self.canary(self.host(self.rig.user + "\\" + name))
            self.made.append(self.host(self.rig.user + "\\" + name.split("\\")[0]))

    def tearDown(self):
        for run in self.rig.runs:
            run.kill()
        self.rig.runs = []
        for path in self.immutables:
            subprocess.run(["chattr", "-i", path], stderr=subprocess.DEVNULL, check=False)
        for path in reversed(self.made):
            if os.path.islink(path) or os.path.isfile(path):
                os.remove(path)
            elif os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)

    # ---- places -----------------------------------------------------------------------

    def host(self, win_path):
        return self.rig.host(win_path)

    def write(self, path, data=b"x", read_only=False):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if read_only:
            os.chmod(path, 0o444)  # Wine shows it as FILE_ATTRIBUTE_READONLY

    def canary(self, path, size=64):
        self.canaries[path] = os.urandom(size)
        self.write(path, self.canaries[path])

    def link(self, win_path, target):
        """A Unix link at win_path, in place of an empty folder there (Wine shows a folder
        link as a reparse point)."""
        path = self.host(win_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.isdir(path) and not os.path.islink(path):
            os.rmdir(path)
        os.symlink(target, path)
        self.made.append(path)

    def immutable(self, path):
        """chattr +i (undone after the case), or the case is skipped."""
        if subprocess.run(["chattr", "+i", path], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("this file system cannot make a file immutable")
        self.immutables.append(path)

    def install_game(self, guard=False, files=3):
        """The game at GAME with its installer's leftovers; with guard its files are
        canaries (the attempt must be refused before anything is deleted).
        Returns {host path: bytes} of the game's files."""
        names = [r"bin\game.exe"] + [f"Content\\pak{i % 7}\\에셋_{i}.uasset" for i in range(files)]
        for name in names + LEFTOVER_NAMES:
            self.canary(self.host(GAME + "\\" + name), 32)
        game = {p: self.canaries.pop(p) for p in list(self.canaries) if p.startswith(self.host(GAME))}
        if guard:
            self.canaries.update(game)
        return game

    def remaining(self, files):
        """The files still there, each with its bytes unchanged."""
        left = sorted(p for p in files if os.path.exists(p))
        for path in left:
            with open(path, "rb") as f:
                self.assertEqual(f.read(), files[path], f"{path} changed")
        return left

    # ---- the program and its boxes ----------------------------------------------------

    def run_program(self, exact="77 _qa"):
        """Starts GameUninstaller.exe with the command-line text `exact`, unchanged."""
        return self.rig.start([r"C:\gu-e2e\runexact.exe", r"C:\gu-e2e\GameUninstaller.exe", exact])

    def answer(self, text, caption, buttons, press=None, wait_ms=30000):
        """Waits for the one box, checks what it shows and presses `press`; returns it."""
        args = ["--wait-ms", str(wait_ms)] + (["--press", press] if press else [])
        status, box = self.rig.driver(*args, timeout=wait_ms // 1000 + 30)
        self.assertEqual(status, 0, f"no box within {wait_ms} ms, or {press} not pressed: {box}")
        self.assertEqual((box["text"], box["caption"], box["buttons"], box["icon"], box["count"]),
                         (text, caption, buttons, "exclamation", 1))
        self.assertEqual(box.get("pressed"), press)
        return box

    def result(self, run, code, within=60):
        """The result box for code (1: success): checked, OK pressed, exit status 0."""
        text, caption = (SUCCESS, "") if code == 1 else (FAILURE.format(code), "Error")
        self.answer(text, caption, ["ok"], "ok", wait_ms=within * 1000)
        self.expect_exit(run, 0)

    def confirm(self, exact="77 _qa", before_yes=None):
        """Starts the program and answers Yes, calling before_yes while the question is up."""
        run = self.run_program(exact)
        self.answer(QUESTION, "", ["yes", "no"], None if before_yes else "yes")
        if before_yes:
            before_yes()
            self.assertEqual(self.rig.driver("--press", "yes")[0], 0)
        return run

    def expect_no_box(self, ms):
        status, box = self.rig.driver("--none-for-ms", str(ms))
        self.assertEqual(status, 0, f"a message box appeared: {box}")

    def expect_exit(self, run, status, within=30):
        """Checks the exit status; returns how long the run took."""
        try:
            self.assertEqual(run.popen.wait(within), status, f"exit status of {run.label!r}")
        except subprocess.TimeoutExpired:
            run.kill()
            self.fail(f"{run.label!r} still running after {within} s")
        return time.monotonic() - run.started

    # ---- outcomes ---------------------------------------------------------------------

    def read_log(self, token="_qa"):
        """The log file's bytes, or None when there is none."""
        try:
            with open(self.rig.log_path(token), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def assert_log_lines(self, patterns, token="_qa"):
        """The log starts with one BOM and holds exactly the CR LF lines `patterns`, each
        stamped with the local time now."""
        data = self.read_log(token)
        self.assertIsNotNone(data, "no log file was written")
        self.assertTrue(data.startswith(BOM) and data.count(BOM) == 1, f"not one BOM first: {data[:16]!r}")
        self.assertTrue(data.endswith(b"\r\n"), f"the last line does not end in CR LF: {data!r}")
        lines = data[len(BOM):-2].split(b"\r\n")
        self.assertEqual(len(lines), len(patterns), f"log lines: {lines}")
        now = datetime.datetime.now()
        for text, pattern in zip(lines, patterns):
            self.assertRegex(text.decode("utf-8"), pattern)
            stamp = datetime.datetime.strptime(text[:23].decode(), "%Y-%m-%d %H:%M:%S.%f")
            self.assertLess(abs((now - stamp).total_seconds()), 600, f"not the local time: {text!r}")

    def assert_guarded(self):
        """Every canary holds its bytes; the neighbour's registry entries are there."""
        lost = {}
        for path, data in self.canaries.items():
            try:
                with open(path, "rb") as f:
                    now = f.read()
            except OSError:
                now = b""
            STATS["canary_bytes"] += len(data)
            diff = sum(a != b for a, b in zip(data, now)) + abs(len(data) - len(now))
            if diff:
                lost[path] = diff
        STATS["gap_lost" if self.gap else "lost"] += sum(lost.values())
        if any(self.host(f + r"\gu-canary.bin") in lost for f in CANARY_FOLDERS[:2]):
            # Wine itself may be broken now: the next rig makes the prefix again.
            marker = os.path.join(os.environ["WINEPREFIX"], ".gu-prefix-ready")
            if os.path.exists(marker):
                os.remove(marker)
        self.assertEqual(lost, {}, "canaries lost or changed (bytes per file)")
        for key in (NEIGHBOUR_RECORD, NEIGHBOUR_ENTRY):
            self.assertTrue(self.rig.key_exists(key), f"{key} is gone")

    def attempt(self, body, code, lines, exact="77 _qa", token="_qa", before_yes=None):
        """One attempt counted in the figures: the registry `body` (with the neighbour),
        the program run with `exact` and Yes, then the canaries, the result box for
        `code`, and exactly `lines` in the log of `token` (lines None: not checked)."""
        STATS["gaps" if self.gap else "cases"] += 1
        self.rig.set_registry(body + "\r\n\r\n" + neighbour())
        run = self.confirm(exact, before_yes)
        try:
            self.result(run, code)
        finally:
            self.assert_guarded()
        if lines is not None:
            self.assert_log_lines(lines, token)


def main(kind=None):
    """Runs the suite's cases (unittest's options follow the harness's own)."""
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("exe", "driver", "launcher", "runexact"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--artifacts", help="kept for the callers; nothing is written there")
    parser.add_argument("--summary", help="file the suite's figures line is appended to")
    ARGS, rest = parser.parse_known_args()
    Case.rig = Rig()
    ok = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result.wasSuccessful()
    if ARGS.summary and kind:
        os.makedirs(os.path.dirname(os.path.abspath(ARGS.summary)), exist_ok=True)
        with open(ARGS.summary, "a") as f:
            f.write(f"SAFETY suite={kind} " + " ".join(f"{k}={v}" for k, v in STATS.items())
                    + f" status={'passed' if ok else 'failed'}\n")
    sys.exit(0 if ok else 1)
