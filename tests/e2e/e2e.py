#!/usr/bin/env python3
# The end-to-end suites: GameUninstaller.exe in a Wine prefix with canaries around every case,
# its message boxes read and pressed through boxdriver.exe, its exit statuses and exact log.
# Run inside scripts/with-wine-rig (WINEPREFIX, DISPLAY, a warm wineserver):
#   scripts/with-wine-rig python3 tests/e2e/e2e.py --suite e2e|hostile|faults \
#     --exe build/windows/GameUninstaller.exe --driver build/windows/tests/e2e/boxdriver.exe \
#     [--summary FILE] [unittest options such as -k NAME]
# --summary appends "SAFETY suite=<suite> cases=N canary_bytes=N lost=N gaps=N gap_lost=N
# status=passed|failed" to FILE (cases and lost: attempts that must hold; gaps: known gaps).
import argparse, datetime, json, ntpath, os, pathlib, pwd, re, shutil, signal, subprocess, sys, tempfile, threading, time, unittest

STATS = {"cases": 0, "canary_bytes": 0, "lost": 0, "gaps": 0, "gap_lost": 0}
QUESTION = "해당 게임을 삭제하시겠습니까?\n삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다."
FAILURE = "게임 삭제에 실패하였습니다.\n(Error Code={})"
SUCCESS = "게임이 삭제되었습니다."
BOM = b"\xef\xbb\xbf"
GAME, TITLE = r"C:\Games\SpaceRace", "Space Race"
RECORD = r"Software\ORBA_qa\Apps\77"
RECORD_QA = "HKEY_CURRENT_USER\\" + RECORD
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexal_qa App 77"
READ_INFO, REMOVAL = "_readGameInfo", "_removeDirectoriesRecursive"
# Keys a case may set up; every case starts with all of them deleted.
MANAGED_KEYS = [r"HKEY_CURRENT_USER\Software\ORBA_qa", r"HKEY_CURRENT_USER\Software\ORBA",
                UNINSTALL + r"\VexalLauncher_qa", "HKEY_LOCAL_MACHINE\\" + ENTRY]
# Known folders a case may move (User Shell Folders values) and what every case starts and
# ends with: the prefix's own values.
SHELL_FOLDERS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
MANAGED_VALUES = {"Desktop": r"%USERPROFILE%\Desktop", "Local AppData": r"%USERPROFILE%\AppData\Local"}
# Another game's record and uninstall entry: they must survive every case.
NEIGHBOUR_RECORD = r"HKEY_CURRENT_USER\Software\ORBA_qa\Apps\78"
NEIGHBOUR_ENTRY = UNINSTALL + r"\Vexal_qa App 78"
# Where canaries go (gu-canary.bin in each); {user} is the profile, C:\users\<name>.
CANARY_FOLDERS = [
    r"C:\windows", r"C:\windows\system32", r"C:\Program Files", r"C:\ProgramData", "{user}",
    r"{user}\Desktop", r"{user}\Documents", r"{user}\AppData\Local", r"{user}\AppData\Local\VEXAL",
    r"{user}\AppData\Roaming", r"{user}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs",
    r"C:\Games", "C:\\"]
# Named like what the clean-up steps remove inside a game folder: a step that reached
# through a link into the profile or the outside folder would take them.
LEFTOVER_NAMES = ["install_progress.json", r".vexal_temp\chunk.tmp", r"combinedata_manifest\m.bin"]
PROGRAMS = r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
MANIFEST = r"\AppData\Local\VEXAL\tmpgamemanifest\tmpgamemanifest_{}_qa.upf"


# The pattern of one log record without its CR LF; a bare function name is the engine's.
def line(severity, function, message):
    function = function if "::" in function or function == "onUninstallEvent" else "GameUninstallHelper::" + function
    return re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} " + severity.ljust(5) + r" \[\d+\] \["
                      + re.escape(function) + r"@\d+\] " + re.escape(message) + "$")


def error(function, message):
    return line("ERROR", function, message)


def failed(code):
    return error("onUninstallEvent", f"Fail to uninstall due to error({code})")


def deleted(key):
    return line("INFO", "_regDeleteKey", "Deleted registry key: " + key)


# The lines of the leftovers' removal from the game folder named `game`.
def temp_lines(game=GAME):
    return [line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + game + r"\.vexal_temp"),
            line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json")]


TEMP_LINES = temp_lines()
REMOVED = TEMP_LINES + [deleted(RECORD)]


# A game record in .reg syntax; a value holding a NUL is written as hex(1), UTF-16LE.
def record(key=RECORD_QA, title=TITLE, path=GAME, game_no="77"):
    def value(name, text):
        if "\0" in text:
            return f'"{name}"=hex(1):' + ",".join(f"{b:02x}" for b in (text + "\0").encode("utf-16-le"))
        return f'"{name}"="' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return "\r\n".join([f"[{key}]", value("GameTitle", title), value("GamePath", path), value("GameNo", game_no)])


NEIGHBOUR = ("\r\n\r\n" + record(NEIGHBOUR_RECORD, "Other", r"C:\Games\Other", "78")
             + f'\r\n\r\n[{NEIGHBOUR_ENTRY}]\r\n"DisplayName"="Other"')


# The prefix, its user and the programs copied into C:\gu-e2e; filled by main().
class R:
    wine = os.environ.get("WINE64", "/usr/lib/wine/wine64")
    env = dict(os.environ, WINEDEBUG=os.environ.get("GU_E2E_WINEDEBUG", "-all"))
    drive_c = user = user_dir = work = None
    runs = []


# C:\a\b -> <prefix>/drive_c/a/b.
def host(win_path):
    assert win_path[:3].upper() == "C:\\", win_path
    return os.path.join(R.drive_c, *win_path[3:].split("\\"))


