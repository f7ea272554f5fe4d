#!/usr/bin/env python3
"""End-to-end tests of velquor-migrate: run the built program on the sample
installation and on small generated ones, and compare what it writes,
prints and returns with hand-written expected files under tests/data.

    cli_test.py --program PATH [--runner CMD] [--windows-paths] [unittest args]

--runner runs the program through another command (for example "wine");
--windows-paths hands it paths as Z:\\... for a Windows build under Wine.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))
SAMPLE = os.path.join(ROOT, "examples", "velquor")
DATA = os.path.join(ROOT, "tests", "data")
PROGRAM = None
RUNNER = []
WINDOWS_PATHS = False

SHORT_SUCCESS = "Velquor => Tarnwick 转移成功！"


def native(path):
    if WINDOWS_PATHS:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("gbk") if isinstance(data, str) else data)


def read(path):
    with open(path, "rb") as f:
        return re.sub(rb"<(createtime|lastvisittime|lastchgpwdtime)>\d+<",
                      rb"<\1>T<", f.read())


def golden(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


def files_under(path):
    found = set()
    for base, _, names in os.walk(path):
        found.update(os.path.relpath(os.path.join(base, n), path)
                     for n in names)
    return found


class Result:
    def __init__(self, p):
        self.status = p.returncode
        self.out = p.stdout.decode("utf-8")
        self.err = p.stderr.decode("utf-8")
        self.lines = self.out.splitlines()


class CliTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-e2e-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_cli(self, *args, source=None, target=None, env=None):
        cmd = RUNNER + [PROGRAM, "--source", native(source or self.src)]
        cmd += (["--target", native(target)] if target
                else ["--output", native(self.out)])
        p = subprocess.run(cmd + list(args), capture_output=True, timeout=300,
                           env=env)
        return Result(p)

    def make_source(self, domains, accounts, mail=None):
        """accounts: popusers.ini lines; mail: {user: {file: bytes}}."""
        write(os.path.join(self.src, "domain.ini"),
              "".join(l + "\r\n" for l in domains))
        write(os.path.join(self.src, "popusers.ini"),
              "".join(l + "\r\n" for l in accounts))
        os.makedirs(os.path.join(self.src, "mail"), exist_ok=True)
        for user, files in (mail or {}).items():
            for name, data in files.items():
                write(os.path.join(self.src, "mail", user, name), data)

    def test_sample_installation(self):
        log = os.path.join(self.dir, "result.log")
        r = self.run_cli("--log", native(log), source=SAMPLE)
        self.assertEqual(r.status, 0, r.err)
        self.assertEqual(r.out.encode("utf-8"), golden("sample/result.txt"))
        self.assertEqual(r.err, SHORT_SUCCESS + "\n请将临时目录中创建的域名/帐户 "
                         "数据文件和邮件存储目录拷贝到 Tarnwick 系统安装目录下。\n")
        with open(log, "rb") as f:
            self.assertEqual(f.read().decode("utf-8"), r.out)
        for name, expected in (("domain.cfg", "sample/domain.cfg"),
                               ("userauth.cfg", "sample/userauth.cfg"),
                               ("mailgroup.cfg", "config/mailgroup_empty.cfg")):
            self.assertEqual(read(os.path.join(self.out, name)),
                             golden(expected), name)
        store = os.path.join(self.out, "store")
        expected = {}
        for line in golden("sample/store.txt").decode("utf-8").splitlines():
            if not line.startswith("#"):
                target, source = line.split(" <- ")
                expected[os.path.normpath(target)] = source
        self.assertEqual(files_under(store), set(expected))
        for target, source in expected.items():
            self.assertEqual(read(os.path.join(store, target)),
                             read(os.path.join(SAMPLE, "mail", source)), target)
        for box in ["alice", "bob", "carol", "张伟@示例.cn",
                    "dave@Sales.Example.org"]:
            self.assertTrue(os.path.isdir(os.path.join(store, box, "Spam")))

        # A second run over the same target adds nothing.
        r = self.run_cli(source=SAMPLE)
        self.assertEqual(r.status, 0, r.err)
        self.assertIn("域名0 用户数0 邮件总数0 ", r.lines)
        self.assertEqual(read(os.path.join(self.out, "userauth.cfg")),
                         golden("sample/userauth.cfg"))
        self.assertEqual(files_under(store), set(expected))

    # An installed target: existing domains and accounts are kept, a new
    # account takes its domain's settings (an old-form send control
    # converted), the mail store is the one system.cfg names, and the mailbox
    # name compares the domain with the primary one ignoring case, as the
    # user list does ("OLD.com" is the primary "old.com": the box is "ann").
    def test_existing_target(self):
        target = os.path.join(self.dir, "Tarnwick")
        store = os.path.join(self.dir, "邮件存储")
        write(os.path.join(target, "data", "domain.cfg"),
              golden("e2e/target_domain.cfg"))
        write(os.path.join(target, "data", "userauth.cfg"),
              golden("e2e/target_userauth.cfg"))
        write(os.path.join(target, "data", "system.cfg"),
              ("<database><charset>UTF-8</charset><advanced><directory>"
               "<mailstore>%s</mailstore></directory></advanced>"
               "</database>" % native(store)).encode("utf-8"))
        os.makedirs(store)
        self.make_source(
            ["OLD.com", "Alias.com", "new.com"],
            ["kept\tc\tOLD.com", "boss\tc\tOLD.com", "ann\tc\tOLD.com",
             "zed\tc\tnew.com", "al\tc\tAlias.com"],
            {"ann": {"1.in": b"hello"}})
        r = self.run_cli(target=target)
        self.assertEqual((r.status, r.err), (0, SHORT_SUCCESS + "\n"), r.out)
        self.assertEqual(r.out.encode("utf-8"),
                         golden("e2e/target_result.txt"))
        self.assertEqual(read(os.path.join(target, "data", "domain.cfg")),
                         golden("e2e/target_domain_after.cfg"))
        self.assertEqual(read(os.path.join(target, "data", "userauth.cfg")),
                         golden("e2e/target_userauth_after.cfg"))
        self.assertEqual(read(os.path.join(store, "ann", "INBOX", "1.in")),
                         b"hello")
        self.assertEqual(sorted(os.listdir(target)), ["data"])

    # 0 promises that every message of every account arrived: a refused
    # folder, a refused mailbox name and failed copies make it 1; a missing
    # list stops the run with 1; a source folder that is not there is 2.
    def test_exit_status(self):
        self.make_source(
            ["a.com"], ["bob\tc\ta.com", "..\tc\ta.com"],
            {"bob": {"Folders.ini": "ok\t0\r\n..\\..\\..\\evil\t0\r\n",
                     "1.0": b"one", "2.1": b"two", "3.in": b"three",
                     "4.in": b"four"}})
        # A file where bob's INBOX should be: its copies cannot be made.
        write(os.path.join(self.out, "store", "bob", "INBOX"), b"")
        r = self.run_cli()
        self.assertEqual((r.status, r.err), (1, ""))
        self.assertEqual(len([l for l in r.lines if "邮件复制失败:" in l]), 2)
        self.assertIn(" " * 9 + "文件夹名称不能用作目录，未转移:..\\..\\..\\evil",
                      r.lines)
        self.assertIn("用户名不能用作邮箱目录，邮件未转移:..", r.lines)
        self.assertEqual(r.lines[-2:], ["域名1 用户数2 邮件总数1 ",
                                        "复制失败的邮件数:2"])
        self.assertFalse(any("evil" in f for f in files_under(self.dir)))

        os.remove(os.path.join(self.src, "popusers.ini"))
        r = self.run_cli()
        self.assertEqual((r.status, r.out, r.err),
                         (1, "", "没有找到popusers.ini文件\n"))
        r = self.run_cli(source=os.path.join(self.dir, "missing"))
        self.assertEqual(r.status, 2)

    def test_lock_path_that_is_no_regular_file_stops_the_run(self):
        # Lock files lie in a folder every user may write: something planted
        # at a lock's path must not silently turn locking off.
        if WINDOWS_PATHS:
            self.skipTest("the Windows build locks with named mutexes")
        self.make_source(["a.com"], ["bob\tc\ta.com"])
        locks = os.path.join(self.dir, "locks")
        victim = os.path.join(self.dir, "victim")
        write(victim, b"keep")
        env = dict(os.environ, VELQUOR_LOCK_DIR=locks)
        plants = [("link", lambda p: os.symlink(victim, p)),
                  ("dangling link", lambda p: os.symlink(victim + "2", p)),
                  ("fifo", os.mkfifo), ("directory", os.mkdir)]
        for file_name in ("domain.cfg", "userauth.cfg"):
            for what, plant in plants:
                with self.subTest(file=file_name, plant=what):
                    shutil.rmtree(locks, ignore_errors=True)
                    os.makedirs(locks)
                    plant(os.path.join(locks, "Tarnwick_" + file_name))
                    r = self.run_cli(env=env)
                    self.assertEqual((r.status, r.out), (1, ""))
                    self.assertIn("Tarnwick_%s: not a regular file" % file_name,
                                  r.err)
                    self.assertEqual(os.listdir(self.out), [])
        self.assertEqual(read(victim), b"keep")
        self.assertFalse(os.path.exists(victim + "2"))


def main():
    global PROGRAM, RUNNER, WINDOWS_PATHS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--windows-paths", action="store_true")
    args, rest = parser.parse_known_args()
    PROGRAM = args.program
    RUNNER = args.runner.split() if args.runner else []
    WINDOWS_PATHS = args.windows_paths
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
