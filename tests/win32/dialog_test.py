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
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = None
PROBE = None
RUNNER = ["wine"]
ARTIFACTS = None

SOURCE_KEY = r"HKLM\SYSTEM\ControlSet001\Services\Velquor Server"
TARGET_KEY = r"HKLM\Software\Solvane Tarnwick\Server"
DIALOG_CAPTION = ("Velquor => Tarnwick 迁移工具  (Build 2013/06/07) "
                  "For Tarnwick4.9 以上版本")
MESSAGE_CAPTION = "VelquorMigrate"
SUCCESS = "Velquor => Tarnwick 转移成功！"
START_IDLE = "开始转移"
START_RUNNING = "迁移中请等待..."
ABOUT_CAPTION = "关于 Velquor"
WM_CLOSE = 16
WORK_FOLDER = "工作"
TIMEOUT = 60


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("gbk") if isinstance(data, str) else data)


def md5(text):
    return "{md5}" + hashlib.md5(text.encode("gbk")).hexdigest()


def wine(*args, check=True):
    result = subprocess.run(RUNNER + list(args), stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, timeout=TIMEOUT)
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
    xid = subprocess.run(
        ["xdotool", "search", "--sync", "--onlyvisible", "--name",
         "^" + caption.replace("(", r"\(").replace(")", r"\)") + "$"],
        stdout=subprocess.PIPE, check=True, timeout=TIMEOUT,
    ).stdout.split()[0].decode()
    subprocess.run(["xdotool", "windowfocus", "--sync", xid], check=True,
                   timeout=TIMEOUT)
    subprocess.run(["xdotool", "key", key], check=True, timeout=TIMEOUT)


def dismiss_message(expected):
    """Waits for the program's message box, checks its text, presses Enter."""
    handle = wait_window(MESSAGE_CAPTION)
    texts = probe("texts", handle).splitlines()
    if not any(t.startswith(expected) for t in texts):
        raise AssertionError("message %r not among %r" % (expected, texts))
    press(MESSAGE_CAPTION, "Return")
    wait_for(lambda: all(c != MESSAGE_CAPTION for _, _, c in top_windows())
             or None, "the message box to close")


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


def make_target(root):
    tgt = os.path.join(root, "tarnwick")
    write(os.path.join(tgt, "data", "system.cfg"),
          "<database>\r\n<charset>utf-8</charset>\r\n</database>")
    return tgt


class DialogTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vm_dialog_")
        self.process = None

    def tearDown(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def start(self):
        self.process = subprocess.Popen(
            RUNNER + [PROGRAM], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)

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
        dismiss_message(SUCCESS)
        wait_for(lambda: probe("text", dialog, "1004").strip() == START_IDLE
                 or None, "the start button to return to idle")
        self.assertEqual(probe("enabled", dialog, "1004").strip(), "1")

        lines = probe("list", dialog, "1005").splitlines()
        self.assertEqual(lines[:2], ["*" * 34, "域名转移开始"])
        self.assertIn("导入域名:example.com", lines)
        self.assertIn("导入域名:second.org", lines)
        self.assertIn(" " * 9 + WORK_FOLDER + "文件夹转移成功!", lines)
        self.assertEqual(lines[-2:], ["本次成功迁移:", "域名2 用户数2 邮件总数3 "])

        if ARTIFACTS:
            os.makedirs(ARTIFACTS, exist_ok=True)
            subprocess.run(["import", "-window", "root",
                            os.path.join(ARTIFACTS, "dialog_after_run.png")],
                           check=True, timeout=TIMEOUT)

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

        press(DIALOG_CAPTION, "Escape")
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
        dismiss_message(SUCCESS)
        lines = probe("list", dialog, "1005").splitlines()
        self.assertEqual(lines[-1], "域名2 用户数2 邮件总数3 ")
        press(DIALOG_CAPTION, "Escape")
        self.assert_exits()

    def test_password_options_and_a_close_refused_during_the_run(self):
        image_path, _ = make_source(self.root)
        tgt = make_target(self.root)
        reg_set(SOURCE_KEY, "ImagePath", image_path)
        reg_set(TARGET_KEY, "ProgPath", windows_path(tgt))
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
        probe("click", dialog, "1007")

        # The About box from the system menu, over the open dialog.
        # Our entry is the menu's last; Wine adds one of its own with the
        # same access key.
        press(DIALOG_CAPTION, "alt+space")
        subprocess.run(["xdotool", "key", "End", "Return"], check=True,
                       timeout=TIMEOUT)
        about = wait_window(ABOUT_CAPTION)
        self.assertIn("Velquor 1.0 版", probe("texts", about).splitlines())
        press(ABOUT_CAPTION, "Return")
        wait_for(lambda: all(c != ABOUT_CAPTION for _, _, c in top_windows())
                 or None, "the About box to close")

        press(DIALOG_CAPTION, "Return")
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


def ensure_display():
    """Returns an Xvfb process started for these tests, or None."""
    if os.environ.get("DISPLAY"):
        return None
    for number in range(90, 130):
        if not os.path.exists("/tmp/.X%d-lock" % number):
            break
    xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0",
                             "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":%d" % number
    wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % number) or None,
             "Xvfb")
    return xvfb


def main():
    global PROGRAM, PROBE, RUNNER, ARTIFACTS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--runner", default="wine")
    parser.add_argument("--artifacts")
    args, rest = parser.parse_known_args()
    PROGRAM, PROBE, ARTIFACTS = args.program, args.probe, args.artifacts
    RUNNER = args.runner.split()
    xvfb = ensure_display()
    try:
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
    finally:
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    main()