def log_dir(token="_qa"):
    return os.path.join(R.user_dir, "AppData", "Local", "VEXAL" + token.removeprefix("_"), "Logs")


# Runs a Windows command to its end; returns (status, stdout). Output goes through a file: a
# Wine system process started on the way can inherit the handle, and a pipe would never close.
def wine(args, timeout=30, check=True):
    with tempfile.TemporaryFile() as out:
        status = subprocess.run(["timeout", str(timeout), R.wine] + args, cwd=R.drive_c, env=R.env,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL).returncode
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    assert status == 0 or not check, f"{args} failed with {status}"
    return status, text


# Starts a Windows command in a process group of its own and returns at once.
def start(args, limit=60):
    run = subprocess.Popen(["timeout", str(limit), R.wine] + args, cwd=R.drive_c, env=R.env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           start_new_session=True)
    run.label, run.started = " ".join(args), time.monotonic()
    R.runs.append(run)
    return run


# Waits up to `seconds` until ready() holds; returns its last answer.
def wait_for(ready, seconds):
    end = time.monotonic() + seconds
    while not ready() and time.monotonic() < end:
        time.sleep(0.02)
    return ready()


# Runs boxdriver.exe; returns (exit status, its JSON line).
def driver(*args, timeout=60):
    status, out = wine([r"C:\gu-e2e\boxdriver.exe"] + list(args), timeout, check=False)
    assert out.strip(), f"boxdriver {args} printed nothing (status {status})"
    return status, json.loads(out.split("\n")[0])


def key_exists(key):
    return wine(["reg", "query", key, "/reg:64"], check=False)[0] == 0


# Deletes the managed keys and puts the managed values back, then imports `body` (lines of a
# .reg file).
def set_registry(body):
    lines = ["Windows Registry Editor Version 5.00", ""] + [f"[-{k}]" for k in MANAGED_KEYS] + [f"[{SHELL_FOLDERS}]"]
    lines += [f'"{name}"=hex(2):' + ",".join(f"{b:02x}" for b in (value + "\0").encode("utf-16-le"))
              for name, value in MANAGED_VALUES.items()]
    with open(os.path.join(R.work, "state.reg"), "wb") as f:
        f.write("\r\n".join(lines + ["", body, ""]).encode("utf-16"))
    wine(["regedit", "/S", r"C:\gu-e2e\state.reg"])


