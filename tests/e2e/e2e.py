#!/usr/bin/env python3
# The end-to-end suites: GameUninstaller.exe in a Wine prefix with canaries around every case,
# its message boxes read and pressed through boxdriver.exe, its exit statuses and exact log.
# Run inside scripts/with-wine-rig (WINEPREFIX, DISPLAY, a warm wineserver):
#   scripts/with-wine-rig python3 tests/e2e/e2e.py --suite e2e|hostile|faults \
#     --exe build/windows/GameUninstaller.exe --driver build/windows/tests/e2e/boxdriver.exe \
#     [--summary FILE] [unittest options such as -k NAME]
# --summary appends "SAFETY suite=<suite> cases=N canary_bytes=N lost=N status=passed|failed"
# to FILE: the attempts, the canary bytes checked after them and those lost.
import argparse, datetime, ntpath, os, pathlib, pwd, re, shutil, signal, subprocess, sys, tempfile, threading, time, unittest

STATS = {"cases": 0, "canary_bytes": 0, "lost": 0}
QUESTION = "해당 게임을 삭제하시겠습니까?\n삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다."
FAILURE, SUCCESS = "게임 삭제에 실패하였습니다.\n(Error Code={})", "게임이 삭제되었습니다."
BOM, UTC_OFFSET = b"\xef\xbb\xbf", 9  # Wine runs in that zone (TZ below), not the host's
GAME, TITLE, RECORD = r"C:\Games\SpaceRace", "Space Race", r"Software\ORBA_qa\Apps\77"
RECORD_QA = "HKEY_CURRENT_USER\\" + RECORD
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_32 = UNINSTALL.replace("Software", r"Software\Wow6432Node")  # the 32-bit view
ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexal_qa App 77"
READ_INFO, REMOVAL = "_readGameInfo", "_removeDirectoriesRecursive"
# Keys a case may set up; every case starts with all of them deleted.
MANAGED_KEYS = [r"HKEY_CURRENT_USER\Software\ORBA" + env for env in ("", "_qa")] + [
    view + key for view in (UNINSTALL, UNINSTALL_32) for key in (r"\VexalLauncher", r"\VexalLauncher_qa", r"\Vexal_qa App 77")]
# Known folders a case may move (User Shell Folders values) and what every case starts with:
# the prefix's own values.
SHELL_FOLDERS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
MANAGED_VALUES = {"Desktop": r"%USERPROFILE%\Desktop", "Local AppData": r"%USERPROFILE%\AppData\Local"}
# Another game's record and uninstall entry: they must survive every case.
NEIGHBOUR_RECORD, NEIGHBOUR_ENTRY = r"HKEY_CURRENT_USER\Software\ORBA_qa\Apps\78", UNINSTALL + r"\Vexal_qa App 78"
# Where canaries go (gu-canary.bin in each); {user} is the profile, C:\users\<name>.
CANARY_FOLDERS = [
    r"C:\windows", r"C:\windows\system32", r"C:\Program Files", r"C:\ProgramData", "{user}",
    r"{user}\Desktop", r"{user}\Documents", r"{user}\AppData\Local", r"{user}\AppData\Local\VEXAL",
    r"{user}\AppData\Roaming", r"{user}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs", r"C:\Games", "C:\\"]
# Named like what the clean-up steps remove inside a game folder: a step that reached
# through a link into the profile or the outside folder would take them.
LEFTOVER_NAMES = ["install_progress.json", r".vexal_temp\chunk.tmp", r"combinedata_manifest\m.bin"]
PROGRAMS = r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
MANIFEST = r"\AppData\Local\VEXAL\tmpgamemanifest\tmpgamemanifest_{}_{}.upf"
ANYTHING = "anything"  # what may remain of a game whose removal stops where the listing order has it
DEEP = "\\".join(["deep"] + [f"level{i}_" + "x" * 40 for i in range(6)])  # past 260 characters


# The pattern of one log record without its CR LF; a bare function name is the engine's.
def line(severity, function, message):
    function = function if "::" in function or function == "onUninstallEvent" else "GameUninstallHelper::" + function
    return re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} " + severity.ljust(5) + r" \[\d+\] \["
                      + re.escape(function) + r"@\d+\] " + re.escape(message) + "$")


def error(function, message): return line("ERROR", function, message)
def failed(code): return error("onUninstallEvent", f"Fail to uninstall due to error({code})")
def deleted(key): return line("INFO", "_regDeleteKey", "Deleted registry key: " + key)
def chain(name): return ["/".join(name.split("\\")[:i]) for i in range(1, name.count("\\") + 2)]  # name, its folders


# The lines of the leftovers' removal from the game folder named `game`.
def temp_lines(game=GAME):
    return [line("INFO", "_deleteInstallTempFiles", "Removed .vexal_temp: " + game + r"\.vexal_temp"),
            line("INFO", "_deleteInstallTempFiles", "Removed install_progress.json")]


TEMP_LINES = temp_lines()
REMOVED = TEMP_LINES + [deleted(RECORD)]


# The walk's lines for an item in the game it cannot remove, the folders holding it, and the end.
def stays(name, code=2):
    return [error(REMOVAL, "Remove file failed: " + GAME + "\\" + name)] + [
        error(REMOVAL, "Remove dir failed: " + GAME + ("\\" + folder.replace("/", "\\") if folder else ""))
        for folder in reversed([""] + chain(name)[:-1])] + [
        error("_deleteGameFolder", "Failed to delete game folder: " + GAME), failed(code)]


