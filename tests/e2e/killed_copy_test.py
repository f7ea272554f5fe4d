#!/usr/bin/env python3
"""A message copy killed part way leaves nothing under the message's name,
and the next run finishes it and leaves no file of the killed copy behind.
The program is killed while it writes a large message, at several points of
the copy, each seen as the size of the file it has open in the target
folder; the same test runs against the Linux and the Windows build.

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
        self.inbox = os.path.join(self.out, "store", "ann", "INBOX")

    def command(self):
        return e2e.command("--source", native(self.src), "--output",
                           native(self.out))

    def kill_at(self, part):
        """Runs the program and kills it once its copy has written `part`
        of the message; True when the kill came before the run ended."""
        p = subprocess.Popen(self.command(), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, env=self.env)
        while p.poll() is None:
            size = copy_in_progress(p.pid, self.inbox)
            if size is not None and size >= part * MESSAGE_SIZE:
                p.send_signal(signal.SIGKILL)
                break
            time.sleep(0.001)
        p.wait()
        return p.returncode == -signal.SIGKILL

    def test_killed_copy_leaves_nothing_under_its_name(self):
        final = os.path.join(self.inbox, "1.in")
        absent = 0
        for part in KILL_POINTS:
            self.assertTrue(self.kill_at(part), "the run ended first")
            if os.path.exists(final):
                self.assertEqual(e2e.read_bytes(final), self.message,
                                 "a torn message after a kill at %s" % part)
            else:
                absent += 1
        self.assertGreater(absent, 0, "no kill landed during the copy")
        p = subprocess.run(self.command(), capture_output=True, timeout=600,
                           env=self.env)
        self.assertEqual(p.returncode, 0, p.stdout.decode("utf-8", "replace"))
        self.assertEqual(sorted(os.listdir(self.inbox)), ["1.in"])
        self.assertEqual(e2e.read_bytes(final), self.message)
        self.assertNotIn(e2e.PENDING,
                         os.listdir(os.path.dirname(self.inbox)))


if __name__ == "__main__":
    e2e.main()