class Case(unittest.TestCase):
    gap = False  # a known gap: its losses are counted apart

    # No records, games or log files, empty Logs folders, and canaries everywhere.
    def setUp(self):
        set_registry("")
        for folder in ("launcher", "Games"):
            shutil.rmtree(os.path.join(R.drive_c, folder), ignore_errors=True)
        for token in ("", "_qa"):
            shutil.rmtree(os.path.dirname(log_dir(token)), ignore_errors=True)
            os.makedirs(log_dir(token))  # the program never creates it
        self.assertEqual(driver("--none-for-ms", "0")[0], 0, "a box from an earlier run is still up")
        self.canaries, self.made, self.immutables = {}, [], []  # host path -> bytes; to take away
        self.outside = tempfile.mkdtemp(prefix="gu-outside-")  # only links lead there
        self.made.append(self.outside)
        for folder in CANARY_FOLDERS:
            self.canary(host(folder.format(user=R.user) + r"\gu-canary.bin"))
        for name in LEFTOVER_NAMES + ["gu-canary.bin", r"sub\gu-canary.bin"]:
            self.canary(os.path.join(self.outside, *name.split("\\")))
        for name in LEFTOVER_NAMES:
            self.canary(host(R.user + "\\" + name))
            self.made.append(host(R.user + "\\" + name.split("\\")[0]))

    def tearDown(self):
        for run in R.runs:
            if run.poll() is None:
                os.killpg(run.pid, signal.SIGKILL)  # the group: timeout and the program
            run.wait()
        R.runs.clear()
        if self.immutables:
            subprocess.run(["chattr", "-i"] + self.immutables, check=False)
        for path in reversed(self.made):
            if os.path.islink(path) or os.path.isfile(path):
                os.remove(path)
            shutil.rmtree(path, ignore_errors=True)

    def write(self, path, data=b"x"):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def canary(self, path, size=64):
        self.canaries[path] = os.urandom(size)
        self.write(path, self.canaries[path])

    # A Unix link at host path `at` to host path `target`, in place of an empty folder there
    # (Wine shows a folder link as a reparse point).
    def link(self, at, target, make=os.symlink):
        os.makedirs(os.path.dirname(at), exist_ok=True)
        if os.path.isdir(at) and not os.path.islink(at):
            os.rmdir(at)
        make(target, at)
        self.made.append(at)

    # Takes away after the case the outermost of the host path's folders still to be made
    # (the path itself when its folder exists).
    def made_above(self, path):
        while not os.path.exists(os.path.dirname(path)):
            path = os.path.dirname(path)
        self.made.append(path)

    # Once ready() holds while the program runs, change() plants the case's change (polled
    # every 0.2 ms for up to 60 s); returns the event set when it was planted.
    def during(self, ready, change):
        planted = threading.Event()

        def watch():
            end = time.monotonic() + 60
            while not ready():
                if time.monotonic() > end:
                    return
                time.sleep(0.0002)
            change()
            planted.set()
        threading.Thread(target=watch, daemon=True).start()
        return planted

    # chattr +i (undone after the case), or the case is skipped.
    def immutable(self, path):
        os.chmod(path, 0o444)
        if subprocess.run(["chattr", "+i", path], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("this file system cannot make a file immutable")
        self.immutables.append(path)

    # The game at GAME with its installer's leftovers; with guard its files are canaries.
    # Returns {host path: bytes} of its files.
    def install_game(self, guard=False, files=3):
        names = [r"bin\game.exe"] + [f"Content\\pak{i % 7}\\에셋_{i}.uasset" for i in range(files)]
        for name in names + LEFTOVER_NAMES:
            self.canary(host(GAME + "\\" + name), 32)
        game = {p: self.canaries.pop(p) for p in list(self.canaries) if p.startswith(host(GAME))}
        if guard:
            self.canaries.update(game)
        return game

    # The files still there, each checked to hold its bytes.
    def remaining(self, files):
        left = sorted(p for p in files if os.path.exists(p))
        for path in left:
            self.assertEqual(pathlib.Path(path).read_bytes(), files[path], f"{path} changed")
        return left

    def run_program(self, args="77 _qa"):
        return start([r"C:\gu-e2e\GameUninstaller.exe"] + args.split())

    # Waits for the one box, checks what it shows and presses `press`.
    def answer(self, text, caption, buttons, press=None, wait_s=30):
        status, box = driver("--wait-ms", str(wait_s * 1000), *(["--press", press] if press else []),
                             timeout=wait_s + 30)
        self.assertEqual(status, 0, f"no box within {wait_s} s, or {press} not pressed: {box}")
        self.assertEqual((box["text"], box["caption"], box["buttons"], box["icon"], box["count"], box.get("pressed")),
                         (text, caption, buttons, "exclamation", 1, press))

    # The result box for code (1: success) answered with OK; then the exit status 0.
    def result(self, run, code, wait_s=60):
        self.answer(*((SUCCESS, "") if code == 1 else (FAILURE.format(code), "Error")), ["ok"], "ok", wait_s)
        self.expect_exit(run, 0)

    # Starts the program and answers Yes, calling before_yes while the question is up.
    def confirm(self, args="77 _qa", before_yes=None):
        run = self.run_program(args)
        self.answer(QUESTION, "", ["yes", "no"], None if before_yes else "yes")
        if before_yes:
            before_yes()
            self.assertEqual(driver("--press", "yes")[0], 0)
        return run

    def expect_no_box(self, ms):
        status, box = driver("--none-for-ms", str(ms))
        self.assertEqual(status, 0, f"a message box appeared: {box}")

    # Checks the exit status (a run still going after `within` s raises); returns how long it took.
    def expect_exit(self, run, status, within=30):
        self.assertEqual(run.wait(within), status, f"exit status of {run.label!r}")
        return time.monotonic() - run.started

    # The log file's bytes, or None when there is none.
    def read_log(self, token="_qa"):
        path = pathlib.Path(log_dir(token), "GameUninstaller.log")
        return path.read_bytes() if path.exists() else None

    # The log holds one BOM and exactly the CR LF lines `patterns`, stamped with the local time.
    def assert_log_lines(self, patterns, token="_qa"):
        data = self.read_log(token)
        self.assertIsNotNone(data, "no log file was written")
        self.assertTrue(data.startswith(BOM) and data.count(BOM) == 1 and data.endswith(b"\r\n"), data[:16])
        lines = data[len(BOM):-2].split(b"\r\n")
        self.assertEqual(len(lines), len(patterns), f"log lines: {lines}")
        for text, pattern in zip(lines, patterns):
            self.assertRegex(text.decode("utf-8"), pattern)
            stamp = datetime.datetime.strptime(text[:23].decode(), "%Y-%m-%d %H:%M:%S.%f")
            self.assertLess(abs((datetime.datetime.now() - stamp).total_seconds()), 600, "not the local time")

    # Every canary holds its bytes; the neighbour's registry entries are there.
    def assert_guarded(self):
        lost = {}
        for path, data in self.canaries.items():
            now = pathlib.Path(path).read_bytes() if os.path.isfile(path) else b""
            STATS["canary_bytes"] += len(data)
            diff = sum(a != b for a, b in zip(data, now)) + abs(len(data) - len(now))
            if diff:
                lost[path] = diff
        STATS["gap_lost" if self.gap else "lost"] += sum(lost.values())
        if any(host(f + r"\gu-canary.bin") in lost for f in CANARY_FOLDERS[:2]):
            # Wine itself may be broken now: the next rig makes the prefix again.
            pathlib.Path(os.environ["WINEPREFIX"], ".gu-prefix-ready").unlink(missing_ok=True)
        self.assertEqual(lost, {}, "canaries lost or changed (bytes per file)")
        for key in (NEIGHBOUR_RECORD, NEIGHBOUR_ENTRY):
            self.assertTrue(key_exists(key), f"{key} is gone")

    # One attempt counted in the figures: the registry `body` with the neighbour, the program
    # run with `args` and Yes, then the canaries, the result box for `code` and exactly `lines`
    # in the log of `token` (None: not checked).
    def attempt(self, body, code, lines, args="77 _qa", token="_qa", before_yes=None):
        STATS["gaps" if self.gap else "cases"] += 1
        set_registry(body + NEIGHBOUR)
        run = self.confirm(args, before_yes)
        try:
            self.result(run, code)
        finally:
            self.assert_guarded()
        if lines is not None:
            self.assert_log_lines(lines, token)


# One test_<name> per row (name, *arguments) of the table, calling method(self, *arguments).
def add_rows(cls, table, method, known_gaps=False):
    for name, *row in table:
        test = lambda self, r=tuple(row): method(self, *r)  # noqa: E731 (one per row)
        setattr(cls, "test_" + name, unittest.expectedFailure(test) if known_gaps else test)


class Program(Case):
    def test_no_arguments_show_no_args_and_end_with_0(self):
        run = self.run_program("")
        self.answer("No Args", "Error", ["ok"], "ok")
        self.expect_exit(run, 0)

    def test_no_keeps_the_game_and_writes_no_log(self):
        files = self.install_game()
        set_registry(record())
        run = self.run_program()
        self.answer(QUESTION, "", ["yes", "no"], "no")
        self.expect_exit(run, 0)
        self.expect_no_box(300)
        self.assertEqual(self.remaining(files), sorted(files))
        self.assertTrue(key_exists(RECORD_QA))
        self.assertEqual(os.listdir(log_dir()), [])

    def test_second_start_ends_with_1_while_the_first_asks(self):
        set_registry(record())
        first, second = self.run_program(), self.run_program()
        wait_for(lambda: first.poll() is not None or second.poll() is not None, 30)
        ended, waiting = (first, second) if first.poll() is not None else (second, first)
        self.assertLess(self.expect_exit(ended, 1), 5.0, "the second instance did not end quickly")
        self.answer(QUESTION, "", ["yes", "no"], "no")
        self.expect_exit(waiting, 0)
        self.expect_no_box(300)

    def test_hand_off_to_the_launcher_of_the_same_environment(self):
        shutil.copyfile(os.path.join(R.work, "boxdriver.exe"), self.made_file(r"C:\launcher\VEXAL.exe"))
        set_registry(f'[{UNINSTALL}\\VexalLauncher_qa]\r\n"InstallLocation"="C:\\\\launcher"\r\n\r\n' + record())
        self.assertLess(self.expect_exit(self.run_program(), 1), 5.0, "the hand-off did not end at once")
        args = host(r"C:\launcher\args.txt")
        self.assertTrue(wait_for(lambda: os.path.exists(args), 10), "the launcher was not started")
        time.sleep(0.2)  # a second start, if any, would have written by now
        with open(args, encoding="utf-8") as f:
            started, exe = f.read().splitlines(), r"C:\launcher\VEXAL.exe"
        self.assertIn(started, ([f'"{exe}" orba_qa://deletegame/77'], [f"{exe} orba_qa://deletegame/77"]))
        self.expect_no_box(500)
        self.assertTrue(key_exists(RECORD_QA))  # the launcher does the uninstall
        self.assertEqual(os.listdir(log_dir()), [])

    # An empty file at a Windows path, its folders made.
    def made_file(self, win_path):
        self.write(host(win_path), b"")
        return host(win_path)

    # The game with read-only files, its manifest, shortcuts, record and uninstall entry, and
    # canaries beside each: a sibling named like it, another game's manifest and shortcut.
    def install(self, title, files):
        game = self.install_game(files=files)
        for path in list(game)[::10]:
            os.chmod(path, 0o444)  # Wine shows it as FILE_ATTRIBUTE_READONLY
        os.chmod(self.made_file(R.user + MANIFEST.format(501)), 0o444)
        shortcut = "".join(c for c in title if c != ":") + "_qa.url"  # ':' is dropped from names
        shortcuts = [R.user + r"\Desktop" + "\\" + shortcut, R.user + PROGRAMS + r"\VEXAL_qa" + "\\" + shortcut]
        self.made += [self.made_file(path) for path in shortcuts]
        self.made += [host(R.user + PROGRAMS + r"\VEXAL_qa"), os.path.dirname(host(R.user + MANIFEST.format(0)))]
        for path in (GAME + r"2\keep.txt", R.user + MANIFEST.format(502), R.user + r"\Desktop\Other Game_qa.url"):
            self.canary(host(path))
        set_registry(record(title=title, game_no="501") + f'\r\n\r\n[HKEY_LOCAL_MACHINE\\{ENTRY}]\r\n"DisplayName"="x"'
                     + NEIGHBOUR)
        return shortcuts

    def test_whole_game_is_removed_and_only_it(self):
        shortcuts = self.install("Space Race: 우주", files=200)
        STATS["cases"] += 1
        self.result(self.confirm(), 1)
        self.assert_guarded()
        for gone in [GAME, R.user + MANIFEST.format(501)] + shortcuts:
            self.assertFalse(os.path.exists(host(gone)), gone)
        self.assertTrue(os.path.isdir(host(R.user + PROGRAMS + r"\VEXAL_qa")))
        self.assertFalse(key_exists(RECORD_QA) or key_exists("HKEY_LOCAL_MACHINE\\" + ENTRY))
        self.assert_log_lines(TEMP_LINES + [
            line("INFO", "_deleteTmpManifest", "Deleted tmp manifest: " + R.user + MANIFEST.format(501)),
            line("INFO", "_deleteGameShortcuts", "Deleted desktop shortcut: " + shortcuts[0]),
            line("INFO", "_deleteGameShortcuts", "Deleted start menu shortcut: " + shortcuts[1]),
            deleted(ENTRY), deleted(RECORD)])

    # The game's executables run through a name of their folder the running-game check does
    # not know (a link), so deleting them is refused with access denied and the elevated copy
    # starts. game.exe ends once the relaunch is logged; without blocker_ends stays.exe runs
    # on. The elevated copy's command line is seen in its work: only a copy that read this
    # game's record can remove game.exe while the first process waits.
    def relaunch(self, blocker_ends):
        self.install(TITLE, files=0)
        self.link(host(r"C:\alias"), host(GAME + r"\bin"))
        blockers = [("game.exe", "Access denied, relaunching elevated"), ("stays.exe", "never appears")]
        for exe, text in blockers[:1] if blocker_ends else blockers:
            shutil.copyfile(os.path.join(R.work, "boxdriver.exe"), host(f"{GAME}\\bin\\{exe}"))
            start([f"C:\\alias\\{exe}", "wait", R.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log", text],
                  limit=90)
        time.sleep(1.0)
        self.result(self.confirm(), 1 if blocker_ends else 2)
        self.assert_guarded()

    def test_access_denied_relaunches_elevated_and_goes_on_once_the_folder_is_gone(self):
        self.relaunch(blocker_ends=True)
        self.assertFalse(os.path.exists(host(GAME)) or key_exists(RECORD_QA))
        # The elevated copy's lines are lost while this process holds the log; this process
        # then finds the keys already gone.
        self.assert_log_lines(TEMP_LINES + [
            error(REMOVAL, "Remove file failed: " + GAME + r"\bin\game.exe"),
            error(REMOVAL, "Remove dir failed: " + GAME + r"\bin"), error(REMOVAL, "Remove dir failed: " + GAME),
            line("INFO", "_deleteGameFolder", "Access denied, relaunching elevated: " + GAME),
            error("_regDeleteKey", "Failed to delete registry key: " + ENTRY + " (2)"),
            error("_regDeleteKey", "Failed to delete registry key: " + RECORD + " (2)")])

    def test_elevated_copy_that_fails_too_ends_with_2(self):
        self.relaunch(blocker_ends=False)
        self.assertEqual(os.listdir(host(GAME + r"\bin")), ["stays.exe"], "the elevated copy did not remove game.exe")
        self.assertTrue(key_exists(RECORD_QA))
        log = self.read_log().decode("utf-8")
        self.assertIn("Access denied, relaunching elevated: " + GAME, log)
        self.assertNotIn("Failed to delete game folder", log)  # not on the relaunch branch

    # The elevated copy's lines start the log (with its BOM); the waiting process appends.
    def test_elevated_copy_beside_a_waiting_process_removes_without_a_box_into_the_same_log(self):
        files = self.install_game()

        def elevated():
            self.expect_exit(self.run_program("77 _qa --elevated"), 0)
            self.assertEqual(driver("--wait-ms", "0")[1]["count"], 1, "the elevated copy showed a box")
            self.assertEqual(self.remaining(files), [])
            self.assertFalse(key_exists(RECORD_QA))
        self.attempt(record(), 3, REMOVED + [error(READ_INFO, "Apps registry not found: " + RECORD), failed(3)],
                     before_yes=elevated)


REFUSED = "GamePath refused, not a game folder: "
# (case, GamePath, set-up) refused with code 3 before anything is deleted: one row per way
# Windows names a folder; the rules' other entries are host tests. {user} is the profile,
# {u} the user name, {short:X} Wine's short name of X. Set-ups: none (the game, guarded),
# ("link", X, T) X links to T, ("drive", X:, T) X: maps to T, ("victim", F) canaries in F.
REFUSED_FOLDERS = [
    ("drive_root", "C:\\"),
    ("relative_to_the_current_folder", r"..\windows"),
    ("dotdot_to_windows", r"C:\Games\SpaceRace\..\..\windows"),
    ("trailing_dot", "C:\\windows."),
    ("forward_slashes_to_profile", "C:/users/{u}"),
    ("nul_hides_the_game", "C:\\windows\0\\Games\\SpaceRace"),
    ("admin_share_to_profile", r"\\127.0.0.1\c$\users\{u}"),
    ("extended_windows", r"\\?\C:\windows"),
    ("short_name_of_program_files", "{short:C:\\Program Files}"),
    ("game_is_link_to_outside", GAME, "link", GAME, "outside"),
    ("link_above_leads_to_profile", r"C:\Games\Lib\Desktop", "link", r"C:\Games\Lib", "{user}"),
    ("mapped_drive_to_windows", "D:\\windows", "drive", "d:", "C:\\"),
    ("inside_windows", r"C:\windows\gu-victim\Tools", "victim", r"C:\windows\gu-victim\Tools"),
    ("other_users_profile", r"C:\users\gu-other", "victim", r"C:\users\gu-other"),
    ("deep_in_other_users_profile", r"C:\users\gu-other\Documents\Game", "victim", r"C:\users\gu-other\Documents\Game"),
]
# Folders the rules accept although they are not a game's: expected failures until refused.
KNOWN_GAPS = []
# (case, link inside a real game, target): removed as a link, never entered. Wine cannot
# remove a Unix folder link (RemoveDirectoryW 145), so the run ends with 2 and the link stays.
LINKS_INSIDE = [("folder_link_in_game_to_outside", r"Content\data", "outside"),
                ("file_link_in_game_to_outside_file", r"mods\mod.pak", r"outside\gu-canary.bin"),
                ("file_link_to_a_sibling_named_in_another_case", r"sub\x.txt", r"C:\Games\SPACERACE\sub\x.txt")]
# (case, game number, token, title, record's GameNo, lines beyond REMOVED; None: no log may be
# written[, GamePath naming GAME]) for a real game that is removed. Canaries wait wherever a
# name with separators leads.
NAMES = [
    ("token_up_to_appdata", "77", r"_qa\..\..\x", TITLE, "77", None),
    ("title_up_to_win_ini", "77", "_qa", r"..\..\..\windows\win.ini", "77", []),
    ("title_con_without_token", "77", "", "CON", "77", []),
    ("title_with_nul", "77", "_qa", "..\0\\..\\x", "77",
     [("_deleteGameShortcuts", "Shortcut name refused: ..\0..x_qa.url")]),
    ("game_no_to_neighbour", r"77\..\78", "_qa", TITLE, "77", []),
    ("record_no_up_to_desktop", "77", "_qa", TITLE, r"..\..\..\..\Desktop\x",
     [("_deleteTmpManifest", r"Tmp manifest name refused: tmpgamemanifest_..\..\..\..\Desktop\x_qa.upf")]),
    ("extended_length_game_path", "77", "_qa", TITLE, "77", [], "\\\\?\\" + GAME),
]
# (case, item replaced by a link or "shell:<value>" for a known folder moved there in User
# Shell Folders, hard link or not, target, files the program reaches in a linked folder): the
# game is removed, the target keeps its bytes and gains no file. Rows that reach the log leave
# no log; the others log their steps but the refused one.
LINKED = [
    ("log_folder_link_to_outside", r"{local}\VEXALqa\Logs", False, "outside", "GameUninstaller.log"),
    ("log_file_link_to_system_file", r"{local}\VEXALqa\Logs\GameUninstaller.log", False, r"C:\windows\gu-log.bin", None),
    ("log_file_link_to_nothing", r"{local}\VEXALqa\Logs\GameUninstaller.log", False, r"outside\new.log", None),
    ("log_file_hard_link_to_system_file", r"{local}\VEXALqa\Logs\GameUninstaller.log", True, r"C:\windows\gu-log.bin", None),
    ("shortcut_folder_link_to_outside", r"{programs}\VEXAL_qa", False, "outside", TITLE + "_qa.url"),
    ("desktop_shortcut_link_to_outside", r"{user}\Desktop\Space Race_qa.url", False, r"outside\Space Race_qa.url", None),
    ("tmp_manifest_folder_link_to_outside", r"{local}\VEXAL\tmpgamemanifest", False, "outside", "tmpgamemanifest_77_qa.upf"),
    ("desktop_moved_to_admin_only_folder", "shell:Desktop", False, r"C:\windows\gu-desk", TITLE + "_qa.url"),
    ("local_appdata_moved_out_of_the_profile", "shell:Local AppData", False, r"C:\windows\gu-local",
     (r"VEXALqa\Logs\GameUninstaller.log", r"VEXAL\tmpgamemanifest\tmpgamemanifest_77_qa.upf")),
]


class Hostile(Case):
    # The row's Windows path with {programs}, {local}, {user}, {u} and {short:X} filled in.
    def expand(self, text):
        text = text.replace("{programs}", "{user}" + PROGRAMS).replace("{local}", r"{user}\AppData\Local")
        text = text.replace("{user}", R.user).replace("{u}", R.user[9:])
        found = re.search(r"\{short:(.*)\}", text)
        if found:
            short = wine([r"C:\gu-e2e\boxdriver.exe", "short", found[1]])[1].strip()
            if short.upper() == found[1].upper():
                self.skipTest(f"Wine gives {found[1]} no short name of its own")
            text = text.replace(found[0], short)
        return text

    # A host path: "outside[\\rest]" in the outside folder, else a Windows path as expand() fills it.
    def resolve(self, target):
        if target.startswith("outside"):
            return os.path.join(self.outside, *target.split("\\")[1:])
        return host(self.expand(target))

    def refused(self, game_path, kind=None, at=None, target=None):
        path = self.expand(game_path)
        if not kind:
            self.install_game(guard=True)
        elif kind == "link":
            self.link(host(self.expand(at)), self.resolve(target))
        elif kind == "drive":
            self.link(os.path.join(os.environ["WINEPREFIX"], "dosdevices", at), host(target))
        else:
            self.made_above(host(at))
            for name in (r"\a.bin", r"\sub\b.bin"):
                self.canary(host(at + name))
        self.attempt(record(path=path), 3, [error(READ_INFO, REFUSED + path), failed(3)])
        self.assertTrue(key_exists(RECORD_QA))

    def known_gap(self, *row):
        self.gap = True
        self.refused(*row)

    def inside(self, name, target):
        self.install_game()
        if not os.path.exists(self.resolve(target)):
            self.canary(self.resolve(target))
        self.link(host(GAME + "\\" + name), self.resolve(target))
        parent = GAME + "\\" + name.rsplit("\\", 1)[0]
        self.attempt(record(), 2, TEMP_LINES + [error(REMOVAL, "Remove file failed: " + GAME + "\\" + name)] + [
            error(REMOVAL, "Remove dir failed: " + p) for p in (parent, GAME)] + [
            error("_deleteGameFolder", "Failed to delete game folder: " + GAME), failed(2)])
        left = sorted(os.path.relpath(os.path.join(d, n), host(GAME))
                      for d, dirs, files in os.walk(host(GAME)) for n in dirs + files)
        self.assertEqual(left, sorted([name.replace("\\", "/"), parent[len(GAME) + 1:]]))

    # A canary where folder\name leads when `variable`, the part of name that comes from the
    # input, holds a separator (unless a colon or NUL makes it no path); returns how many.
    def decoy(self, folder, name, variable):
        win_path = ntpath.normpath(folder + "\\" + name)
        if not any(c in variable for c in "\\/") or ":" in win_path[2:] or "\0" in win_path:
            return 0
        path = host(win_path)
        if path in self.canaries or os.path.isdir(path):
            return 0
        self.made_above(path)
        self.canary(path)
        return 1

    def names(self, game_no, token, title, record_no, lines, game_path=GAME):
        self.install_game()
        key = f"Software\\ORBA{token}\\Apps\\{game_no}"
        suffix, local = token.removeprefix("_"), R.user + r"\AppData\Local"
        decoys = self.decoy(local, "VEXAL" + suffix + r"\Logs\GameUninstaller.log", suffix)
        for shown in ("".join(c for c in title if c not in '|\\?*<":>/'), title):  # as stripped, and not
            decoys += self.decoy(R.user + r"\Desktop", shown + token + ".url", shown + token)
            decoys += self.decoy(R.user + PROGRAMS, "VEXAL" + token + "\\" + shown + token + ".url", token + shown)
        decoys += self.decoy(local + r"\VEXAL\tmpgamemanifest", f"tmpgamemanifest_{record_no}_{suffix or 'live'}.upf",
                             record_no + suffix)
        if any(c in token + title + record_no for c in "\\/") and not any(c in token + title + record_no for c in ":\0"):
            self.assertGreater(decoys, 0, "no canary where the hostile name leads")
        expected = None if lines is None else (
            temp_lines(game_path) + [error(f, m) for f, m in lines] + [deleted(key)])
        self.attempt(record("HKEY_CURRENT_USER\\" + key, title, game_path, record_no), 1, expected,
                     f"{game_no} {token}", token)
        self.assertFalse(os.path.exists(host(GAME)) or key_exists("HKEY_CURRENT_USER\\" + key))
        if lines is None:  # no log in any environment's usual place either
            self.assertEqual(os.listdir(log_dir("")) + os.listdir(log_dir()), [])

    def linked(self, item, hard, target, reached):
        self.install_game()
        win_target, target = target, self.resolve(target)
        reached = (reached,) if isinstance(reached, str) else reached
        if not target.startswith(self.outside):
            self.made.append(target)
        for name in reached or ():  # canaries named like what the program reaches in the folder
            self.canary(os.path.join(target, *name.split("\\")))
        if not reached and not os.path.basename(target).startswith("new"):  # "new...": a link to nothing
            self.canary(target)
        body = record()
        if item.startswith("shell:"):
            body += f'\r\n\r\n[{SHELL_FOLDERS}]\r\n"{item[6:]}"="' + win_target.replace("\\", "\\\\") + '"'
            self.addCleanup(set_registry, "")  # the prefix's own folders back for the suites after
        else:
            self.link(host(self.expand(item)), target, os.link if hard else os.symlink)
        watched = target if reached else os.path.dirname(target)
        before = sorted(os.listdir(watched))
        self.attempt(body, 1, None if "VEXALqa" in item + str(reached) else REMOVED)
        self.assertEqual(sorted(os.listdir(watched)), before, "a file appeared where the link leads")
        self.assertFalse(os.path.exists(host(GAME)) or key_exists(RECORD_QA))


    # The folder above the game is swapped for a link to a game-shaped tree outside once the
    # removal has begun (a leftover gone). Wine resolves opens relative to a folder through
    # the folder's path as it was opened, so what they find now lies outside and is left:
    # the run ends with 2 (on Windows the real game would go), the outside stays.
    def test_folder_above_swapped_for_a_link_after_the_judgement(self):
        self.install_game()
        temp = host(GAME + r"\.vexal_temp")
        for i in range(500):
            self.write(os.path.join(temp, f"part{i}.tmp"), b"")
        for name in ["bin\\game.exe"] + LEFTOVER_NAMES:
            self.canary(os.path.join(self.outside, "SpaceRace", *name.split("\\")))
        games, moved = host(r"C:\Games"), host(r"C:\Games.moved")
        self.made += [moved, games]
        self.canaries[os.path.join(moved, "gu-canary.bin")] = self.canaries.pop(os.path.join(games, "gu-canary.bin"))
        planted = self.during(lambda: len(os.listdir(temp)) < 501,
                              lambda: (os.rename(games, moved), os.symlink(self.outside, games)))
        self.attempt(record(), 2, None)
        self.assertTrue(planted.is_set(), "the swap came too late")

    # A link to a tree with a combined manifest appears at the game's name once the game is
    # gone; the step that runs after the folder has nothing to find.
    def test_link_at_the_game_name_once_the_folder_is_gone(self):
        self.install_game()
        planted = self.during(lambda: not os.path.lexists(host(GAME)), lambda: os.symlink(self.outside, host(GAME)))
        self.attempt(record(), 1, REMOVED)
        self.assertTrue(planted.is_set())

    # A second name in the game of a read-only file elsewhere: the name goes, the file keeps
    # its bytes and its read-only attribute.
    def test_hard_link_in_game_to_a_read_only_file_elsewhere(self):
        self.install_game()
        other = host(r"C:\windows\gu-readonly.bin")
        self.canary(other)
        self.made.append(other)
        os.chmod(other, 0o444)
        os.link(other, host(GAME + r"\bin\shared.dll"))
        self.attempt(record(), 1, REMOVED)
        self.assertFalse(os.path.exists(host(GAME)))
        self.assertEqual(os.stat(other).st_mode & 0o777, 0o444, "the other name lost its read-only attribute")


add_rows(Hostile, REFUSED_FOLDERS, Hostile.refused)
add_rows(Hostile, KNOWN_GAPS, Hostile.known_gap, known_gaps=True)
add_rows(Hostile, LINKS_INSIDE, Hostile.inside)
add_rows(Hostile, NAMES, Hostile.names)
add_rows(Hostile, LINKED, Hostile.linked)


DEEP = "\\".join(["deep"] + [f"level{i}_" + "x" * 40 for i in range(6)])  # past 260 characters
EARLIER = BOM + b"earlier\r\n"
# (case, .reg lines over a complete record, record deleted while the question is up, code,
# the line's text before the key): the game is kept.
FAILED_READS = [
    ("record_deleted_between_question_and_yes_fails_with_3", "", True, 3, "Apps registry not found: "),
    ("title_of_another_type_fails_with_4", '\r\n"GameTitle"=dword:00000001', False, 4, "GameTitle not found in registry: "),
]


class Faults(Case):
    # boxdriver.exe holds the file until release(); returns once it is open.
    def hold(self, win_path):
        ready = os.path.join(R.work, "ready")
        if os.path.exists(ready):
            os.remove(ready)
        run = start([r"C:\gu-e2e\boxdriver.exe", "wait", r"C:\gu-e2e\ready", "release", win_path], limit=120)
        self.assertTrue(wait_for(lambda: os.path.exists(ready) or run.poll() is not None, 30) and run.poll() is None,
                        "boxdriver did not open the file")
        return run

    def release(self, run):
        with open(os.path.join(R.work, "ready"), "w") as f:
            f.write("release")
        self.assertEqual(run.wait(30), 0, "the file was not held to the end")

    def test_file_held_open_past_260_characters_fails_with_2(self):
        held = GAME + "\\" + DEEP + r"\data.pak"
        files = self.install_game()
        self.write(host(held), b"held")
        files[host(held)] = b"held"
        run = self.hold("\\\\?\\" + held)
        parts = DEEP.split("\\")
        chain = [GAME + "\\" + "\\".join(parts[:i]) for i in range(len(parts), 0, -1)] + [GAME]
        self.attempt(record(), 2, TEMP_LINES + [error(REMOVAL, "Remove file failed: " + held)]
                     + [error(REMOVAL, "Remove dir failed: " + p) for p in chain]
                     + [error("_deleteGameFolder", "Failed to delete game folder: " + GAME), failed(2)])
        self.assertEqual(self.remaining(files), [host(held)])
        self.release(run)
        self.assertTrue(key_exists(RECORD_QA))

    # A folder of the game held open without delete sharing (a command window inside it) is
    # still emptied; only the folder and those above it stay.
    def test_folder_held_open_is_emptied_and_reported(self):
        files = self.install_game(files=5)
        held = GAME + r"\Content"
        run = self.hold(held)
        self.attempt(record(), 2, TEMP_LINES + [error(REMOVAL, "Remove dir failed: " + p) for p in (held, GAME)]
                     + [error("_deleteGameFolder", "Failed to delete game folder: " + GAME), failed(2)])
        self.assertEqual(self.remaining(files), [])
        self.assertEqual(os.listdir(host(GAME)), ["Content"])
        self.release(run)

    # The log cannot be written (its folder missing, or the file held by another writer):
    # its lines are lost, the folder is not made, and the uninstall succeeds.
    def log_fault(self, held):
        files = self.install_game()
        if held:
            self.write(os.path.join(log_dir(), "GameUninstaller.log"), EARLIER)
            run = self.hold(R.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log")
        else:
            os.rmdir(log_dir())
        self.attempt(record(), 1, None)
        self.assertEqual((self.read_log(), os.path.exists(log_dir())), (EARLIER, True) if held else (None, False))
        self.assertEqual(self.remaining(files), [])
        self.assertFalse(key_exists(RECORD_QA))
        if held:
            self.release(run)

    # The record names the game through a link above its folder; a game process started by
    # the folder's own path is still found, through the final path of the folder's handle.
    def test_game_running_by_its_real_path_ends_with_7(self):
        files = self.install_game()
        self.link(host(r"C:\Lib"), host(r"C:\Games"))
        shutil.copyfile(os.path.join(R.work, "boxdriver.exe"), host(GAME + r"\bin\run.exe"))
        start([GAME + r"\bin\run.exe", "wait", r"C:\gu-e2e\never", "never"], limit=90)
        time.sleep(1.0)
        self.attempt(record(path=r"C:\Lib\SpaceRace"), 7, [
            line("INFO", "_isGameRunning", "Game process detected: " + GAME + r"\bin\run.exe"),
            error("_worker", r"Game is currently running, cannot uninstall: C:\Lib\SpaceRace"), failed(7)])
        self.assertEqual(self.remaining(files), sorted(files))

    def test_immutable_file_ends_with_2_through_the_worker(self):
        locked = GAME + r"\bin\save.dat"
        self.write(host(locked), b"save")
        self.install_game()
        self.immutable(host(locked))
        self.attempt(record(), 2, TEMP_LINES + [error("_worker", "[_worker] filesystem_error: filesystem error: "
                     f"permissions: Access denied [{locked}] path1={locked} path2="), failed(2)])
        self.assertTrue(os.path.exists(host(locked)) and key_exists(RECORD_QA))

    def failed_read(self, values, delete, code, message):
        files = self.install_game()
        self.attempt(record() + values, code, [error(READ_INFO, message + RECORD), failed(code)],
                     before_yes=(lambda: wine(["reg", "delete", RECORD_QA, "/f"])) if delete else None)
        self.assertEqual(self.remaining(files), sorted(files))


add_rows(Faults, [("missing_log_folder_is_not_made", False), ("log_held_by_another_writer", True)], Faults.log_fault)
add_rows(Faults, FAILED_READS, Faults.failed_read)
SUITES = {"e2e": Program, "hostile": Hostile, "faults": Faults}


def main():
    parser = argparse.ArgumentParser(description="The end-to-end suites under Wine")
    for name in ("suite", "exe", "driver", "summary"):
        parser.add_argument("--" + name, required=name != "summary")
    args, rest = parser.parse_known_args()
    prefix = os.environ.get("WINEPREFIX", "")
    if not os.path.isdir(os.path.join(prefix, "drive_c")) or not os.environ.get("DISPLAY"):
        sys.exit("e2e: WINEPREFIX and DISPLAY must be set; run through scripts/with-wine-rig")
    R.drive_c = os.path.join(prefix, "drive_c")
    users = [n for n in os.listdir(os.path.join(R.drive_c, "users")) if n != "Public"]
    own = pwd.getpwuid(os.getuid()).pw_name
    R.user = "C:\\users\\" + (own if own in users else users[0])
    R.user_dir, R.work = host(R.user), host(r"C:\gu-e2e")
    os.makedirs(R.work, exist_ok=True)
    shutil.copyfile(args.driver, os.path.join(R.work, "boxdriver.exe"))
    shutil.copyfile(args.exe, os.path.join(R.work, "GameUninstaller.exe"))
    ok = unittest.main(argv=[sys.argv[0]] + rest, defaultTest=SUITES[args.suite].__name__, verbosity=2,
                       exit=False).result.wasSuccessful()
    if args.summary:
        with open(args.summary, "a") as f:
            f.write(f"SAFETY suite={args.suite} " + " ".join(f"{k}={v}" for k, v in STATS.items())
                    + f" status={'passed' if ok else 'failed'}\n")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
