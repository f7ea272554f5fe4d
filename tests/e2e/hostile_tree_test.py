#!/usr/bin/env python3
"""End-to-end tests of velquor-migrate on hostile and damaged source mail
trees (POSIX): names that climb out of folders, links, FIFOs, devices,
unreadable folders, names the code page cannot hold, blank folder-list
lines.

    hostile_tree_test.py --program PATH
"""

import os
import pwd
import re
import shutil
import stat
import subprocess
import tempfile
import unittest

import e2e_support as e2e
from e2e_support import PENDING, tree, write

COPY_FAILED = "邮件复制失败:"
UNSAFE_FOLDER = "文件夹名称不能用作目录，未转移:"
INDEX_UNREADABLE = "无法读取索引文件，邮件按原名转移:"
UNLISTABLE = "无法读取邮件文件夹，其中邮件未转移:"


class HostileTreeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-hostile-")
        os.chmod(self.dir, 0o755)
        self.src = os.path.join(self.dir, "src")
        self.box = os.path.join(self.src, "mail", "bob")
        self.out = os.path.join(self.dir, "out")
        self.cwd = os.path.join(self.dir, "cwd")
        self.outside = os.path.join(self.dir, "outside")
        for d in (self.box, self.out, self.cwd, self.outside):
            os.makedirs(d)
        write(os.path.join(self.src, "domain.ini"), b"a.com\r\n")
        write(os.path.join(self.src, "popusers.ini"), b"bob\tc\ta.com\r\n")
        write(os.path.join(self.outside, "secret"), b"secret")
        for d, _, _ in os.walk(self.dir):
            os.chmod(d, 0o777)

    def tearDown(self):
        for d, _, _ in os.walk(self.dir):
            os.chmod(d, 0o755)
        shutil.rmtree(self.dir, ignore_errors=True)

    def put(self, name, data=b"m"):
        path = os.path.join(self.box.encode(), name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)

    def run_cli(self, preexec=None, jobs="4"):
        p = subprocess.run([e2e.PROGRAM, "--source", self.src, "--output",
                            self.out, "--jobs", jobs],
                           capture_output=True, timeout=60, cwd=self.cwd,
                           env=dict(os.environ, VELQUOR_LOCK_DIR=self.dir),
                           preexec_fn=preexec)
        return p.returncode, p.stdout.decode("utf-8", "replace")

    def store(self):
        return tree(os.path.join(self.out, "store", "bob"))

    def check(self, status, out, expected_status, lines):
        self.assertEqual(status, expected_status, out)
        for needle in lines:
            self.assertTrue(any(re.search(needle, l) for l in
                                out.splitlines()), (needle, out))
        self.assertEqual(os.listdir(self.cwd), [])
        self.assertEqual(sorted(os.listdir(self.dir)),
                         sorted(["src", "out", "cwd", "outside"] + [
                             n for n in os.listdir(self.dir)
                             if n.startswith("Tarnwick_")]))
        self.assertEqual(tree(self.outside), {"secret": b"secret"})

    def test_hostile_entries(self):
        # name, how to make it, exit status, result-list lines, store
        fail = COPY_FAILED + ".*"
        rows = [
            ("backslash name", lambda: self.put(b"..\\..\\..\\..\\secret.in"),
             1, [fail + r"secret\.in（文件名不安全，不能使用）"], {}),
            ("link to an outside file",
             lambda: os.symlink(os.path.join(self.outside, "secret"),
                                os.path.join(self.box, "2.in")),
             1, [fail + r"2\.in（不是普通文件）"], {}),
            ("FIFO named like a message",
             lambda: os.mkfifo(os.path.join(self.box, "3.in")),
             1, [fail + r"3\.in（不是普通文件）"], {}),
            ("FIFO named like an index",
             lambda: (self.put(b"4.in"),
                      os.mkfifo(os.path.join(self.box, "__r_in.ini"))),
             0, [INDEX_UNREADABLE], {"INBOX/4.in": b"m"}),
            ("index linked to an endless device",
             lambda: (self.put(b"5.in"),
                      os.symlink("/dev/zero",
                                 os.path.join(self.box, "__r_in.ini"))),
             0, [INDEX_UNREADABLE], {"INBOX/5.in": b"m"}),
            ("name the code page cannot hold",
             lambda: self.put("😀.in".encode()),
             1, [fail + r"\.in（文件名不能用当前代码页表示）"], {}),
            ("name held as raw code-page bytes",
             lambda: self.put("张三.in".encode("gbk"), b"raw"),
             0, [], {"INBOX/张三.in": b"raw"}),
            ("blank folder-list line without messages",
             lambda: self.put(b"Folders.ini", b"Work\r\n\r\n"),
             0, [], {}),
            ("blank folder-list line with messages",
             lambda: (self.put(b"Folders.ini", b"Work\r\n\r\n"),
                      self.put(b"6.1")),
             1, [UNSAFE_FOLDER + "$"], {}),
        ]
        for name, make, status, lines, store in rows:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                make()
                code, out = self.run_cli()
                self.check(code, out, status, lines)
                got = {k: v for k, v in self.store().items()
                       if k != PENDING}
                self.assertEqual(got, store, out)
                # A refused entry keeps nothing back that a rerun could
                # copy: the mark goes.
                self.assertNotIn(PENDING, self.store())

    def test_unreadable_folder_keeps_the_account_pending(self):
        self.put(b"1.in")
        os.makedirs(os.path.join(self.box, "sub"))
        self.put(b"Folders.ini", b"Work\r\n")
        os.chmod(self.box, 0o311)  # can enter, cannot list
        code, out = self.run_cli(e2e.as_nobody() if os.geteuid() == 0
                                 else None)
        self.check(code, out, 1, [UNLISTABLE + ".*bob$"])
        self.assertIn(PENDING, self.store())
        self.assertNotIn("INBOX/1.in", self.store())

    def test_copies_keep_the_source_mode_and_the_store_owner(self):
        self.put(b"1.in", b"private")
        os.chmod(os.path.join(self.box, "1.in"), 0o600)
        owner = os.getuid()
        if os.geteuid() == 0:
            owner = pwd.getpwnam("nobody").pw_uid
            os.makedirs(os.path.join(self.out, "store"))
            os.chown(os.path.join(self.out, "store"), owner, -1)
        code, out = self.run_cli()
        self.check(code, out, 0, [])
        for path in ("", "INBOX", os.path.join("INBOX", "1.in")):
            st = os.stat(os.path.join(self.out, "store", "bob", path))
            self.assertEqual(st.st_uid, owner, path)
        st = os.stat(os.path.join(self.out, "store", "bob", "INBOX", "1.in"))
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o600)


if __name__ == "__main__":
    e2e.main()
