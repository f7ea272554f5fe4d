#!/usr/bin/env python3
"""End-to-end test of the record that lets --sync skip the mailboxes where
nothing changed: the console program on a real disk, a row of changes
between passes, each with what the next pass copies and skips.

    sync_record_test.py --program PATH [--runner CMD] [--windows-paths]
"""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import e2e_support as e2e
from e2e_support import native, read_bytes, write

SYNC_LINE = re.compile(r"^同步(将)?列出的已有邮箱数:(\d+)，"
                       r"自上次同步未变化而跳过的邮箱数:(\d+)（(\d+) 个文件夹）$",
                       re.M)


class SyncRecordTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-sync-record-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        self.record = os.path.join(self.out, "velquor-migrate-runs",
                                   "sync-record")
        os.makedirs(self.out)
        write(os.path.join(self.src, "domain.ini"), "a.com\r\nb.com\r\n")
        write(os.path.join(self.src, "popusers.ini"),
              "ann\tc\ta.com\r\nbob\tc\tb.com\r\ncy\tc\ta.com\r\n")
        self.mail = os.path.join(self.src, "mail")
        write(os.path.join(self.mail, "ann", "1.in"), b"one")
        write(os.path.join(self.mail, "ann", "Folders.ini"), "work\t0\r\n")
        write(os.path.join(self.mail, "ann", "3.0"), b"three")
        write(os.path.join(self.mail, "bob", "4.in"), b"four")
        write(os.path.join(self.mail, "cy", "5.sed"), b"five")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_cli(self, *args):
        p = subprocess.run(
            e2e.command("--source", native(self.src), "--output",
                        native(self.out), *args),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        return p.returncode, p.stdout.decode("utf-8")

    def sync(self, *args):
        """(listed, skipped) of a clean sync."""
        code, out = self.run_cli("--sync", *args)
        self.assertEqual(code, 0, out)
        counts = SYNC_LINE.findall(out)
        self.assertEqual(len(counts), 1, out)
        return int(counts[0][1]), int(counts[0][2])

    def test_changes_between_passes(self):
        code, out = self.run_cli()
        self.assertEqual(code, 0, out)
        self.assertTrue(read_bytes(self.record).startswith(
            b"velquor-migrate-sync-record 4\ndata-folder "))
        # The first run's folders had only just changed when it recorded
        # them: doubtful, each is listed alone and found as recorded. ann's
        # folder list had just been made too, which gives no entry: a
        # status is trusted once the file system's clock has moved past
        # its precision window (a second) since the last change, and this
        # wait is for that window, not a measure of speed.
        time.sleep(1.2)
        self.assertEqual(self.sync(), (1, 2))
        self.assertEqual(self.sync(), (0, 3))
        # New mail in one mailbox: that one is listed, its message copied.
        write(os.path.join(self.mail, "ann", "6.0"), b"six")
        self.assertEqual(self.sync(), (1, 2))
        self.assertEqual(
            read_bytes(os.path.join(self.out, "store", "ann", "work", "6.0")),
            b"six")
        # ann changed within a second of being listed: doubtful, and found
        # as recorded by the preview's look; it never writes the record.
        before = read_bytes(self.record)
        code, out = self.run_cli("--sync", "--dry-run")
        self.assertEqual(SYNC_LINE.findall(out)[0][:3], ("将", "0", "3"), out)
        self.assertEqual(read_bytes(self.record), before)
        # A damaged record, then none at all: everything is listed, the
        # mail that arrived meanwhile copied, the record made anew.
        write(os.path.join(self.mail, "bob", "7.in"), b"seven")
        write(self.record, before[:-5] + b"x\n")
        self.assertEqual(self.sync(), (3, 0))
        self.assertEqual(
            read_bytes(os.path.join(self.out, "store", "bob@b.com", "INBOX",
                                    "7.in")), b"seven")
        self.assertTrue(read_bytes(self.record).endswith(b"\nend\n"))
        os.remove(self.record)
        self.assertEqual(self.sync(), (3, 0))


if __name__ == "__main__":
    e2e.main()
