#!/usr/bin/env python3
"""End-to-end tests of velquor-migrate: run the built program on the sample
installation and on small generated ones, and compare what it writes,
prints and returns with hand-written expected files under tests/data.

    cli_test.py --program PATH [--runner CMD] [--windows-paths] [unittest args]

--runner runs the program through another command (for example "wine");
--windows-paths hands it paths as Z:\\... for a Windows build under Wine.
"""

import os
import pwd
import re
import resource
import shutil
import signal
import subprocess
import tempfile
import unittest

import e2e_support as e2e
from e2e_support import SAMPLE, SHORT_SUCCESS, golden, native, write
from e2e_support import read_masked as read


class Result:
    def __init__(self, p):
        self.status = p.returncode
        self.out = p.stdout.decode("utf-8")
        self.err = p.stderr.decode("utf-8")
        self.lines = self.out.splitlines()


class CliBase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-e2e-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_cli(self, *args, source=None, target=None, env=None):
        cmd = e2e.command("--source", native(source or self.src))
        cmd += (["--target", native(target)] if target
                else ["--output", native(self.out)])
        p = subprocess.run(cmd + list(args), capture_output=True, timeout=300,
                           env=env)
        return Result(p)

    def read_log(self, log, out, outcome, start=0):
        """Checks the part of the log from `start`: a header, the result
        list `out` and the outcome; returns the bytes up to its end."""
        data = e2e.read_bytes(log)
        part = data[start:].decode("utf-8").split("\n")
        self.assertEqual(part.pop(), "")
        self.assertRegex(part[0], r"^== velquor-migrate [0-9.]+ started "
                         r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertTrue(part[1].startswith("== velquor-migrate --source "),
                        part[1])
        # The head's named lines, then the list, then the end's.
        head = next(i for i, l in enumerate(part) if not l.startswith("== "))
        end = max(i for i, l in enumerate(part) if not l.startswith("== "))
        self.assertIn("== kind: migrate", part[2:head])
        self.assertEqual("".join(l + "\n" for l in part[head:end + 1]), out)
        self.assertTrue(part[end + 1].startswith("== counts: failure lines "),
                        part[end + 1])
        self.assertRegex(part[-1], r"^== ended \S+Z: " + re.escape(outcome))
        return data

    def snapshot(self):
        """Every file and folder under the test's folder, with its bytes
        and times: what "nothing written" compares."""
        found = {}
        for base, dirs, names in os.walk(self.dir):
            for n in dirs + names:
                p = os.path.join(base, n)
                st = os.lstat(p)
                data = (read(p) if os.path.isfile(p) and not os.path.islink(p)
                        else None)
                found[p] = (data, st.st_mtime_ns, st.st_nlink)
        return found

    def make_target(self, charset="utf-8", mailstore=None):
        """An installed target in dir/T, with its lists and system.cfg."""
        target = os.path.join(self.dir, "T")
        write(os.path.join(target, "data", "domain.cfg"),
              golden("e2e/target_domain.cfg"))
        write(os.path.join(target, "data", "userauth.cfg"),
              golden("e2e/target_userauth.cfg"))
        store = ("<advanced><directory><mailstore>%s</mailstore></directory>"
                 "</advanced>" % native(mailstore) if mailstore else "")
        write(os.path.join(target, "data", "system.cfg"),
              ("<database><charset>%s</charset>%s</database>"
               % (charset, store)).encode("utf-8"))
        return target

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


class CliTest(CliBase):
    def test_sample_installation(self):
        # The output folder is made first, so the log may lie in it.
        self.out = os.path.join(self.dir, "new")
        # A preview into a folder still to be made makes nothing, and its
        # end says that it wrote nothing (no request to copy files).
        r = self.run_cli("--dry-run", source=SAMPLE)
        self.assertEqual((r.status, r.err),
                         (0, "(dry run) 预览完成，未写入任何文件。\n"))
        self.assertIn("预计迁移:", r.lines)
        self.assertFalse(os.path.exists(self.out))
        log = os.path.join(self.out, "result.log")
        r = self.run_cli("--log", native(log), source=SAMPLE)
        self.assertEqual(r.status, 0, r.err)
        self.assertEqual(r.out.encode("utf-8"), golden("sample/result.txt"))
        self.assertEqual(r.err, SHORT_SUCCESS + "\n请将临时目录中创建的域名/帐户 "
                         "数据文件和邮件存储目录拷贝到 Tarnwick 系统安装目录下。\n")
        first = self.read_log(log, r.out, "succeeded (exit status 0)")
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
        self.assertEqual(set(e2e.tree(store)), set(expected))
        for target, source in expected.items():
            self.assertEqual(read(os.path.join(store, target)),
                             read(os.path.join(SAMPLE, "mail", source)), target)
        for box in ["alice", "bob", "carol", "张伟@示例.cn",
                    "dave@Sales.Example.org"]:
            self.assertTrue(os.path.isdir(os.path.join(store, box, "Spam")))

        # A second run over the same target adds nothing; the log keeps the
        # first run's part and appends its own.
        r = self.run_cli("--log", native(log), source=SAMPLE)
        self.assertEqual(r.status, 0, r.err)
        self.assertIn("域名 0，用户数 0，邮件总数 0", r.lines)
        self.assertEqual(e2e.read_bytes(log)[:len(first)], first)
        self.read_log(log, r.out, "succeeded (exit status 0)", len(first))
        self.assertEqual(read(os.path.join(self.out, "userauth.cfg")),
                         golden("sample/userauth.cfg"))
        self.assertEqual(set(e2e.tree(store)), set(expected))

    # An installed target: existing domains and accounts are kept, a new
    # account takes its domain's settings (an old-form send control
    # converted), the mail store is the one system.cfg names, and the mailbox
    # name compares the domain with the primary one ignoring case, as the
    # user list does ("OLD.com" is the primary "old.com": the box is "ann").
    def test_existing_target(self):
        store = os.path.join(self.dir, "邮件存储")
        target = self.make_target("UTF-8", store)
        os.makedirs(store)
        self.make_source(
            ["OLD.com", "Alias.com", "new.com"],
            ["kept\tc\tOLD.com", "boss\tc\tOLD.com", "ann\tc\tOLD.com",
             "zed\tc\tnew.com", "al\tc\tAlias.com"],
            {"ann": {"1.in": b"hello"}})
        # The account of the alias domain is left out: named, and no
        # success.
        r = self.run_cli(target=target)
        self.assertEqual((r.status, r.err), (1, ""), r.out)
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
        # ".." is written nowhere; the refused folder's message is not
        # copied.
        self.assertEqual(r.lines[-3:], ["本次迁移结果（未全部成功）:",
                                        "域名 1，用户数 1，邮件总数 1",
                                        "复制失败的邮件数:3"])
        self.assertNotIn(b"<name>..<",
                         read(os.path.join(self.out, "userauth.cfg")))
        self.assertFalse(any("evil" in f for f in e2e.tree(self.dir)))

        os.remove(os.path.join(self.src, "popusers.ini"))
        r = self.run_cli()
        self.assertEqual((r.status, r.out, r.err),
                         (1, "", "没有找到popusers.ini文件\n"))
        r = self.run_cli(source=os.path.join(self.dir, "missing"))
        self.assertEqual(r.status, 2)

    def test_lock_path_that_is_no_regular_file_stops_the_run(self):
        # Lock files lie in a folder every user may write: something planted
        # at a lock's path must not silently turn locking off.
        if e2e.WINDOWS_PATHS:
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


class RecordsTest(CliBase):
    """The report and the log never lose what was there, and the success
    message comes only after them."""

    def limited(self, fsize=None, threads=False):
        def preexec():
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            if fsize:
                resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
            if threads:
                # Each thread would reserve 1 GiB of stack in 512 MiB of
                # address space: no thread can start.
                resource.setrlimit(resource.RLIMIT_STACK, (1 << 30, 1 << 30))
                resource.setrlimit(resource.RLIMIT_AS, (512 << 20, 512 << 20))
        cmd = e2e.command("--source", native(self.src), "--output",
                          native(self.out))
        return lambda *args: Result(subprocess.run(
            cmd + list(args), capture_output=True, timeout=300,
            preexec_fn=preexec))

    def setUp(self):
        super().setUp()
        if e2e.WINDOWS_PATHS:
            self.skipTest("POSIX resource limits")
        # Many empty user folders: a report far larger than the target's
        # configuration files.
        self.make_source(["a.com"], ["bob\tc\ta.com", "cy\tc\ta.com"], {
            "bob": {"1.in": b"one", "Folders.ini": "".join(
                "f%d\t0\r\n" % i for i in range(150))},
            "cy": {"2.in": b"two"}})

    def test_report_that_does_not_fit_keeps_the_earlier_one(self):
        for kind in ("json", "csv"):
            with self.subTest(kind):
                shutil.rmtree(self.out)
                os.makedirs(self.out)
                report = os.path.join(self.dir, "r." + kind)
                write(report, b"earlier report")
                r = self.limited(fsize=4096)("--report", native(report))
                self.assertEqual(r.status, 1, r.err)
                self.assertIn("cannot write the report", r.err)
                self.assertNotIn("转移成功", r.err)
                self.assertEqual(e2e.read_bytes(report), b"earlier report")
                self.assertEqual(os.listdir(self.dir).count("r." + kind), 1)

    def test_log_is_appended_without_being_read(self):
        # A log the program may write but not read: each part is appended.
        log = os.path.join(self.dir, "run.log")
        write(log, b"earlier part\n")
        env, preexec = None, None
        if os.geteuid() == 0:  # root reads every file; nobody does not
            for base, dirs, files in os.walk(self.dir):
                for n in [base] + [os.path.join(base, f) for f in files]:
                    os.chmod(n, 0o777)
            locks = os.path.join(self.dir, "locks")
            os.makedirs(locks, mode=0o700)
            nobody = pwd.getpwnam("nobody")
            os.chown(locks, nobody.pw_uid, nobody.pw_gid)
            env = dict(os.environ, VELQUOR_LOCK_DIR=locks)
            preexec = e2e.as_nobody()
        os.chmod(log, 0o222)
        p = subprocess.run(e2e.command(
            "--source", native(self.src), "--output", native(self.out),
            "--log", native(log)), capture_output=True, timeout=300, env=env,
            preexec_fn=preexec)
        r = Result(p)
        os.chmod(log, 0o600)
        self.assertEqual(r.status, 0, r.err)
        self.assertTrue(e2e.read_bytes(log).startswith(b"earlier part\n=="))
        self.read_log(log, r.out, "succeeded (exit status 0)",
                      len(b"earlier part\n"))

    def test_run_without_room_for_threads_does_the_work_itself(self):
        if "asan" in e2e.PROGRAM:
            self.skipTest("the sanitizers need more address space")
        r = self.limited(threads=True)()
        self.assertEqual((r.status, r.err),
                         (0, SHORT_SUCCESS + "\n请将临时目录中创建的域名/帐户 "
                          "数据文件和邮件存储目录拷贝到 Tarnwick 系统安装目录下。\n"))
        self.assertIn("域名 1，用户数 2，邮件总数 2", r.lines)
        self.assertEqual(read(os.path.join(self.out, "store", "cy", "INBOX",
                                           "2.in")), b"two")


class RefusalTest(CliBase):
    """What start-up refuses, it refuses before anything is written."""

    def setUp(self):
        super().setUp()
        self.make_source(["a.com"], ["bob\tc\ta.com"],
                         {"bob": {"1.in": b"one"}})

    def link(self, how, to, name):
        path = os.path.join(self.dir, name)
        (os.symlink if how == "symlink" else os.link)(to, path)
        return path

    # Neither a log nor a report may land on a file of either installation,
    # by any spelling or link; no folder of the run may lie in the source.
    def test_paths_into_an_installation_are_usage_errors(self):
        t = self.make_target()
        data = os.path.join(t, "data")
        store = os.path.join(self.dir, "store")
        posix = not e2e.WINDOWS_PATHS
        cases = [
            ("log on the user list", ["--log", os.path.join(data,
                                                            "userauth.cfg")]),
            ("log in data by ..", ["--log", os.path.join(
                data, "..", "data", "new.log")]),
            ("log on the source list", ["--log", os.path.join(
                self.src, "popusers.ini")]),
            ("report in a mailbox", ["--report", os.path.join(
                self.src, "mail", "bob", "r.csv")]),
            ("log in the mail store", ["--log", os.path.join(store, "x.log")],
             store),
            ("output inside the source", ["--output", os.path.join(
                self.src, "out")]),
            ("target is the source", ["--target", self.src]),
            ("store is the source's mail",
             [], os.path.join(self.src, "mail")),
            ("store holds the source", [], self.dir),
            ("log is the report", ["--log", os.path.join(self.dir, "r.csv"),
                                   "--report", os.path.join(self.dir,
                                                            "r.csv")]),
            ("common without a password", ["--password-mode", "common"]),
        ]
        if posix:
            cases += [
                ("log spelled otherwise", ["--log", os.path.join(
                    t, "DATA", "UserAuth.CFG")]),
                ("report through a symbolic link", ["--report", self.link(
                    "symlink", os.path.join(data, "domain.cfg"), "s.json")]),
                ("report through a hard link", ["--report", self.link(
                    "hard", os.path.join(data, "userauth.cfg"), "h.csv")]),
                ("log through a dangling link", ["--log", self.link(
                    "symlink", os.path.join(data, "new.log"), "d.log")]),
                ("output through a linked folder", ["--output", os.path.join(
                    self.link("symlink", self.src, "lnk"), "out")]),
            ]
        for what, args, *mailstore in cases:
            with self.subTest(what):
                os.makedirs(store, exist_ok=True)
                self.make_target(mailstore=mailstore[0] if mailstore
                                 else store)
                before = self.snapshot()
                target = None if "--output" in args else t
                if "--target" in args:
                    i = args.index("--target")
                    target, args = args[i + 1], args[:i] + args[i + 2:]
                cmd = e2e.command("--source", native(self.src))
                if target:
                    cmd += ["--target", native(target)]
                cmd += [native(a) if os.path.isabs(a) else a for a in args]
                p = subprocess.run(cmd, capture_output=True, timeout=60)
                err = p.stderr.decode("utf-8")
                self.assertEqual(p.returncode, 2, err)
                self.assertRegex(err, r"^velquor-migrate: [^\n]+\n"
                                 r"Try 'velquor-migrate --help'.\n$")
                self.assertEqual(p.stdout, b"")
                self.assertEqual(self.snapshot(), before)

    # Each missing piece of a target is named; an old or broken target and
    # a source without its lists get no file written anywhere.
    def test_checks_come_before_any_write(self):
        cases = [
            ("too old", "gbk", None, "本机安装的 Tarnwick 版本太低，请升级！\n"),
            ("no system.cfg", "utf-8", "data/system.cfg",
             "没有找到 Tarnwick 配置文件:"),
            ("no data folder", "utf-8", "data", "没有找到 Tarnwick 数据目录:"),
            ("no domain.ini", "utf-8", "../src/domain.ini",
             "没有找到domain.ini文件\n"),
            ("no popusers.ini, output", None, "../src/popusers.ini",
             "没有找到popusers.ini文件\n"),
        ]
        for what, charset, remove, message in cases:
            with self.subTest(what):
                shutil.rmtree(self.dir)
                self.setUp()
                t = self.make_target(charset or "utf-8")
                os.remove(os.path.join(t, "data", "domain.cfg"))
                if remove:
                    victim = os.path.normpath(os.path.join(t, remove))
                    (shutil.rmtree if os.path.isdir(victim) else os.remove)(
                        victim)
                before = self.snapshot()
                if charset:
                    r = self.run_cli(target=t)
                else:
                    self.out = os.path.join(self.dir, "new")
                    r = self.run_cli()
                self.assertEqual((r.status, r.out), (1, ""), r.err)
                self.assertTrue(r.err.startswith(message), r.err)
                self.assertEqual(self.snapshot(), before)


if __name__ == "__main__":
    e2e.main()
