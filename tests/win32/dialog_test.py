#!/usr/bin/env python3
"""Dialog tests of VelquorMigrate.exe under Wine and Xvfb.

    dialog_test.py --program EXE --probe EXE [--runner wine]
                   [--artifacts DIR] [unittest args]

Each scenario writes the registry keys of a generated source installation
and target into the Wine prefix, starts the program, drives it with the
keyboard through xdotool and reads its windows back with window_probe.exe.
Uses $DISPLAY, or starts its own Xvfb when none is set.
"""

import argparse
import faulthandler
import glob
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

PROGRAM = None
PROBE = None
RUNNER = ["wine"]
ARTIFACTS = None
VERSION = None

SOURCE_KEY = r"HKLM\SYSTEM\ControlSet001\Services\Velquor Server"
TARGET_KEY = r"HKLM\Software\Solvane Tarnwick\Server"
DIALOG_CAPTION = ("Velquor => Tarnwick 迁移工具  (Build 2013/06/07) "
                  "For Tarnwick4.9 以上版本")
MESSAGE_CAPTION = "VelquorMigrate"
SUCCESS = "Velquor => Tarnwick 转移成功！"
START_IDLE = "开始转移(&S)"
START_RUNNING = "迁移中请等待..."
ABOUT_CAPTION = "关于 Velquor"
WM_CLOSE = 16
PBM_GETPOS = 1032
LVM_GETITEMCOUNT = "4100"
LVM_GETTOPINDEX = "4135"
LVM_GETCOUNTPERPAGE = "4136"
WORK_FOLDER = "工作"
RECORDS = "迁移报告"
STOPPED = "迁移已停止。"
# What a run locks: start, preview, verify, save, the password options,
# sync, the verification boxes and the undo.
LOCKED = ("1004", "1012", "1018", "1019", "1006", "1007", "1008", "1009",
          "1010", "1011", "1014", "1016", "1017", "1024", "1025", "1028")
UNDO_CAPTION = "撤销迁移"
UNDO_DONE = "撤销完成：该次运行添加的内容已全部删除"
LB_GETCOUNT = "395"
LOCK_WAITING = "正在等待其他程序释放配置文件锁:"
TIMEOUT = 60
# The whole suite ends by then, below ctest's own limit: the watchdog says
# where it stood and kills every process the suite started, so that none is
# left holding ctest's output open.
SUITE_LIMIT = 540


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("gbk") if isinstance(data, str) else data)


def md5(text):
    return "{md5}" + hashlib.md5(text.encode("gbk")).hexdigest()


def wine(*args, check=True, env=None):
    result = subprocess.run(RUNNER + list(args), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, timeout=TIMEOUT,
                            env=env)
    if check and result.returncode != 0:
        raise AssertionError("%s failed: %d" % (args, result.returncode))
    return result.stdout.decode("utf-8", "replace")


def reg_set(key, value, data, view="64"):
    """Writes the value into the 64-bit view of the registry, or with
    view "32" into the 32-bit view, where a 32-bit installer's keys lie."""
    wine("reg", "add", key, "/v", value, "/t", "REG_EXPAND_SZ", "/d", data,
         "/f", "/reg:" + view)


def reg_delete(key):
    for view in ("32", "64"):
        wine("reg", "delete", key, "/f", "/reg:" + view, check=False)


def tool(args):
    """Runs an X tool and returns its output. None of them is left the
    suite's own output: one the suite could not wait for would keep ctest
    waiting after the suite ended."""
    result = subprocess.run(args, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=TIMEOUT)
    if result.returncode != 0:
        raise AssertionError("%s failed: %s" % (
            " ".join(args[:2]), result.stderr.decode("utf-8", "replace")))
    return result.stdout


def probe(*args):
    return wine(PROBE, *args, check=False)


def top_windows():
    """(handle, class, caption) of every visible top-level window."""
    rows = []
    for line in probe("windows").splitlines():
        parts = line.split("\t")
        if len(parts) == 3:
            rows.append(tuple(parts))
    return rows


def wait_for(predicate, what):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        found = predicate()
        if found:
            return found
        time.sleep(0.3)
    raise AssertionError("timed out waiting for " + what)


def wait_window(caption):
    def find():
        for handle, _, text in top_windows():
            if text == caption:
                return handle
        return None
    return wait_for(find, "window " + caption)


def press(caption, key):
    """Focuses the X window of that exact caption and presses a key."""
    pattern = "^" + caption.replace("(", r"\(").replace(")", r"\)") + "$"
    xid = tool(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                pattern]).split()[0].decode()
    tool(["xdotool", "windowfocus", "--sync", xid])
    tool(["xdotool", "key", key])


def dismiss_message(expected, icon=None):
    """Waits for the program's message box, checks its text (and icon),
    presses Enter (its default button)."""
    handle = wait_window(MESSAGE_CAPTION)
    texts = probe("texts", handle).splitlines()
    if not any(t.startswith(expected) for t in texts):
        raise AssertionError("message %r not among %r" % (expected, texts))
    if icon is not None and icon_kind(handle) != icon:
        raise AssertionError("message %r without the %s icon" % (expected, icon))
    press(MESSAGE_CAPTION, "Return")
    wait_for(lambda: all(c != MESSAGE_CAPTION for _, _, c in top_windows())
             or None, "the message box to close")


def wait_box(expected, other_than=None):
    """The handle of the program's message box whose text starts with
    `expected` (and that is not `other_than`)."""
    def find():
        for handle, _, caption in top_windows():
            if caption == MESSAGE_CAPTION and handle != other_than and any(
                    t.startswith(expected)
                    for t in probe("texts", handle).splitlines()):
                return handle
        return None
    return wait_for(find, "message " + expected)


def answer(handle, button):
    """Presses a message box's button by its command (IDOK 1, IDNO 7):
    with two programs' boxes open, no keyboard focus is needed."""
    probe("post", handle, "273", str(button))
    wait_for(lambda: all(h != handle for h, _, _ in top_windows()) or None,
             "the message box to close")