# A game record in .reg syntax; a value holding a NUL is written as hex(1), UTF-16LE.
def record(key=RECORD_QA, title=TITLE, path=GAME, game_no="77"):
    def value(name, text):
        if "\0" in text:
            return f'"{name}"=hex(1):' + ",".join(f"{b:02x}" for b in (text + "\0").encode("utf-16-le"))
        return f'"{name}"="' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return "\r\n".join([f"[{key}]", value("GameTitle", title), value("GamePath", path), value("GameNo", game_no)])


NEIGHBOUR = "\r\n\r\n" + record(NEIGHBOUR_RECORD, "Other", r"C:\Games\Other", "78") + f"\r\n\r\n[{NEIGHBOUR_ENTRY}]"


# The prefix, its user and the programs copied into C:\gu-e2e; filled by main().
class R:
    wine = os.environ.get("WINE64", "/usr/lib/wine/wine64")
    env = dict(os.environ, WINEDEBUG=os.environ.get("GU_E2E_WINEDEBUG", "-all"), TZ=f"KST-{UTC_OFFSET}")
    drive_c = user = user_dir = work = None
    runs = []


# C:\a\b -> <prefix>/drive_c/a/b.
def host(win_path):
    assert win_path[:3].upper() == "C:\\", win_path
    return os.path.join(R.drive_c, *win_path[3:].split("\\"))


def log_dir(token="_qa"): return os.path.join(R.user_dir, "AppData", "Local", "VEXAL" + token.removeprefix("_"), "Logs")


# Starts a Windows command in a process group of its own, ended after the case at the latest.
def start(args, limit=60, out=subprocess.DEVNULL):
    run = subprocess.Popen(["timeout", str(limit), R.wine] + args, cwd=R.drive_c, env=R.env, stdin=subprocess.DEVNULL,
                           stdout=out, stderr=subprocess.DEVNULL, start_new_session=True)
    run.label, run.started = " ".join(args), time.monotonic()
    R.runs.append(run)
    return run


# Runs a Windows command to its end; returns (status, stdout). Output goes through a file: a
# Wine system process started on the way can inherit the handle, and a pipe would never close.
def wine(args, timeout=30, check=True):
    with tempfile.TemporaryFile() as out:
        status = start(args, timeout, out).wait()
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    assert status == 0 or not check, f"{args} failed with {status}"
    return status, text


# Waits up to `seconds` until ready() holds, asking every `pause` s; returns its last answer.
def wait_for(ready, seconds, pause=0.02):
    end = time.monotonic() + seconds
    while not ready() and time.monotonic() < end:
        time.sleep(pause)
    return ready()


# Runs boxdriver.exe; returns (exit status, the box it printed).
def driver(*args, timeout=60):
    status, out = wine([r"C:\gu-e2e\boxdriver.exe"] + list(args), timeout, check=False)
    return status, dict(zip(("caption", "text", "buttons", "count", "pressed"), out.split("\x1e")))


def key_exists(key, view="64"): return wine(["reg", "query", key, "/reg:" + view], check=False)[0] == 0


# Deletes the managed keys and puts the managed values back, then imports `body` (lines of a
# .reg file).
def set_registry(body):
    lines = ["Windows Registry Editor Version 5.00", ""] + [f"[-{k}]" for k in MANAGED_KEYS] + [f"[{SHELL_FOLDERS}]"]
    lines += [f'"{name}"=hex(2):' + ",".join(f"{b:02x}" for b in (value + "\0").encode("utf-16-le"))
              for name, value in MANAGED_VALUES.items()]
    pathlib.Path(R.work, "state.reg").write_bytes("\r\n".join(lines + ["", body, ""]).encode("utf-16"))
    wine(["regedit", "/S", r"C:\gu-e2e\state.reg"])


