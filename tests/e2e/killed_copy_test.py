#!/usr/bin/env python3
"""A message copy killed part way leaves nothing the server could see: a new
mailbox is built under a hidden staging folder, so the mailbox does not
exist yet, and the next run removes the staging folder, builds the mailbox
again and publishes it whole. The program is killed while it writes a large
message, at several points of the copy, each seen as the size of the file it
has open in the staging folder; the same test runs against the Linux and
the Windows build.

    killed_copy_test.py --program PATH [--runner CMD] [--windows-paths]
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import e2e_support as e2e
from e2e_support import native, write

MESSAGE_SIZE = 320 << 20
# The hidden folder the mailbox of ann is built in.
STAGING = ".vmtmp.stage.ann"
# The mailbox step's lines of the run that finishes the migration: ann,
# whose staging folder the kills left, is imported with her one message.
RESULT_LIST = ["导入帐户:ann@a.com", "         收件箱转移成功 1!",
               "         发件箱转移成功 0!", "         草稿箱转移成功 0!",
               "         垃圾箱转移成功 0!"]
# Where in the copy each kill lands, as parts of the message written.
KILL_POINTS = (0.0, 0.25, 0.5, 0.75)


def copy_in_progress(pid, folder):
    """The size of the file the process `pid` has open in `folder` (an
    unnamed file, or one under any name), or None."""
    fds = "/proc/%d/fd" % pid
    try:
        names = os.listdir(fds)
    except OSError:
        return None
    for fd in names:
        try:
            if os.readlink(os.path.join(fds, fd)).startswith(folder + "/"):
                return os.stat(os.path.join(fds, fd)).st_size
        except OSError:
            continue
    return None


class KilledCopyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-killed-copy-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)
        self.env = dict(os.environ,
                        VELQUOR_LOCK_DIR=os.path.join(self.dir, "locks"))
        os.makedirs(self.env["VELQUOR_LOCK_DIR"])
        write(os.path.join(self.src, "domain.ini"), "a.com\r\n")
        write(os.path.join(self.src, "popusers.ini"), "ann\tc\ta.com\r\n")
        block = os.urandom(1 << 20)
        self.message = block * (MESSAGE_SIZE // len(block))
        write(os.path.join(self.src, "mail", "ann", "1.in"), self.message)
        self.store = os.path.join(self.out, "store")
        self.inbox = os.path.join(self.store, "ann", "INBOX")
        self.staged_inbox = os.path.join(self.store, STAGING, "INBOX")

    def command(self):
        return e2e.command("--source", native(self.src), "--output",
                           native(self.out))

    def kill_at(self, part):
        """Runs the program and kills it once its copy has written `part`
        of the message; True when the kill came before the run ended."""
        p = subprocess.Popen(self.command(), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, env=self.env)
        while p.poll() is None:
            size = copy_in_progress(p.pid, self.staged_inbox)
            if size is not None and size >= part * MESSAGE_SIZE:
                p.send_signal(signal.SIGKILL)
                break
            time.sleep(0.001)
        p.wait()
        return p.returncode == -signal.SIGKILL

    def test_killed_copy_leaves_nothing_the_server_sees(self):
        final = os.path.join(self.inbox, "1.in")
        for part in KILL_POINTS:
            self.assertTrue(self.kill_at(part), "the run ended first")
            # Each run after the first resumes the account (it is in the
            # user list): the staging folder is built anew, never shown.
            self.assertFalse(os.path.exists(os.path.dirname(self.inbox)),
                             "the mailbox shown after a kill at %s" % part)
            self.assertEqual(os.listdir(self.store), [STAGING])
        p = subprocess.run(self.command(), capture_output=True, timeout=600,
                           env=self.env)
        self.assertEqual(p.returncode, 0, p.stdout.decode("utf-8", "replace"))
        lines = p.stdout.decode("utf-8").splitlines()
        start = lines.index("邮箱用户转移开始") + 1
        self.assertEqual(lines[start:start + len(RESULT_LIST) + 1],
                         RESULT_LIST + ["邮箱用户转移结束"])
        self.assertEqual(lines[-1], "域名 0，用户数 1，邮件总数 1")
        self.assertEqual(sorted(os.listdir(self.store)), ["ann"])
        self.assertEqual(sorted(os.listdir(self.inbox)), ["1.in"])
        self.assertEqual(e2e.read_bytes(final), self.message)
        self.assertNotIn(e2e.PENDING,
                         os.listdir(os.path.dirname(self.inbox)))


if __name__ == "__main__":
    e2e.main()