CONFIRM = "即将迁移到已安装的 Tarnwick，写入它的配置文件和邮件存储:"
CONFIRM_SYNC = "即将把源中新到的邮件复制到目标中已有的帐户"


def confirm_start(yes=True, sync=False):
    """Answers the question a migration (with `sync`, one that copies new
    mail) into an installed target asks first; returns its text."""
    handle = wait_box(CONFIRM_SYNC if sync else CONFIRM)
    text = probe("texts", handle)
    answer(handle, 6 if yes else 7)  # IDYES, IDNO
    return text


def size_of(window, control):
    left, top, right, bottom = (
        int(v) for v in probe("rect", window, control).split()[:4])
    return right - left, bottom - top


def crop(rect, path):
    """A screenshot of the screen rectangle "left top right bottom"."""
    left, top, right, bottom = (int(v) for v in rect.split()[:4])
    tool(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (
        right - left, bottom - top, left, top), path])
    return path


def icon_kind(handle):
    """The system icon of a message box, told by its colours: the blue
    "i" of information, the yellow warning triangle, the red error disc."""
    rect = probe("icon", handle).strip()
    if rect == "none":
        return "none"
    path = crop(rect, os.path.join(tempfile.gettempdir(),
                                   "vm_icon_%d.png" % os.getpid()))
    mean = tool(["convert", path, "-alpha", "off", "-format",
                 "%[fx:mean.r] %[fx:mean.g] %[fx:mean.b]", "info:"]).split()
    os.remove(path)
    r, g, b = (float(v) for v in mean)
    if b > r + 0.1:
        return "information"
    return "warning" if g > b + 0.15 else "error"


def screenshot(name):
    if ARTIFACTS:
        os.makedirs(ARTIFACTS, exist_ok=True)
        tool(["import", "-window", "root", os.path.join(ARTIFACTS, name)])


def tree(top, skip=None):
    """Relative path -> MD5 of every file under top, outside `skip`."""
    files = {}
    for folder, dirs, names in os.walk(top):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != skip]
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, top)] = hashlib.md5(
                    f.read()).hexdigest()
    return files


def list_lines(dialog):
    return probe("list", dialog, "1005").splitlines()


def end_status(dialog):
    """The status line once the dialog has seen its run end."""
    return wait_for(lambda: (lambda t: t if "已结束。" in t else None)(
        probe("text", dialog, "1022").strip()), "the status of the end")


def user_names(tgt):
    with open(os.path.join(tgt, "data", "userauth.cfg"), "rb") as f:
        text = f.read().decode("gbk")
    return [part.split("</name>")[0] for part in text.split("<name>")[1:]]


def lines_removed(lines, prefix="已删除:"):
    return [l[len(prefix):] for l in lines if l.startswith(prefix)]


def own(files):
    """The files but for the run records and the run lock a migration
    leaves in the target's data folder."""
    return {k: v for k, v in files.items()
            if not re.search(r"velquor-migrate(-runs/|\.lock$)", k)}


def make_big_source(root, accounts=20, messages=25):
    """Two domains of accounts with 4 KB messages in their inboxes (enough
    that the screenshot of a run shows it under way). Returns the image
    path and the mail store an uninterrupted run makes (relative path ->
    MD5)."""
    src = os.path.join(root, "velquor")
    users, store = "", {}
    for i in range(accounts):
        user = "u%02d" % i if i % 2 else "v%02d@b.org" % i
        users += user + ("\tc\ta.com\r\n" if i % 2 else "\tc\tx\tb.org\r\n")
        for m in range(messages):
            data = os.urandom(4000)
            write(os.path.join(src, "mail", user, "%d.in" % m), data)
            store[os.path.join(user, "INBOX", "%d.in" % m)] = \
                hashlib.md5(data).hexdigest()
    write(os.path.join(src, "domain.ini"), "a.com\r\nb.org\r\n")
    write(os.path.join(src, "popusers.ini"), users)
    return windows_path(os.path.join(src, "server.exe")), store


def make_source(root):
    """A source installation with two domains, two accounts and mail in a
    standard and a user-made folder. Returns the image path to register."""
    src = os.path.join(root, "velquor")
    write(os.path.join(src, "domain.ini"), "example.com\r\nsecond.org\r\n")
    write(os.path.join(src, "popusers.ini"),
          "Alice\tc1\texample.com\t\r\nbob@second.org\tc2\tnone\tsecond.org\r\n")
    alice = os.path.join(src, "mail", "alice")
    write(os.path.join(alice, "1.in"), "hello")
    # The eighth field 1 gives the sized target name.
    write(os.path.join(alice, "__r_in.ini"),
          "1.in" + "\x0c\tx" * 6 + "\x0c\t1\r\n")
    write(os.path.join(alice, "Folders.ini"), WORK_FOLDER + "\t0\r\n")
    write(os.path.join(alice, "7.0"), "work mail")
    write(os.path.join(src, "mail", "bob@second.org", "2.sed"), "sent")
    return windows_path(os.path.join(src, "server.exe")), src