class Case(unittest.TestCase):
    # No records, games or log files, empty Logs folders, and canaries everywhere.
    def setUp(self):
        set_registry("")
        for folder in [host(r"C:\launcher"), host(r"C:\Games")] + [os.path.dirname(log_dir(t)) for t in ("", "_qa")]:
            shutil.rmtree(folder, ignore_errors=True)
        for token in ("", "_qa"):
            os.makedirs(log_dir(token))  # the program never creates it
        self.assertEqual(driver("--none-for-ms", "0")[0], 0, "a box from an earlier run is still up")
        # host path -> bytes; chattr +i, undone after the case; changes planted while it runs
        self.canaries, self.immutables, self.watchers = {}, [], []
        self.outside = tempfile.mkdtemp(prefix="gu-outside-")  # only links lead there
        self.made = [self.outside] + [host(R.user + "\\" + name.split("\\")[0]) for name in LEFTOVER_NAMES]
        for path in [host(f.format(user=R.user) + r"\gu-canary.bin") for f in CANARY_FOLDERS] + [
                os.path.join(self.outside, *name.split("\\")) for name in LEFTOVER_NAMES + ["gu-canary.bin", r"sub\c.bin"]
        ] + [host(R.user + "\\" + name) for name in LEFTOVER_NAMES]:
            self.canary(path)

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

    # Writes the file, making its folders; returns its host path.
    def write(self, path, data=b"x"):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        pathlib.Path(path).write_bytes(data)
        return path

    def canary(self, path, size=64):
        self.canaries[path] = os.urandom(size)
        self.write(path, self.canaries[path])

    # A Unix link at host path `at` to host path `target`, in place of what is there (Wine
    # shows a folder link as a reparse point).
    def link(self, at, target, make=os.symlink):
        os.makedirs(os.path.dirname(at), exist_ok=True)
        if os.path.isdir(at) and not os.path.islink(at):
            shutil.rmtree(at)
        elif os.path.lexists(at):
            os.remove(at)
        make(target, at)
        self.made.append(at)

    # Once ready() holds while the program runs (polled every 0.2 ms, 60 s at most), change()
    # plants the case's change; the attempt checks that it was planted.
    def during(self, ready, change):
        self.watchers.append(threading.Event())
        threading.Thread(target=lambda e=self.watchers[-1]: wait_for(ready, 60, 0.0002) and (change(), e.set()),
                         daemon=True).start()

    # Takes away after the case the outermost of the host path's folders still to be made.
    def made_above(self, path):
        while not os.path.exists(os.path.dirname(path)):
            path = os.path.dirname(path)
        self.made.append(path)

    # The game at GAME: its installer's leftovers and `files` files in one folder, canaries
    # with `guard`.
    def install_game(self, guard=False, files=3):
        for name in [r"bin\game.exe"] + [f"Content\\에셋_{i}.uasset" for i in range(files)] + LEFTOVER_NAMES:
            path = host(GAME + "\\" + name)
            self.canary(path, 32)
            if not guard:
                self.canaries.pop(path)

    # What is under GAME, links not followed: relative name -> bytes (None: a folder or link).
    def tree(self):
        walk = [(os.path.join(d, n), n in ds) for d, ds, fs in os.walk(host(GAME)) for n in ds + fs]
        return {os.path.relpath(p, host(GAME)): None if folder or os.path.islink(p) else pathlib.Path(p).read_bytes()
                for p, folder in walk}

    # A copy of boxdriver.exe at the Windows path; returns its host path.
    def driver_copy(self, win_path):
        return shutil.copyfile(os.path.join(R.work, "boxdriver.exe"), self.write(host(win_path)))

    def run_program(self, args="77 _qa"):
        return start([r"C:\gu-e2e\GameUninstaller.exe"] + args.split())

    # Waits for the one box, checks what it shows and presses `press`.
    def answer(self, text, caption, buttons, press=None, wait_s=30):
        status, box = driver("--wait-ms", str(wait_s * 1000), *(["--press", press] if press else []),
                             timeout=wait_s + 30)
        self.assertEqual(status, 0, f"no box within {wait_s} s, or {press} not pressed: {box}")
        self.assertEqual((box["text"], box["caption"], box["buttons"], box["count"], box["pressed"]),
                         (text, caption, buttons, "1", press or ""))

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
        data = self.read_log(token) or b""
        self.assertTrue(data.startswith(BOM) and data.count(BOM) == 1 and data.endswith(b"\r\n"), data[:16])
        lines = data[len(BOM):-2].split(b"\r\n")
        self.assertEqual(len(lines), len(patterns), f"log lines: {lines}")
        local = datetime.datetime.utcnow() + datetime.timedelta(hours=UTC_OFFSET)
        for text, pattern in zip(lines, patterns):
            self.assertRegex(text.decode("utf-8"), pattern)
            stamp = datetime.datetime.strptime(text[:23].decode(), "%Y-%m-%d %H:%M:%S.%f")
            self.assertLess(abs((local - stamp).total_seconds()), 600, "not the local time")

    # Every canary holds its bytes; the neighbour's registry entries are there.
    def assert_guarded(self):
        lost = {}
        for path, data in self.canaries.items():
            now = pathlib.Path(path).read_bytes() if os.path.isfile(path) else b""
            STATS["canary_bytes"] += len(data)
            lost[path] = sum(a != b for a, b in zip(data, now)) + abs(len(data) - len(now))
        lost = {path: diff for path, diff in lost.items() if diff}
        STATS["lost"] += sum(lost.values())
        if any(host(f + r"\gu-canary.bin") in lost for f in CANARY_FOLDERS[:2]):
            # Wine itself may be broken now: the next rig makes the prefix again.
            pathlib.Path(os.environ["WINEPREFIX"], ".gu-prefix-ready").unlink(missing_ok=True)
        self.assertEqual(lost, {}, "canaries lost or changed (bytes per file)")
        self.assertTrue(key_exists(NEIGHBOUR_RECORD) and key_exists(NEIGHBOUR_ENTRY), "the neighbour's keys are gone")

    # One attempt counted in the figures: the game installed (`files` of its files; None: no
    # game), `plant` called, the registry `body` with the neighbour, the program run with
    # `args` and Yes (before_yes called while the question is up). Then the canaries, the
    # result box for `code`, exactly `lines` in the log of `token` (None: not checked), what
    # remains in the game (`left`, names; None: all of it unchanged, nothing on success;
    # ANYTHING: not checked) and `key`, kept unless the run succeeds (None: not checked).
    def attempt(self, body, code, lines, plant=None, args="77 _qa", token="_qa", before_yes=None, files=3, guard=False,
                left=None, key=RECORD_QA):
        if files is not None:
            self.install_game(guard, files)
        if plant:
            plant()
        STATS["cases"] += 1
        before = self.tree()
        set_registry(body + NEIGHBOUR)
        run = self.run_program(args)
        self.answer(QUESTION, "", "yes,no", None if before_yes else "yes")
        if before_yes:
            before_yes()
            self.assertEqual(driver("--press", "yes")[0], 0)
        try:  # the result box for code (1: success) answered with OK, then the exit status 0
            self.answer(*((SUCCESS, "") if code == 1 else (FAILURE.format(code), "Error")), "ok", "ok", 60)
            self.expect_exit(run, 0)
        finally:
            self.assert_guarded()
        self.assertTrue(all(planted.is_set() for planted in self.watchers), "a change came too late")
        if lines is not None:
            self.assert_log_lines(lines, token)
        if left != ANYTHING:
            self.assertEqual(self.tree(), before if left is None and code != 1 else {n: before[n] for n in left or []})
        self.assertTrue(key is None or key_exists(key) == (code != 1), f"{key} kept or gone wrongly")

    # boxdriver.exe (or its copy at the host path `program`) holds the file without delete
    # sharing until release(); returns once it is open.
    def hold(self, win_path, program=r"C:\gu-e2e\boxdriver.exe"):
        pathlib.Path(R.work, "ready").unlink(missing_ok=True)
        run = start([program, "wait", r"C:\gu-e2e\ready", "release", win_path], limit=120)
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(R.work, "ready")) or run.poll() is not None, 30)
                        and run.poll() is None, "boxdriver did not open the file")
        return run


# One test_<name> per row (name, *arguments) of the table, calling method(self, *arguments).
def add_rows(cls, table, method):
    for name, *row in table:
        setattr(cls, "test_" + name, lambda self, r=tuple(row): method(self, *r))


AT = '"InstallLocation"="C:\\\\launcher"'
# (case, the launcher's uninstall entry (None: none) and its value line, arguments, the URL
# the launcher is started with; None: the question comes instead, No ends the run, all stays).
HAND_OFF = [
    ("launcher_of_the_same_environment", UNINSTALL + r"\VexalLauncher_qa", AT, "77 _qa", "orba_qa://deletegame/77"),
    ("game_number_passed_whole", UNINSTALL + r"\VexalLauncher", AT, "9" * 300, "orba://deletegame/" + "9" * 300),
    ("no_launcher", None, "", "77 _qa", None),
    ("launcher_of_another_environment", UNINSTALL + r"\VexalLauncher", AT, "77 _qa", None),
    ("launcher_in_the_32_bit_view", UNINSTALL_32 + r"\VexalLauncher_qa", AT, "77 _qa", None),
    ("location_not_text", UNINSTALL + r"\VexalLauncher_qa", '"InstallLocation"=dword:00000001', "77 _qa", None),
    ("location_past_260_characters", UNINSTALL + r"\VexalLauncher_qa", AT[:-1] + "l" * 300 + '"', "77 _qa", None),
    ("launcher_that_cannot_start", UNINSTALL + r"\VexalLauncher_qa", AT[:-1] + '2"', "77 _qa", None),
    ("game_number_unsafe_in_a_url", UNINSTALL + r"\VexalLauncher_qa", AT, '7"7 _qa', None),
]
# (case, program running while the question is up, code, lines): one started from inside the
# game folder keeps the game; one in a folder whose name only starts like it does not.
RUNNING = [
    ("game_running_from_past_260_characters_fails_with_7", GAME + "\\" + DEEP + r"\game.exe", 7,
     [line("INFO", "_isGameRunning", "Game process detected: " + GAME + "\\" + DEEP + r"\game.exe"),
      error("_worker", "Game is currently running, cannot uninstall: " + GAME), failed(7)]),
    ("program_of_a_folder_named_like_the_game_does_not_count", GAME + r"2\game.exe", 1, REMOVED),
]