class HeldLock:
    """A configuration file's lock, taken from a Windows process of the
    test's own as another program would hold it: a run that needs the file
    waits (and says so) until release()."""

    def __init__(self, file_name):
        self.process = subprocess.Popen(
            RUNNER + [PROBE, "hold", "Tarnwick_" + file_name],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        # The probe says "held" once it has the lock; one that waits for
        # it fails the scenario after TIMEOUT instead of stalling it.
        said = []
        reader = threading.Thread(
            target=lambda: said.append(self.process.stdout.readline()),
            daemon=True)
        reader.start()
        reader.join(TIMEOUT)
        if not said or said[0].strip() != b"held":
            raise AssertionError("cannot take the lock of " + file_name)

    def release(self):
        self.process.stdin.close()
        self.process.wait(timeout=TIMEOUT)
        self.process.stdout.close()

    def __del__(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def wait_lock_notice(dialog, file_name):
    """Waits until the run says it waits for the lock: it is blocked."""
    wait_for(lambda: any(l.startswith(LOCK_WAITING + file_name)
                         for l in list_lines(dialog)) or None,
             "the run to wait for the lock of " + file_name)


def make_target(root):
    tgt = os.path.join(root, "tarnwick")
    write(os.path.join(tgt, "data", "system.cfg"),
          "<database>\r\n<charset>utf-8</charset>\r\n</database>")
    return tgt


class DialogTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vm_dialog_")
        self.process = None
        self.others = []

    def tearDown(self):
        for process in [self.process] + self.others:
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def install(self):
        """A source and a target installation, found through the registry;
        returns the target's folder."""
        image_path, _ = make_source(self.root)
        tgt = make_target(self.root)
        reg_set(SOURCE_KEY, "ImagePath", image_path)
        reg_set(TARGET_KEY, "ProgPath", windows_path(tgt))
        return tgt

    def start(self, env=None):
        # A copy of its own: the records go to a folder beside the program.
        self.bin = os.path.join(self.root, "bin")
        os.makedirs(self.bin, exist_ok=True)
        program = os.path.join(self.bin, os.path.basename(PROGRAM))
        if not os.path.exists(program):  # never over a running copy
            shutil.copy(PROGRAM, program)
        process = subprocess.Popen(
            RUNNER + [program], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, env=env)
        if self.process is None:
            self.process = process
        else:
            self.others.append(process)

    def records(self, kind):
        """(log lines, report) of each record of that kind, oldest first."""
        found = []
        for log in sorted(glob.glob(os.path.join(self.bin, RECORDS,
                                                 "*-%s.log" % kind))):
            with open(log, encoding="utf-8-sig") as f:
                text = f.read()
            with open(log[:-4] + ".json", encoding="utf-8") as f:
                found.append((text.split("\n"), json.load(f)))
        return found

    def assert_logged(self, kind, lines):
        """The last record of `kind` holds the list (but for its last line,
        which names the record) after its header."""
        log, report = self.records(kind)[-1]
        # The list lies between the head's and the end's "== " lines.
        listed = [i for i, l in enumerate(log) if not l.startswith("== ")]
        self.assertEqual(log[listed[0]:listed[-2] + 1], lines[:-1])
        self.assertEqual(log[-1], "")
        self.assertRegex(log[-2], r"^== ended \S+Z: ")
        self.assertTrue(lines[-1].startswith("运行记录已保存:"))
        return report

    def assert_exits(self):
        self.assertIsNotNone(self.process.wait(timeout=TIMEOUT))
        self.process = None

    def test_enter_migrates_and_lists_the_results(self):
        image_path, src = make_source(self.root)
        tgt = make_target(self.root)
        reg_set(SOURCE_KEY, "ImagePath", image_path)
        reg_set(TARGET_KEY, "ProgPath", windows_path(tgt) + "\\")
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        self.assertEqual(probe("text", dialog, "1002").strip(),
                         windows_path(tgt))
        self.assertEqual(probe("text", dialog, "1003").strip(),
                         windows_path(tgt) + "\\store")
        self.assertEqual(probe("enabled", dialog, "1010").strip(), "0")

        press(DIALOG_CAPTION, "Return")
        self.assertIn("还没有预览。", confirm_start())
        dismiss_message(SUCCESS)
        wait_for(lambda: probe("text", dialog, "1004").strip() == START_IDLE
                 or None, "the start button to return to idle")
        self.assertEqual(probe("enabled", dialog, "1004").strip(), "1")

        lines = probe("list", dialog, "1005").splitlines()
        self.assertEqual(lines[:2], ["*" * 34, "域名转移开始"])
        self.assertIn("导入域名:example.com", lines)
        self.assertIn("导入域名:second.org", lines)
        self.assertIn(" " * 9 + WORK_FOLDER + "文件夹转移成功!", lines)
        self.assertEqual(lines[-3:-1],
                         ["本次成功迁移:", "域名 2，用户数 2，邮件总数 3"])
        report = self.assert_logged("migrate", lines)
        self.assertTrue(report["totals"]["succeeded"])
        screenshot("dialog_after_run.png")

        with open(os.path.join(tgt, "data", "userauth.cfg"), "rb") as f:
            users = f.read().decode("gbk")
        # The dialog's default password option reaches the run; the mail
        # reaches the store shown in the dialog (names and folders are the
        # unit tests' and the command-line sample's).
        self.assertIn("<password>%s</password>" % md5("alice"), users)
        store = os.path.join(tgt, "store")
        for relative in (("alice", "INBOX", "1.in,S=5.0.S"),
                         ("alice", WORK_FOLDER, "7.0"),
                         ("bob@second.org", "Sent", "2.sed")):
            self.assertTrue(os.path.isfile(os.path.join(store, *relative)),
                            relative)

        # A sync with new mail in one folder of one account lists only that
        # folder (ticking the sync box ticks the changes-only box); the
        # log and the report keep both accounts.
        write(os.path.join(src, "mail", "alice", "8.0"), "more work")
        self.assertEqual(probe("checked", dialog, "1024").strip(), "0")
        probe("click", dialog, "1014")
        self.assertEqual(probe("checked", dialog, "1024").strip(), "1")
        press(DIALOG_CAPTION, "Return")
        confirm_start(sync=True)
        dismiss_message(SUCCESS)
        end_status(dialog)
        lines = list_lines(dialog)
        heads = [l for l in lines if l.startswith("同步帐户:")]
        self.assertEqual(len(heads), 1, lines)
        self.assertIn("alice", heads[0].lower())
        folders = [l for l in lines if l.startswith(" " * 9)]
        self.assertEqual(len(folders), 1, lines)
        self.assertTrue(folders[0].startswith(" " * 9 + WORK_FOLDER), folders)
        log, report = self.records("migrate")[-1]
        # Bob's mailbox is listed or, once its record is past the clock's
        # doubt, skipped; Alice's, with new mail, is always listed.
        log_heads = [l for l in log if l.startswith("同步帐户:")]
        self.assertIn("alice", " ".join(log_heads).lower(), log)
        self.assertLessEqual(len(log_heads), 2, log)
        self.assertEqual(len(report["accounts"]), 2)
        self.assertTrue(report["options"]["changes_only"])

        # With 同步删除和移动 ticked, a message deleted on the source (alice's)
        # goes to the pass's holding folder and one moved to Trash (bob's)
        # stays in its new folder only; each folder that lost one has its
        # line, and nothing else of the store goes.
        os.remove(os.path.join(src, "mail", "alice", "1.in"))
        bob = os.path.join(src, "mail", "bob@second.org")
        os.rename(os.path.join(bob, "2.sed"), os.path.join(bob, "2.del"))
        probe("click", dialog, "1029")
        self.assertEqual(probe("checked", dialog, "1029").strip(), "1")
        press(DIALOG_CAPTION, "Return")
        confirm_start(sync=True)
        dismiss_message(SUCCESS)
        end_status(dialog)
        self.assertEqual([l.strip() for l in list_lines(dialog) if "移走" in l],
                         ["收件箱移走 1 封（源中已删除）",
                          "发件箱移走 1 封（源中已删除）"])
        held = os.path.join(tgt, "data", "velquor-migrate-runs", "*.held")
        self.assertEqual(
            sorted(os.path.relpath(p, os.path.dirname(held)).split(os.sep)[1:]
                   for p in glob.glob(os.path.join(held, "*", "*", "*"))),
            [["alice", "INBOX", "1.in,S=5.0.S"],
             ["bob@second.org", "Sent", "2.sed"]])
        self.assertEqual(
            sorted(os.path.relpath(os.path.join(d, f), store)
                   for d, _, files in os.walk(store) for f in files),
            [os.path.join("alice", WORK_FOLDER, n) for n in ("7.0", "8.0")] +
            [os.path.join("bob@second.org", "Trash", "2.del")])

        press(DIALOG_CAPTION, "Escape")
        self.assert_exits()

    def test_chinese_texts_on_a_system_of_another_code_page(self):
        # Wine's ANSI code page follows the locale: an English system's.
        # The run's GBK texts, names and folders still show and arrive.
        english = dict(os.environ, LANG="en_US.UTF-8", LC_ALL="en_US.UTF-8")
        self.assertNotEqual(wine(PROBE, "acp", env=english).strip(), "936")
        tgt = self.install()
        self.start(env=english)
        dialog = wait_window(DIALOG_CAPTION)
        # (Wine names the X window in the locale's encoding: no xdotool.)
        probe("post", dialog, "273", "1004")
        confirm_start()
        answer(wait_box(SUCCESS), 1)
        lines = list_lines(dialog)
        self.assertEqual(lines[:2], ["*" * 34, "域名转移开始"])
        self.assertIn(" " * 9 + WORK_FOLDER + "文件夹转移成功!", lines)
        self.assertEqual(probe("text", dialog, "1004").strip(), START_IDLE)
        self.assertTrue(os.path.isfile(
            os.path.join(tgt, "store", "alice", WORK_FOLDER, "7.0")))
        screenshot("dialog_english_system.png")
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    # Faults: a watch that copies nothing new, lists every account, shows
    # no status between passes, or whose clean stop is taken for a failure.
    def test_a_watch_follows_the_source_until_stopped(self):
        tgt = self.install()
        mail = os.path.join(self.root, "velquor", "mail", "alice")
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        probe("click", dialog, "1028")
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        wait_for(lambda: probe("text", dialog, "1022").startswith("源自 ")
                 or None, "the status between passes")
        self.assertEqual(probe("enabled", dialog, "1013", "1028").strip(), "10")
        write(os.path.join(mail, "tmp.part"), "new mail")
        os.rename(os.path.join(mail, "tmp.part"), os.path.join(mail, "9.in"))
        copy = os.path.join(tgt, "store", "alice", "INBOX", "9.in")
        wait_for(lambda: os.path.exists(copy) or None, "the new message")
        write(os.path.join(mail, "tmp.part"), "just before the stop")
        os.rename(os.path.join(mail, "tmp.part"), os.path.join(mail, "10.in"))
        probe("click", dialog, "1013")
        dismiss_message(SUCCESS, "information")
        self.assertTrue(os.path.exists(copy[:-4] + "10.in"))
        lines = list_lines(dialog)
        passes = [l for l in lines if re.match(r"第 \d+ 次同步：新增 \d+ 封", l)]
        self.assertGreaterEqual(len(passes), 3, lines)
        self.assertEqual(lines[-2], "持续同步已停止：停止之后又做了一次同步，"
                                    "停止前到达的邮件都已复制。")
        totals = self.assert_logged("migrate", lines)["totals"]
        self.assertTrue(totals["stopped"] and totals["succeeded"])
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_a_second_window_on_the_same_target_is_refused(self):
        image_path, expected = make_big_source(self.root)
        tgt = make_target(self.root)
        reg_set(SOURCE_KEY, "ImagePath", image_path)
        reg_set(TARGET_KEY, "ProgPath", windows_path(tgt))
        self.start()
        first = wait_window(DIALOG_CAPTION)
        self.start()
        second = wait_for(lambda: next(
            (h for h, _, c in top_windows() if c == DIALOG_CAPTION and
             h != first), None), "the second window")
        # The first run cannot end while another program holds the user
        # list's lock: the second start meets its run lock.
        held = HeldLock("userauth.cfg")
        probe("post", first, "273", "1004")
        confirm_start()
        wait_lock_notice(first, "userauth.cfg")
        # The second start asks whether to wait, naming the first window's
        # process as the holder; not waiting refuses the run.
        probe("post", second, "273", "1004")
        confirm_start()
        busy = "目标正由另一次运行使用，请等它结束后再运行。使用者:"
        question = wait_box(busy)
        text = "".join(probe("texts", question).splitlines())
        self.assertIn("，进程 %d，" % int(probe("pid", first)), text)
        self.assertIn("迁移对话框程序", text)
        answer(question, 7)  # No
        answer(wait_box(busy, other_than=question), 1)
        held.release()
        answer(wait_box(SUCCESS), 1)
        self.assertEqual(tree(os.path.join(tgt, "store")), expected)
        self.assertEqual(len(self.records("migrate")), 1)
        for window in (first, second):
            probe("post", window, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_a_maximised_window_grows_the_list_and_opens_so_again(self):
        self.install()
        self.addCleanup(wine, "reg", "delete", r"HKCU\Software\VelquorMigrate",
                        "/f", check=False)
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        listed = size_of(dialog, "1005")
        probe("post", dialog, "274", str(0xF030))  # SC_MAXIMIZE
        grown = wait_for(lambda: (lambda s: s if s[1] > listed[1] else None)(
            size_of(dialog, "1005")), "the list to grow")
        self.assertGreater(grown[0], listed[0])
        # The controls below the list moved down with the window's edge.
        list_bottom = int(probe("rect", dialog, "1005").split()[3])
        self.assertGreater(int(probe("rect", dialog, "1018").split()[1]),
                           list_bottom)
        self.assertLessEqual(int(probe("rect", dialog, "1022").split()[3]),
                             int(probe("rect", dialog, "0").split()[3]))
        self.assertEqual(probe("fits", dialog), "")
        screenshot("dialog_maximised.png")
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        wait_for(lambda: size_of(dialog, "1005") == grown or None,
                 "the window to open maximised")
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_keys_of_32_bit_installers_and_a_service_command_line(self):
        # The source lies on the system drive, in a folder with a blank,
        # named by a quoted service command line with an argument and a
        # variable; the target's key lies only in the 32-bit view.
        drive_c = os.path.join(os.environ.get("WINEPREFIX") or
                               os.path.expanduser("~/.wine"), "drive_c")
        root = tempfile.mkdtemp(prefix="vm dialog ", dir=drive_c)
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        make_source(root)
        tgt = make_target(self.root)
        relative = os.path.relpath(os.path.join(root, "velquor"), drive_c)
        source_dir = "C:\\" + relative.replace("/", "\\")
        reg_set(SOURCE_KEY, "ImagePath",
                '"%%SystemDrive%%\\%s\\server.exe" -service' %
                relative.replace("/", "\\"))
        reg_delete(TARGET_KEY)
        self.addCleanup(reg_delete, TARGET_KEY)
        reg_set(TARGET_KEY, "ProgPath", windows_path(tgt), view="32")
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        self.assertEqual(probe("text", dialog, "1000").strip(), source_dir)
        self.assertEqual(probe("text", dialog, "1002").strip(),
                         windows_path(tgt))
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        dismiss_message(SUCCESS)
        lines = probe("list", dialog, "1005").splitlines()
        self.assertEqual(lines[-2], "域名 2，用户数 2，邮件总数 3")
        press(DIALOG_CAPTION, "Escape")
        self.assert_exits()

    def test_password_options_and_a_close_refused_during_the_run(self):
        tgt = self.install()
        self.start()
        dialog = wait_window(DIALOG_CAPTION)

        def state():
            return tuple(probe(mode, dialog, str(control)).strip()
                         for mode, control in (("checked", 1006),
                                               ("enabled", 1010),
                                               ("enabled", 1011)))
        self.assertEqual(state(), ("1", "0", "0"))
        # (radio button clicked, suffix edit enabled, common edit enabled)
        for radio, suffix, common in ((1007, "1", "0"), (1008, "0", "1"),
                                      (1009, "0", "0"), (1006, "0", "0"),
                                      (1007, "1", "0")):
            probe("click", dialog, str(radio))
            self.assertEqual(state()[1:], (suffix, common), radio)
        probe("settext", dialog, "1010", "Xy1")
        probe("click", dialog, "1008")
        self.assertEqual(probe("text", dialog, "1010").strip(), "Xy1")
        # A password GBK cannot hold is refused, never migrated as "?".
        probe("settext", dialog, "1011", "pw\U0001F600")
        press(DIALOG_CAPTION, "Return")
        dismiss_message("密码文本中有代码页 CP936 无法表示的字符，请改用其他字符。",
                        "warning")
        self.assertEqual(list_lines(dialog), [])
        probe("click", dialog, "1007")

        # The About box from the system menu, over the open dialog.
        # Our entry is the menu's last; Wine adds one of its own with the
        # same access key.
        press(DIALOG_CAPTION, "alt+space")
        tool(["xdotool", "key", "End", "Return"])
        about = wait_window(ABOUT_CAPTION)
        # The program's version, as the project writes it once.
        texts = probe("texts", about).splitlines()
        self.assertTrue(any(t.startswith("velquor-migrate %s" % VERSION)
                            for t in texts), texts)
        press(ABOUT_CAPTION, "Return")
        wait_for(lambda: all(c != ABOUT_CAPTION for _, _, c in top_windows())
                 or None, "the About box to close")

        press(DIALOG_CAPTION, "Return")
        confirm_start()
        # While the success message is open the run is still active: the
        # button shows it, and closing the dialog is refused.
        wait_window(MESSAGE_CAPTION)
        self.assertEqual(probe("text", dialog, "1004").strip(), START_RUNNING)
        self.assertEqual(probe("enabled", dialog, "1004").strip(), "0")
        probe("post", dialog, str(WM_CLOSE), "0")
        dismiss_message(SUCCESS)
        wait_for(lambda: probe("text", dialog, "1004").strip() == START_IDLE
                 or None, "the start button to return to idle")
        self.assertIsNone(self.process.poll())
        self.assertIn(DIALOG_CAPTION, [c for _, _, c in top_windows()])

        with open(os.path.join(tgt, "data", "userauth.cfg"), "rb") as f:
            users = f.read().decode("gbk")
        self.assertIn("<password>%s</password>" % md5("aliceXy1"), users)

        # Idle again, the same close ends the program.
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_progress_locks_a_stop_and_a_second_start_that_completes(self):
        image_path, expected = make_big_source(self.root)
        tgt = make_target(self.root)
        store = os.path.join(tgt, "store")
        reg_set(SOURCE_KEY, "ImagePath", image_path)
        reg_set(TARGET_KEY, "ProgPath", windows_path(tgt))
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        self.assertEqual(probe("fits", dialog), "")
        # The whole dialog fits a 1024x768 screen at 96 DPI.
        self.assertLessEqual(size_of(dialog, "0"), (1024, 768))

        # Another program holds the user list's lock, and the list changed
        # since the window read it: the run must read it anew and waits
        # before its first account, however fast the machine.
        users_file = os.path.join(tgt, "data", "userauth.cfg")
        wait_for(lambda: os.path.exists(users_file), "the user list")
        held = HeldLock("userauth.cfg")
        stamp = os.stat(users_file).st_mtime + 10
        os.utime(users_file, (stamp, stamp))
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        wait_lock_notice(dialog, "userauth.cfg")
        # Everything the run reads or that starts a run is locked.
        self.assertEqual(probe("enabled", dialog, *LOCKED).strip(),
                         "0" * len(LOCKED))
        self.assertEqual(probe("enabled", dialog, "1013").strip(), "1")

        # Closing (here Esc) asks first; No goes on, the stop button stops.
        press(DIALOG_CAPTION, "Escape")
        handle = wait_window(MESSAGE_CAPTION)
        self.assertIn("正在迁移。要停止并关闭窗口吗？",
                      probe("texts", handle).splitlines())
        press(MESSAGE_CAPTION, "Return")  # No is the default
        probe("click", dialog, "1013")
        held.release()
        dismiss_message(STOPPED, "warning")
        screenshot("dialog_stopped.png")
        lines = list_lines(dialog)
        self.assertTrue(any(l.startswith("因停止而未处理的帐户数:")
                            for l in lines), lines[-6:])
        # The notice is the window's; the record holds the run's list.
        self.assert_logged("migrate", [l for l in lines
                                       if not l.startswith(LOCK_WAITING)])
        # The stop left nothing behind: no user, no mailbox, nothing staged.
        self.assertEqual(user_names(tgt), [])
        self.assertEqual(os.listdir(store) if os.path.isdir(store) else [], [])
        # One instruction after a stop: the end message's (start again),
        # no note asking to tick the sync box.
        self.assertEqual(probe("text", dialog, "1015").strip(), "")

        # A second Start, the lock held again: the run says it waits for
        # the user list, its options locked; once the lock is let go it
        # completes as the bar moves: the store of one whole run, every
        # user once, the note on the accounts it made.
        held = HeldLock("userauth.cfg")
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        wait_lock_notice(dialog, "userauth.cfg")
        self.assertTrue(probe("text", dialog, "1022").startswith("帐户"))
        self.assertEqual(probe("enabled", dialog, *LOCKED).strip(),
                         "0" * len(LOCKED))
        screenshot("dialog_running.png")
        held.release()
        positions = []

        def moved():
            positions.append(int(probe("send", dialog, "1021",
                                       str(PBM_GETPOS), "0")))
            return positions[-1] > 0 or None
        wait_for(moved, "the progress bar to move")
        self.assertEqual(positions, sorted(positions))
        dismiss_message(SUCCESS, "information")
        accounts = len({p.split(os.sep)[0] for p in expected})
        self.assertRegex(end_status(dialog),
                         r"^迁移已结束。帐户 %d/%d，邮件 (\d+)/\1，"
                         % (accounts, accounts))
        self.assertEqual(
            probe("send", dialog, "1021", str(PBM_GETPOS), "0").strip(), "1000")
        wait_for(lambda: "已有本源的帐户 %d 个" % accounts
                 in probe("text", dialog, "1015") or None,
                 "the note on existing accounts")
        self.assertEqual(tree(store), expected)
        self.assertEqual(sorted(user_names(tgt)),
                         sorted(p.split(os.sep)[0].split("@")[0]
                                for p in expected if os.path.basename(p) == "0.in"))
        reports = [r for _, r in self.records("migrate")]
        self.assertEqual([r["totals"]["stopped"] for r in reports],
                         [True, False])

        # The run scrolled to its end and left no line highlighted.
        rect = probe("rect", dialog, "1005")
        count, top_line, page = (int(probe("send", dialog, "1005", m, "0"))
                                 for m in (LVM_GETITEMCOUNT, LVM_GETTOPINDEX,
                                           LVM_GETCOUNTPERPAGE))
        self.assertGreaterEqual(top_line + page, count)
        colour = rect.split()[4]
        shot = crop(rect, os.path.join(self.root, "list.png"))
        highlighted = tool(
            ["convert", shot, "-alpha", "off", "-fill", "black", "+opaque",
             "#" + colour, "-fill", "white", "-opaque", "#" + colour,
             "-format", "%[fx:int(mean*w*h+0.5)]", "info:"])
        self.assertEqual(highlighted.strip(), b"0")
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_preview_writes_nothing_and_a_refused_start_keeps_the_list(self):
        tgt = self.install()
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        before = tree(self.root, skip=self.bin)
        probe("click", dialog, "1012")
        dismiss_message("预览完成，未写入任何文件。", "information")
        screenshot("dialog_preview.png")
        # What a preview would copy, never what it copied.
        status = end_status(dialog)
        self.assertRegex(status,
                         r"^预览已结束。帐户 2/2，邮件 (\d+)/\1，预计复制 ")
        self.assertNotIn("已复制", status)
        self.assertEqual(tree(self.root, skip=self.bin), before)
        lines = list_lines(dialog)
        for line in ("预览计划（未写入任何文件）", "将添加的域名数:2",
                     "    alice@example.com: 添加，复制邮件 2 封，14 字节"):
            self.assertIn(line, lines)
        report = self.assert_logged("preview", lines)
        self.assertTrue(report["options"]["dry_run"])
        self.assertEqual(len(report["accounts"]), 2)

        # Option 3 without its password: refused before the run starts,
        # with a warning, and the list stays.
        probe("click", dialog, "1008")
        press(DIALOG_CAPTION, "Return")
        dismiss_message("密码不能为空且不能超过20个字符！", "warning")
        self.assertEqual(list_lines(dialog), lines)
        self.assertEqual(tree(self.root, skip=self.bin), before)
        # A migration asks first, with the preview's counts; No writes
        # nothing.
        probe("click", dialog, "1006")
        press(DIALOG_CAPTION, "Return")
        self.assertRegex(confirm_start(yes=False),
                         r"最近一次预览的计划:帐户 2/2，邮件 (\d+)/\1")
        self.assertEqual(tree(self.root, skip=self.bin), before)

        # Migrated, then undone from the dialog: the run's preview writes
        # nothing, the undo gives back the target byte for byte; a second
        # undo finds everything gone.
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        dismiss_message(SUCCESS)
        end_status(dialog)
        migrated = tree(tgt)
        self.undo_last_run(dialog, tgt, migrated)
        self.assertEqual(own(tree(self.root, skip=self.bin)), own(before))
        log, report = self.records("undo")[-1]
        self.assertTrue(report["complete"])
        self.assertEqual(len(report["items"]), len(lines_removed(log)))
        # An undone run is not offered again; the choice closes unused.
        undone = tree(tgt)
        probe("post", dialog, "273", "1025")
        choice = wait_window(UNDO_CAPTION)
        self.assertEqual(
            probe("send", choice, "1026", LB_GETCOUNT, "0").strip(), "0")
        press(UNDO_CAPTION, "Escape")
        wait_for(lambda: all(h != choice for h, _, _ in top_windows())
                 or None, "the empty choice to close")
        self.assertEqual(tree(tgt), undone)

        # Migrated again, for the undo closed below.
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        dismiss_message(SUCCESS)
        end_status(dialog)

        # Closed during an undo, which another program's hold on the user
        # list's lock keeps from ending: the status says what a stopped
        # undo waits for (removals, not a migration's copies), and the
        # window closes once it has ended.
        held = HeldLock("userauth.cfg")
        probe("post", dialog, "273", "1025")
        choice = wait_window(UNDO_CAPTION)
        press(UNDO_CAPTION, "Return")
        wait_for(lambda: all(h != choice for h, _, _ in top_windows())
                 or None, "the choice to close")
        press(DIALOG_CAPTION, "Escape")
        answer(wait_box("正在撤销。要停止并关闭窗口吗？"), 6)  # IDYES
        wait_for(lambda: probe("text", dialog, "1022").strip()
                 == "正在停止撤销：等待进行中的删除完成..." or None,
                 "the stopping undo's status")
        held.release()
        self.assert_exits()

    def undo_last_run(self, dialog, tgt, state):
        """Undoes the dialog's one migration: chooses it, checks the
        preview (which writes nothing) and confirms. It declines once
        before: nothing removed, the list keeps the preview, and the next
        preview says the same."""
        declined = None
        for yes in [False, True]:
            probe("post", dialog, "273", "1025")  # a click, without waiting
            choice = wait_window(UNDO_CAPTION)
            # One run to choose: the migration (a preview keeps no manifest).
            self.assertEqual(
                probe("send", choice, "1026", LB_GETCOUNT, "0").strip(), "1")
            press(UNDO_CAPTION, "Return")
            question = wait_box("即将撤销所选的运行")
            preview = list_lines(dialog)
            self.assertEqual(preview[-1], "预览完成，未删除任何内容")
            self.assertTrue(lines_removed(preview, "将删除:"), preview)
            self.assertFalse(lines_removed(preview), preview)
            self.assertEqual(own(tree(tgt)), own(state))
            if declined is not None:
                self.assertEqual(preview, declined)
            if not yes:
                screenshot("dialog_undo.png")
                answer(question, 7)  # IDNO
                wait_for(lambda: probe("enabled", dialog, "1025").strip()
                         == "1" or None, "the undo to end")
                self.assertEqual(list_lines(dialog), preview)
                declined = preview
        answer(question, 6)  # IDYES
        dismiss_message(UNDO_DONE, "information")
        lines = list_lines(dialog)
        self.assertEqual(lines[-2], UNDO_DONE)
        self.assertTrue(lines[-1].startswith("运行记录已保存:"))
        self.assertEqual(lines_removed(lines), lines_removed(preview, "将删除:"))

    def test_a_rerun_without_sync_says_what_it_left_and_asks_as_it_runs(self):
        """Four accounts the target holds after a first run, new mail in two
        of them: the plain run again copies none of it and ends saying so
        and how to copy it; the questions before each run say what that run
        does, a preview made stale by a migration since included."""
        self.install()
        src = os.path.join(self.root, "velquor")
        for user in ("carol", "dave"):
            write(os.path.join(src, "mail", user, "1.in"), user)
        with open(os.path.join(src, "popusers.ini"), "a") as f:
            f.write("carol\tc3\texample.com\r\ndave\tc4\texample.com\r\n")
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        probe("click", dialog, "1012")
        dismiss_message("预览完成，未写入任何文件。")
        end_status(dialog)
        press(DIALOG_CAPTION, "Return")
        self.assertIn("最近一次预览的计划:", confirm_start())
        dismiss_message(SUCCESS)
        end_status(dialog)

        for name in ("8.in", "9.0"):
            write(os.path.join(src, "mail", "alice", name), "new " + name)
        write(os.path.join(src, "mail", "carol", "2.sed"), "new sent")
        press(DIALOG_CAPTION, "Return")
        text = confirm_start()
        self.assertIn("最近一次预览之后已运行过迁移，预览的计划已过时。", text)
        self.assertNotIn("还没有预览", text)
        self.assertIn("要开始迁移吗？", text)
        behind = ("目标中已存在的帐户数:4，其中有新邮件未复制的帐户 2 个、邮件 3 封；"
                  "勾选“只复制新邮件”后再次开始即可复制")
        box = wait_box("迁移已结束，但未全部成功。")
        self.assertIn(behind, probe("texts", box).splitlines())
        dismiss_message("迁移已结束，但未全部成功。", "warning")
        end_status(dialog)
        self.assertEqual(list_lines(dialog)[-2], behind)

        probe("click", dialog, "1014")  # only new mail
        press(DIALOG_CAPTION, "Return")
        self.assertIn("要开始复制新邮件吗？", confirm_start(sync=True))
        dismiss_message(SUCCESS)
        end_status(dialog)
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_verification_a_saved_report_and_copied_lines(self):
        tgt = self.install()
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        probe("click", dialog, "1016")  # verify after the run
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        dismiss_message(SUCCESS, "information")
        self.assertIn("邮件校验结束", list_lines(dialog))

        # The report of the last run where the user chooses, as CSV.
        probe("post", dialog, "273", "1019")  # a click, without waiting
        wait_window("保存报告")
        press("保存报告", "ctrl+a")
        csv = os.path.join(self.root, "switch.csv")
        tool(["xdotool", "type", windows_path(csv)])
        press("保存报告", "Return")
        wait_for(lambda: os.path.exists(csv) or None, "the saved report")
        with open(csv, encoding="utf-8-sig") as f:
            self.assertEqual(f.readline().split(",")[:3],
                             ["user", "domain", "outcome"])

        # A click on a line selects it; Ctrl+C copies it.
        lines = list_lines(dialog)
        left, top = probe("rect", dialog, "1005").split()[:2]
        first = int(probe("send", dialog, "1005", LVM_GETTOPINDEX, "0"))
        tool(["xdotool", "mousemove", str(int(left) + 30), str(int(top) + 8),
              "click", "1"])
        press(DIALOG_CAPTION, "ctrl+c")
        self.assertEqual(probe("clipboard").strip(), lines[first].strip())

        # A check of the migration writes nothing, whatever the password
        # options say, and names the message the target lost.
        os.remove(os.path.join(tgt, "store", "alice", "INBOX", "1.in,S=5.0.S"))
        probe("click", dialog, "1008")
        before = tree(self.root, skip=self.bin)
        probe("click", dialog, "1018")
        dismiss_message("校验未通过。", "warning")
        self.assertEqual(tree(self.root, skip=self.bin), before)
        self.assertRegex(end_status(dialog),
                         r"^校验已结束。帐户 2/2，已校验邮件 ([1-9]\d*)/\1 封"
                         r".*（按大小比较）$")
        self.assertTrue(any(l.strip().startswith("目标中缺少该邮件:")
                            for l in list_lines(dialog)))
        self.assertFalse(self.records("verify")[-1][1]["totals"]["succeeded"])
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()

    def test_nothing_is_clipped_at_144_dpi(self):
        tgt = self.install()
        desktop = r"HKCU\Control Panel\Desktop"
        wine("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD",
             "/d", "144", "/f")
        self.addCleanup(wine, "reg", "delete", desktop, "/v", "LogPixels",
                        "/f", check=False)
        self.start()
        dialog = wait_window(DIALOG_CAPTION)
        press(DIALOG_CAPTION, "Return")
        confirm_start()
        dismiss_message(SUCCESS, "information")
        self.assertEqual(probe("fits", dialog), "")
        # The whole dialog fits a 1920x1080 screen.
        width, height = size_of(dialog, "0")
        self.assertLessEqual(width, 1920)
        self.assertLessEqual(height, 1080)
        screenshot("dialog_144dpi.png")
        probe("post", dialog, str(WM_CLOSE), "0")
        self.assert_exits()


def start_watchdog():
    """After SUITE_LIMIT seconds, prints every thread's stack and kills the
    suite's process group: the suite itself and every program it started
    (the dialogs, the probes, the X tools)."""
    os.setpgrp()

    def expire():
        sys.stderr.write("dialog tests: over %d s; where they stood:\n"
                         % SUITE_LIMIT)
        faulthandler.dump_traceback(file=sys.stderr, all_threads=True)
        sys.stderr.flush()
        os.killpg(0, signal.SIGKILL)

    timer = threading.Timer(SUITE_LIMIT, expire)
    timer.daemon = True
    timer.start()


def ensure_display():
    """Returns an Xvfb process started for these tests, or None."""
    if os.environ.get("DISPLAY"):
        return None
    for number in range(90, 130):
        if not os.path.exists("/tmp/.X%d-lock" % number):
            break
    xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0",
                             "1600x1400x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":%d" % number
    wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % number) or None,
             "Xvfb")
    return xvfb


def main():
    global PROGRAM, PROBE, RUNNER, ARTIFACTS, VERSION
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--runner", default="wine")
    parser.add_argument("--artifacts")
    parser.add_argument("--version", required=True)
    args, rest = parser.parse_known_args()
    VERSION = args.version
    PROGRAM, PROBE, ARTIFACTS = args.program, args.probe, args.artifacts
    RUNNER = args.runner.split()
    start_watchdog()
    xvfb = ensure_display()
    try:
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
    finally:
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    main()