class Program(Case):
    def test_no_arguments_show_no_args_and_end_with_0(self):
        run = self.run_program("")
        self.answer("No Args", "Error", "ok", "ok")
        self.expect_exit(run, 0)

    def test_second_start_ends_with_1_while_the_first_asks(self):
        set_registry(record())
        first, second = self.run_program(), self.run_program()
        wait_for(lambda: first.poll() is not None or second.poll() is not None, 30)
        ended, waiting = (first, second) if first.poll() is not None else (second, first)
        self.assertLess(self.expect_exit(ended, 1), 5.0, "the second instance did not end quickly")
        self.answer(QUESTION, "", "yes,no", "no")
        self.expect_exit(waiting, 0)
        self.assertEqual(driver("--none-for-ms", "300")[0], 0, "a box came after No")

    def hand_off(self, key, value, args, url):
        started, exe = host(r"C:\launcher\args.txt"), r"C:\launcher\VEXAL.exe"
        self.install_game()
        self.driver_copy(exe)
        set_registry((f"[{key}]\r\n{value}\r\n\r\n" if key else "") + record())
        before, run = self.tree(), self.run_program(args)
        if url:
            self.assertLess(self.expect_exit(run, 1), 5.0, "the hand-off did not end at once")
            self.assertTrue(wait_for(lambda: os.path.exists(started), 10), "the launcher was not started")
            time.sleep(0.2)  # a second start, if any, would have written by now
            self.assertIn(pathlib.Path(started).read_text().splitlines(), ([f'"{exe}" {url}'], [f"{exe} {url}"]))
        else:
            self.answer(QUESTION, "", "yes,no", "no")
            self.expect_exit(run, 0)
        self.assertEqual(driver("--none-for-ms", "300")[0], 0, "a box came after the hand-off or No")
        self.assertEqual((self.tree(), os.path.exists(started) == bool(url), key_exists(RECORD_QA)), (before, True, True))
        self.assertEqual(os.listdir(log_dir()) + os.listdir(log_dir("")), [])  # the launcher, if any, uninstalls

    def running(self, program, code, lines):
        self.attempt(record(), code, lines, lambda: self.hold(r"C:\gu-e2e\state.reg", self.driver_copy(program)))

    # The record names the game through a link above its folder; a game process started by
    # the folder's own path is still found, through the final path of the folder's handle.
    def test_game_running_by_its_real_path_fails_with_7(self):
        program = GAME + r"\bin\run.exe"
        self.attempt(record(path=r"C:\Lib\SpaceRace"), 7, [line("INFO", "_isGameRunning", "Game process detected: " + program),
                     error("_worker", r"Game is currently running, cannot uninstall: C:\Lib\SpaceRace"), failed(7)],
                     lambda: (self.link(host(r"C:\Lib"), host(r"C:\Games")), self.hold(r"C:\gu-e2e\state.reg", self.driver_copy(program))))

    # Read-only files in the game (one removed by the leftovers' step), its manifest (game
    # number 501) and the shortcuts named `shortcut`, and canaries beside each: a sibling
    # named like the game, another game's manifest and shortcut.
    def install(self, shortcut):
        for name in (r"\bin\game.exe", r"\install_progress.json"):
            os.chmod(host(GAME + name), 0o444)  # Wine shows it as FILE_ATTRIBUTE_READONLY
        os.chmod(self.write(host(R.user + MANIFEST.format(501, "qa"))), 0o444)
        self.made += [self.write(host(path + shortcut)) for path in (R.user + "\\Desktop\\", R.user + PROGRAMS + "\\VEXAL_qa\\")]
        self.made += [host(R.user + PROGRAMS + r"\VEXAL_qa"), os.path.dirname(host(R.user + MANIFEST.format(0, "qa")))]
        for path in (GAME + r"2\keep.txt", R.user + MANIFEST.format(502, "qa"), R.user + r"\Desktop\Other Game_qa.url"):
            self.canary(host(path))

    # One folder of 300 files: the walk lists it while it deletes, and skips none.
    def test_whole_game_is_removed_and_only_it(self):
        entry, shortcut = "HKEY_LOCAL_MACHINE\\" + ENTRY, "Space Race 우주 😀_qa.url"  # ':' is dropped from names
        shortcuts = [R.user + "\\Desktop\\" + shortcut, R.user + PROGRAMS + "\\VEXAL_qa\\" + shortcut]
        self.attempt(record(title="Space Race: 우주 😀", game_no="501") + f"\r\n\r\n[{entry}]", 1, TEMP_LINES + [
            line("INFO", "_deleteTmpManifest", "Deleted tmp manifest: " + R.user + MANIFEST.format(501, "qa")),
            line("INFO", "_deleteGameShortcuts", "Deleted desktop shortcut: " + shortcuts[0]),
            line("INFO", "_deleteGameShortcuts", "Deleted start menu shortcut: " + shortcuts[1]),
            deleted(ENTRY), deleted(RECORD)], lambda: self.install(shortcut), files=300)
        for gone in [R.user + MANIFEST.format(501, "qa")] + shortcuts:
            self.assertFalse(os.path.exists(host(gone)), gone)
        self.assertTrue(os.path.isdir(host(R.user + PROGRAMS + r"\VEXAL_qa")) and not key_exists(entry))

    # The game's executables run through a name of their folder the running-game check does
    # not know (a link), so deleting them is refused with access denied and the elevated copy
    # starts. game.exe ends once the relaunch is logged; without blocker_ends stays.exe runs
    # on. The elevated copy's command line is seen in its work: only a copy that read this
    # game's record can remove game.exe while the first process waits.
    def relaunch(self, blocker_ends, lines=None, left=None):
        def block():
            self.install(TITLE + "_qa.url")
            self.link(host(r"C:\alias"), host(GAME + r"\bin"))
            for exe, text in [("game.exe", "Access denied, relaunching elevated"), ("stays.exe", "never")][:2 - blocker_ends]:
                self.driver_copy(f"{GAME}\\bin\\{exe}")
                start([f"C:\\alias\\{exe}", "wait", R.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log", text], 90)
            time.sleep(1.0)
        entry = f"\r\n\r\n[HKEY_LOCAL_MACHINE\\{ENTRY}]"
        self.attempt(record(game_no="501") + entry, 1 if blocker_ends else 2, lines, block, files=0, left=left)

    # The elevated copy's lines are lost while this process holds the log; this process then
    # finds the keys already gone.
    def test_access_denied_relaunches_elevated_and_goes_on_once_the_folder_is_gone(self):
        self.relaunch(True, TEMP_LINES + stays(r"bin\game.exe")[:-2] + [
            line("INFO", "_deleteGameFolder", "Access denied, relaunching elevated: " + GAME),
            error("_regDeleteKey", "Failed to delete registry key: " + ENTRY + " (2)"),
            error("_regDeleteKey", "Failed to delete registry key: " + RECORD + " (2)")])

    # The elevated copy removes game.exe but does not relaunch again: a chain of copies would
    # never end.
    def test_elevated_copy_that_fails_too_ends_with_2(self):
        self.relaunch(False, left=chain(r"bin\stays.exe"))
        log = self.read_log().decode("utf-8")
        self.assertIn("Access denied, relaunching elevated: " + GAME, log)
        self.assertNotIn("Failed to delete game folder", log)  # not on the relaunch branch

    # The elevated copy's lines start the log (with its BOM); the waiting process appends.
    def test_elevated_copy_beside_a_waiting_process_removes_without_a_box_into_the_same_log(self):
        def elevated():
            self.expect_exit(self.run_program("77 _qa --elevated"), 0)
            self.assertEqual(driver("--wait-ms", "0")[1]["count"], "1", "the elevated copy showed a box")
            self.assertFalse(os.path.exists(host(GAME)) or key_exists(RECORD_QA))
        self.attempt(record(), 3, REMOVED + [error(READ_INFO, "Apps registry not found: " + RECORD), failed(3)],
                     before_yes=elevated, left=[], key=None)


add_rows(Program, HAND_OFF, Program.hand_off)
add_rows(Program, RUNNING, Program.running)


# (case, GamePath, set-up) refused with code 3 before anything is deleted: one row per way
# Windows names a folder and per kind of protected folder; the rules' other entries are host
# tests. {user} is the profile, {u} the user name, {local} its local application data,
# {short:X} Wine's short name of X. Set-ups: none (the game, guarded), ("link", X, T) X
# links to T, ("drive", X:, T) X: maps to T, ("victim", F) canaries in F.
REFUSED_FOLDERS = [
    ("drive_root", "C:\\"),
    ("relative_to_the_current_folder", r"..\windows"),
    ("drive_relative", r"C:Games\SpaceRace"),
    ("rooted_at_the_current_drive", r"\Games\SpaceRace"),
    ("device_path", r"\\.\C:\Games\SpaceRace"),
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
    ("inside_common_files", r"C:\Program Files\Common Files\gu-victim", "victim", r"C:\Program Files\Common Files\gu-victim"),
    ("inside_programdata_microsoft", r"C:\ProgramData\Microsoft\gu-victim", "victim", r"C:\ProgramData\Microsoft\gu-victim"),
    ("other_users_profile", r"C:\users\gu-other", "victim", r"C:\users\gu-other"),
    ("deep_in_other_users_profile", r"C:\users\gu-other\Documents\Game", "victim", r"C:\users\gu-other\Documents\Game"),
    ("documents", r"{user}\Documents"),
    ("roaming_application_data", r"{user}\AppData\Roaming"),
    ("program_files_32_bit", r"C:\Program Files (x86)"),
    ("platform_log_folder", r"{local}\VEXALqa\Logs", "victim", r"{local}\VEXALqa\Logs"),
]
# (case, link inside a real game, target[, the leftovers' lines]): removed as a link, never
# entered. Wine cannot remove a Unix folder link (RemoveDirectoryW 145), so the run ends with
# 2 and the link stays.
LINKS_INSIDE = [("folder_link_in_game_to_outside", r"Content\data", "outside"),
                ("file_link_in_game_to_outside_file", r"mods\mod.pak", r"outside\gu-canary.bin"),
                ("temp_folder_link_to_outside", ".vexal_temp", "outside"),
                ("progress_file_link_to_outside_file", "install_progress.json", r"outside\gu-canary.bin", TEMP_LINES[:1]),
                ("file_link_to_a_sibling_named_in_another_case", r"sub\x.txt", r"C:\Games\SPACERACE\sub\x.txt")]
# (case, game number, token, title, record's GameNo, lines beyond REMOVED; None: no log may be
# written[, GamePath naming GAME]) for a real game that is removed. Canaries wait wherever a
# name with separators leads.
NAMES = [
    ("token_up_to_appdata", "77", r"_qa\..\..\x", TITLE, "77", None),
    ("title_up_to_win_ini", "77", "_qa", r"..\..\..\windows\win.ini", "77", []),
    ("title_con_without_token", "77", "", "CON", "77", []),
    ("title_with_nul", "77", "_qa", "..\0\\..\\x", "77", [("_deleteGameShortcuts", "Shortcut name refused: ..\0..x_qa.url")]),
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
        def plant():
            if kind == "link":
                self.link(host(self.expand(at)), self.resolve(target))
            elif kind == "drive":
                self.link(os.path.join(os.environ["WINEPREFIX"], "dosdevices", at), host(target))
            elif kind:
                self.made_above(host(self.expand(at)))
                for name in (r"\a.bin", r"\sub\b.bin"):
                    self.canary(host(self.expand(at) + name))
        path = self.expand(game_path)
        self.attempt(record(path=path), 3, [error(READ_INFO, "GamePath refused, not a game folder: " + path), failed(3)],
                     plant, files=None if kind else 3, guard=True)

    def inside(self, name, target, leftover_lines=TEMP_LINES):
        def plant():
            if not os.path.exists(self.resolve(target)):
                self.canary(self.resolve(target))
            self.link(host(GAME + "\\" + name), self.resolve(target))
        self.attempt(record(), 2, leftover_lines + stays(name), plant, left=chain(name))

    # A canary where folder\name leads when `variable`, the part of name that comes from the
    # input, holds a separator (unless a colon or NUL makes it no path); returns how many.
    def decoy(self, folder, name, variable):
        path = ntpath.normpath(folder + "\\" + name)
        if not any(c in variable for c in "\\/") or ":" in path[2:] or "\0" in path or host(path) in self.canaries \
                or os.path.isdir(host(path)):
            return 0
        self.made_above(host(path))
        self.canary(host(path))
        return 1

    def names(self, game_no, token, title, record_no, lines, game_path=GAME):
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
        expected = None if lines is None else temp_lines(game_path) + [error(f, m) for f, m in lines] + [deleted(key)]
        self.attempt(record("HKEY_CURRENT_USER\\" + key, title, game_path, record_no), 1, expected,
                     args=f"{game_no} {token}", token=token, key="HKEY_CURRENT_USER\\" + key)
        if lines is None:  # no log in any environment's usual place either
            self.assertEqual(os.listdir(log_dir("")) + os.listdir(log_dir()), [])

    def linked(self, item, hard, target, reached):
        win_target, target = target, self.resolve(target)
        reached = (reached,) if isinstance(reached, str) else reached or ()
        if not target.startswith(self.outside):
            self.made.append(target)
        for name in reached:  # canaries named like what the program reaches in the folder
            self.canary(os.path.join(target, *name.split("\\")))
        if not reached and not os.path.basename(target).startswith("new"):  # "new...": a link to nothing
            self.canary(target)
        watched = target if reached else os.path.dirname(target)  # what the program reaches is named there
        before, body = sorted(os.listdir(watched)), record()
        if item.startswith("shell:"):
            body += f'\r\n\r\n[{SHELL_FOLDERS}]\r\n"{item[6:]}"="' + win_target.replace("\\", "\\\\") + '"'
            self.addCleanup(set_registry, "")  # the prefix's own folders back for the suites after
        self.attempt(body, 1, None if "VEXALqa" in item + str(reached) else REMOVED,
                     None if item.startswith("shell:") else
                     lambda: self.link(host(self.expand(item)), target, os.link if hard else os.symlink))
        self.assertEqual(sorted(os.listdir(watched)), before, "a file appeared where the link leads")

    # The folder above the game is swapped for a link to a game-shaped tree outside once the
    # removal has begun (a leftover gone). Wine resolves opens relative to a folder through
    # the folder's path as it was opened, so what they find now lies outside and is left:
    # the run ends with 2 (on Windows the real game would go), the outside stays.
    def test_folder_above_swapped_for_a_link_after_the_judgement(self):
        temp, games, moved = host(GAME + r"\.vexal_temp"), host(r"C:\Games"), host(r"C:\Games.moved")

        def plant():
            for i in range(500):
                self.write(os.path.join(temp, f"part{i}.tmp"), b"")
            for name in ["bin\\game.exe"] + LEFTOVER_NAMES:
                self.canary(os.path.join(self.outside, "SpaceRace", *name.split("\\")))
            self.made.extend([moved, games])
            self.canaries[os.path.join(moved, "gu-canary.bin")] = self.canaries.pop(os.path.join(games, "gu-canary.bin"))
            self.during(lambda: len(os.listdir(temp)) < 501, lambda: (os.rename(games, moved), os.symlink(self.outside, games)))
        self.attempt(record(), 2, None, plant, left=ANYTHING)

    # A link to a tree with a combined manifest appears at the game's name once the game is
    # gone; the step that runs after the folder has nothing to find.
    def test_link_at_the_game_name_once_the_folder_is_gone(self):
        self.attempt(record(), 1, REMOVED, lambda: self.during(lambda: not os.path.lexists(host(GAME)),
                                                               lambda: os.symlink(self.outside, host(GAME))), left=ANYTHING)

    # A second name in the game of a read-only file elsewhere: the name goes, the file keeps
    # its bytes and its read-only attribute.
    def test_hard_link_in_game_to_a_read_only_file_elsewhere(self):
        other = host(r"C:\windows\gu-readonly.bin")
        self.attempt(record(), 1, REMOVED, lambda: (self.canary(other), self.made.append(other), os.chmod(other, 0o444),
                                                    os.link(other, host(GAME + r"\bin\shared.dll"))))
        self.assertEqual(os.stat(other).st_mode & 0o777, 0o444, "the other name lost its read-only attribute")


add_rows(Hostile, REFUSED_FOLDERS, Hostile.refused)
add_rows(Hostile, LINKS_INSIDE, Hostile.inside)
add_rows(Hostile, NAMES, Hostile.names)
add_rows(Hostile, LINKED, Hostile.linked)


# (case, .reg lines over a complete record, record deleted while the question is up, code,
# the line's text before the key): the game is kept.
FAILED_READS = [
    ("record_deleted_between_question_and_yes_fails_with_3", "", True, 3, "Apps registry not found: "),
    ("title_of_another_type_fails_with_4", '\r\n"GameTitle"=dword:00000001', False, 4, "GameTitle not found in registry: "),
    ("no_game_path_fails_with_3", '\r\n"GamePath"=-', False, 3, "GamePath not found in registry: "),
]


class Faults(Case):
    def test_file_held_open_past_260_characters_fails_with_2(self):
        held, runs = GAME + "\\" + DEEP + r"\data.pak", []

        def plant():
            self.write(host(held), b"held")
            runs.append(self.hold("\\\\?\\" + held))
        self.attempt(record(), 2, TEMP_LINES + stays(DEEP + r"\data.pak"), plant, left=chain(DEEP + r"\data.pak"))
        pathlib.Path(R.work, "ready").write_text("release")
        self.assertEqual(runs[0].wait(30), 0, "the file was not held to the end")

    # A folder of the game held open without delete sharing (a command window inside it) is
    # still emptied; only the folder and the game folder stay.
    def test_folder_held_open_is_emptied_and_reported(self):
        held = GAME + r"\Content"
        self.attempt(record(), 2, TEMP_LINES + [error(REMOVAL, "Remove dir failed: " + p) for p in (held, GAME)] + [
            error("_deleteGameFolder", "Failed to delete game folder: " + GAME), failed(2)], lambda: self.hold(held),
            left=["Content"])

    # The log cannot be written (its folder missing, or the file held by another writer):
    # its lines are lost, the folder is not made, and the uninstall succeeds.
    def log_fault(self, held):
        earlier = BOM + b"earlier\r\n"

        def plant():
            if not held:
                return os.rmdir(log_dir())
            self.write(os.path.join(log_dir(), "GameUninstaller.log"), earlier)
            self.hold(R.user + r"\AppData\Local\VEXALqa\Logs\GameUninstaller.log")
        self.attempt(record(), 1, None, plant)
        self.assertEqual((self.read_log(), os.path.exists(log_dir())), (earlier, True) if held else (None, False))

    # chattr +i makes the file's read-only attribute impossible to clear.
    def test_immutable_file_ends_with_2_through_the_worker(self):
        locked, name = host(GAME + r"\bin\save.dat"), GAME + r"\bin\save.dat"

        def plant():
            os.chmod(self.write(locked, b"save"), 0o444)
            if subprocess.run(["chattr", "+i", locked], stderr=subprocess.DEVNULL).returncode:
                self.skipTest("this file system cannot make a file immutable")
            self.immutables.append(locked)
        self.attempt(record(), 2, TEMP_LINES + [error("_worker", "[_worker] filesystem_error: filesystem error: "
                     f"permissions: Access denied [{name}] path1={name} path2="), failed(2)], plant, left=ANYTHING)
        self.assertTrue(os.path.exists(locked))

    def failed_read(self, values, delete, code, message):
        self.attempt(record() + values, code, [error(READ_INFO, message + RECORD), failed(code)],
                     before_yes=(lambda: wine(["reg", "delete", RECORD_QA, "/f"])) if delete else None,
                     key=None if delete else RECORD_QA)

    # A key with a subkey cannot be deleted and stays; the entry goes from the view it is in.
    def test_record_with_a_subkey_stays_and_the_entry_goes_from_the_32_bit_view(self):
        entry = UNINSTALL_32 + r"\Vexal_qa App 77"
        self.attempt(record() + f"\r\n\r\n[{RECORD_QA}\\Sub]\r\n\r\n[{entry}]", 1,
                     TEMP_LINES + [deleted(ENTRY), error("_regDeleteKey", f"Failed to delete registry key: {RECORD} (5)")],
                     key=entry)
        self.assertTrue(key_exists(RECORD_QA))


add_rows(Faults, [("missing_log_folder_is_not_made", False), ("log_held_by_another_writer", True)], Faults.log_fault)
add_rows(Faults, FAILED_READS, Faults.failed_read)
SUITES = {"e2e": Program, "hostile": Hostile, "faults": Faults}


def main():
    parser = argparse.ArgumentParser(description="The end-to-end suites under Wine")
    for name in ("suite", "exe", "driver", "summary"):
        parser.add_argument("--" + name, required=name != "summary")
    args, rest = parser.parse_known_args()
    R.drive_c = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c")
    if not os.path.isdir(R.drive_c) or not os.environ.get("DISPLAY"):
        sys.exit("e2e: WINEPREFIX and DISPLAY must be set; run through scripts/with-wine-rig")
    users, own = [n for n in os.listdir(os.path.join(R.drive_c, "users")) if n != "Public"], pwd.getpwuid(os.getuid()).pw_name
    R.user = "C:\\users\\" + (own if own in users else users[0])
    R.user_dir, R.work = host(R.user), host(r"C:\gu-e2e")
    os.makedirs(R.work, exist_ok=True)
    for program, name in ((args.driver, "boxdriver.exe"), (args.exe, "GameUninstaller.exe")):
        shutil.copyfile(program, os.path.join(R.work, name))
    ok = unittest.main(argv=[sys.argv[0]] + rest, defaultTest=SUITES[args.suite].__name__, verbosity=2,
                       exit=False).result.wasSuccessful()
    if args.summary:
        with open(args.summary, "a") as f:
            f.write(f"SAFETY suite={args.suite} " + " ".join(f"{k}={v}" for k, v in STATS.items())
                    + f" status={'passed' if ok else 'failed'}\n")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
