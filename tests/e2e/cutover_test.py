#!/usr/bin/env python3
"""End-to-end tests of the cutover options of velquor-migrate: --dry-run,
--sync, --verify-only, --report and the progress line, on a generated
installation.

    cutover_test.py --program PATH [--runner CMD] [--windows-paths]
"""

import argparse
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None
RUNNER = []
WINDOWS_PATHS = False
SUMMARY = re.compile(r"^域名(\d+) 用户数(\d+) 邮件总数(\d+) $")


def native(path):
    if WINDOWS_PATHS:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("gbk") if isinstance(data, str) else data)


def snapshot(path):
    """Every file under path with its bytes, and every directory."""
    found = {}
    for base, dirs, names in os.walk(path):
        for d in dirs:
            found[os.path.relpath(os.path.join(base, d), path)] = None
        for n in names:
            with open(os.path.join(base, n), "rb") as f:
                found[os.path.relpath(os.path.join(base, n), path)] = f.read()
    return found


def summary(out):
    counts = [SUMMARY.match(l) for l in out.splitlines()]
    counts = [tuple(map(int, m.groups())) for m in counts if m]
    assert len(counts) == 1, out
    return counts[0]


class CutoverTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-cutover-")
        self.fill()

    def fill(self):
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        self.store = os.path.join(self.out, "store")
        os.makedirs(self.out)
        # Two domains; ann has a user-made folder; nobody's domain is no
        # line of domain.ini and is left out.
        write(os.path.join(self.src, "domain.ini"), "a.com\r\nb.com\r\n")
        write(os.path.join(self.src, "popusers.ini"),
              "ann\tc\ta.com\r\nbob\tc\tb.com\r\nnobody\tc\tz.com\r\n")
        self.mail = os.path.join(self.src, "mail")
        write(os.path.join(self.mail, "ann", "1.in"), b"one")
        write(os.path.join(self.mail, "ann", "2.sed"), b"two!")
        write(os.path.join(self.mail, "ann", "Folders.ini"), "work\t0\r\n")
        write(os.path.join(self.mail, "ann", "3.0"), b"three")
        write(os.path.join(self.mail, "bob", "4.in"), b"four")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_cli(self, *args, stderr=subprocess.PIPE):
        cmd = RUNNER + [PROGRAM, "--source", native(self.src),
                        "--output", native(self.out)] + list(args)
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=stderr,
                           timeout=300)
        return (p.returncode, p.stdout.decode("utf-8"),
                (p.stderr or b"").decode("utf-8"))

    def test_dry_run_writes_nothing_and_counts_what_the_run_does(self):
        before = snapshot(self.out)
        status, out, _ = self.run_cli("--dry-run")
        self.assertEqual(snapshot(self.out), before)
        self.assertIn("ann@a.com: add, 3 messages, 12 bytes to copy", out)
        self.assertIn("nobody@z.com: left out", out)
        dry = (status, summary(out))
        status, out, _ = self.run_cli()
        self.assertEqual((status, summary(out)), dry)
        self.assertEqual(dry, (0, (2, 2, 4)))
        self.assertIn("未迁移的帐户数:1", out.splitlines())

        # Over a migrated target with new mail the dry run still writes
        # nothing and predicts the sync.
        write(os.path.join(self.mail, "bob", "5.in"), b"five")
        before = snapshot(self.out)
        status, out, _ = self.run_cli("--dry-run", "--sync")
        self.assertEqual(snapshot(self.out), before)
        self.assertEqual((status, summary(out)), (0, (0, 0, 1)))

    def test_sync_copies_only_new_mail(self):
        self.assertEqual(self.run_cli()[0], 0)
        write(os.path.join(self.mail, "ann", "6.in"), b"six")
        write(os.path.join(self.mail, "ann", "Folders.ini"),
              "work\t0\r\nnew\t0\r\n")
        write(os.path.join(self.mail, "ann", "7.1"), b"seven")
        before = snapshot(self.store)
        status, out, _ = self.run_cli("--sync")
        self.assertEqual((status, summary(out)), (0, (0, 0, 2)))
        after = snapshot(self.store)
        added = {k: v for k, v in after.items() if before.get(k, 1) != v}
        self.assertEqual(added, {os.path.join("ann", "INBOX", "6.in"): b"six",
                                 os.path.join("ann", "new"): None,
                                 os.path.join("ann", "new", "7.1"): b"seven"})
        status, out, _ = self.run_cli("--sync")
        self.assertEqual((status, summary(out)), (0, (0, 0, 0)))
        self.assertEqual(snapshot(self.store), after)

    def test_verify_only_finds_truncated_and_deleted_copies(self):
        self.assertEqual(self.run_cli()[0], 0)
        with open(os.path.join(self.store, "ann", "INBOX", "1.in"), "wb") as f:
            f.write(b"on")
        os.remove(os.path.join(self.store, "bob@b.com", "INBOX", "4.in"))
        before = snapshot(self.out)
        status, out, err = self.run_cli("--verify-only")
        self.assertEqual(status, 1)
        self.assertNotIn("转移成功", err)
        lines = out.splitlines()
        self.assertIn("校验未通过的帐户:ann@a.com", lines)
        self.assertIn("校验未通过的帐户:bob@b.com", lines)
        self.assertIn("校验的邮件数:4", lines)
        # Each line names the source and the target file, as the platform
        # writes paths.
        problems = [l for l in lines if l.startswith(" " * 9)]
        self.assertEqual(problems, [
            " " * 9 + "目标中的邮件与源邮件不同:" +
            native(os.path.join(self.mail, "ann", "1.in")) + " -> " +
            native(os.path.join(self.store, "ann", "INBOX", "1.in")),
            " " * 9 + "目标中缺少该邮件:" +
            native(os.path.join(self.mail, "bob", "4.in")) + " -> " +
            native(os.path.join(self.store, "bob@b.com", "INBOX", "4.in"))])
        self.assertEqual(snapshot(self.out), before)

    def test_faults_fail_the_run(self):
        """Each row leaves mail out of the target or unchecked: the run
        names it in a failure line and exits 1."""
        store, mail = self.store, self.mail
        ann, bob = os.path.join(store, "ann"), os.path.join(store, "bob@b.com")
        elsewhere = os.path.join(self.dir, "elsewhere")

        def carol():  # a mailbox whose name only GBK holds
            write(os.path.join(self.src, "domain.ini"), "a.com\r\n示例.cn\r\n")
            write(os.path.join(self.src, "popusers.ini"),
                  "ann\tc\ta.com\r\ncarol@示例.cn\tc\t示例.cn\r\n")
            write(os.path.join(mail, "carol@示例.cn", "1.in"), b"gbk")

        def carol_migrated():
            carol()
            self.assertEqual(self.run_cli()[0], 0)

        def relink(path, files):  # the folder becomes a link elsewhere
            shutil.rmtree(path)
            os.makedirs(elsewhere)
            for name, data in files.items():
                write(os.path.join(elsewhere, name), data)
            os.symlink(elsewhere, path)
            return lambda: self.assertEqual(
                {n: d for n, d in snapshot(elsewhere).items() if d}, files)

        def sized_then_grown():
            write(os.path.join(ann, "INBOX", "1.in,S=3.0.S"), b"one")
            os.remove(os.path.join(ann, "INBOX", "1.in"))
            write(os.path.join(mail, "ann", "__r_in.ini"),
                  "1.in\f\ta\f\tb\f\tc\f\t1\f\t0\f\tN\f\t1\r\n")
            write(os.path.join(mail, "ann", "1.in"), b"one, grown")
            return lambda: self.assertEqual(
                sorted(os.listdir(os.path.join(ann, "INBOX"))),
                ["1.in,S=3.0.S"])

        def edit(path, old, new):
            with open(path, "rb") as f:
                data = f.read()
            write(path, data.replace(old, new))

        def twice_listed():
            write(os.path.join(mail, "ann", "Folders.ini"),
                  "work\t0\r\nwork\t0\r\n")
            write(os.path.join(mail, "ann", "5.1"), b"five")
            self.assertEqual(self.run_cli()[0], 0)
            os.remove(os.path.join(ann, "work", "3.0"))
            report = os.path.join(self.dir, "r.json")
            self.report_args = ["--report", native(report)]

            def check():
                with open(report, encoding="utf-8") as f:
                    r = json.load(f)
                self.assertEqual([a["verification"] for a in r["accounts"]
                                  if a["user"] == "ann"], ["failed"])
            return check

        on_posix = not WINDOWS_PATHS
        # name, migrated first, prepare (may return a check), options, line
        rows = [
            ("verify-only of a target never migrated", False, None,
             ["--verify-only"], "目标中没有该帐户:ann@a.com$"),
            ("verify-only of a removed account", True,
             lambda: (edit(os.path.join(self.out, "userauth.cfg"),
                           b"<name>ann</name>", b"<name>zed</name>"),
                      shutil.rmtree(ann)),
             ["--verify-only"], "目标中没有该帐户:ann@a.com$"),
            ("verify-only of a mailbox removed", True,
             lambda: shutil.rmtree(bob), ["--verify-only"],
             "目标中没有该帐户的邮箱目录:.*bob@b.com$"),
            ("verify-only of an unreadable user list", True,
             lambda: write(os.path.join(self.out, "userauth.cfg"),
                           "<database><user><item>"),
             ["--verify-only"], "无法读取目标配置文件.*userauth.cfg$"),
            ("verify-only of a folder listed twice", False, twice_listed,
             ["--verify-only"], "目标中缺少该邮件:.*3.0 -> .*3.0$"),
            ("sync of a message whose sized name changed", True,
             sized_then_grown, ["--sync"], "目标中已有该邮件的另一版本"),
            ("sync of a changed plain message", True,
             lambda: write(os.path.join(mail, "bob", "4.in"), b"four, new"),
             ["--sync"], "目标中已有该邮件的另一版本.*4.in$"),
            ("sync after a copy cut short", True,
             lambda: write(os.path.join(bob, "INBOX", "4.in"), b"fo"),
             ["--sync"], "目标中已有该邮件的另一版本.*4.in$"),
            ("two accounts meeting in one mailbox", False,
             lambda: (edit(os.path.join(self.src, "popusers.ini"), b"\r\nno",
                           b"\r\nbob@b.com\tc\tb.com\r\nno"),
                      write(os.path.join(mail, "bob@b.com", "4.in"), b"4")),
             ["--sync"], "与另一帐户共用同一目标邮箱.*bob@b.com \\(bob\\)$"),
        ]
        if on_posix:
            rows += [
                ("code page UTF-8 on a GBK source", False, carol,
                 ["--codepage", "UTF-8"], "用户名不能用作邮箱目录"),
                ("verify-only in code page UTF-8", False, carol_migrated,
                 ["--codepage", "UTF-8", "--verify-only"], "用户名不能用作"),
                ("code page CP1252 on a GBK source", False, carol,
                 ["--codepage", "CP1252"], r"src.mail.carol@\?\?\.cn$"),
                ("verify-only through a linked folder", True,
                 lambda: relink(os.path.join(ann, "INBOX"), {"1.in": b"one"}),
                 ["--verify-only"], "目标中缺少该邮件:.*1.in"),
                ("sync into a linked folder", True,
                 lambda: (write(os.path.join(mail, "ann", "6.in"), b"six"),
                          relink(os.path.join(ann, "INBOX"), {}))[1],
                 ["--sync"], "邮件复制失败:.*6.in"),
                ("verify-only of a linked mailbox", True,
                 lambda: relink(bob, {"INBOX/4.in": b"four"}),
                 ["--verify-only"], "目标中没有该帐户的邮箱目录"),
            ]
        for name, migrated, prepare, args, line in rows:
            with self.subTest(name):
                shutil.rmtree(self.dir)
                os.makedirs(self.dir)
                self.fill()
                self.report_args = []
                if migrated:
                    self.assertEqual(self.run_cli()[0], 0)
                check = prepare() if prepare else None
                status, out, _ = self.run_cli(*args, *self.report_args)
                self.assertEqual(status, 1, out)
                self.assertTrue(any(re.search(line, l)
                                    for l in out.splitlines()), out)
                if callable(check):
                    check()

    def test_reports_match_the_result_list(self):
        report = os.path.join(self.dir, "r.json")
        csv = os.path.join(self.dir, "r.csv")
        status, out, _ = self.run_cli("--report", native(report), "--verify",
                                      "--password-mode", "common",
                                      "--password", "s3cr3t-pw")
        self.assertEqual(status, 0, out)
        with open(report, encoding="utf-8") as f:
            text = f.read()
        self.assertNotIn("s3cr3t-pw", text)
        r = json.loads(text)
        t = r["totals"]
        self.assertEqual((t["domains"], t["accounts"], t["messages"]),
                         summary(out))
        self.assertEqual(
            [(a["user"], a["outcome"], a["verification"])
             for a in r["accounts"]],
            [("nobody", "skipped-no-domain-line", "not checked"),
             ("ann", "added", "passed"), ("bob", "added", "passed")])
        self.assertEqual(
            [(f["name"], f["source_messages"], f["copied"])
             for f in r["accounts"][1]["folders"]],
            [("INBOX", 1, 1), ("Sent", 1, 1), ("Draft", 0, 0),
             ("Trash", 0, 0), ("work", 1, 1)])
        self.run_cli("--report", native(csv))
        with open(csv, encoding="utf-8") as f:
            rows = f.read().splitlines()
        self.assertEqual(len(rows), 4)
        self.assertTrue(rows[2].startswith("ann,a.com,exists,"), rows)

    def test_progress_only_on_a_terminal(self):
        if WINDOWS_PATHS:
            self.skipTest("a POSIX pseudo-terminal is no Windows console")
        cases = [(True, [], True), (True, ["--no-progress"], False),
                 (False, [], False), (False, ["--progress"], True)]
        for terminal, flags, shown in cases:
            with self.subTest(terminal=terminal, flags=flags):
                shutil.rmtree(self.out)
                os.makedirs(self.out)
                if terminal:
                    master, slave = pty.openpty()
                    status, out, _ = self.run_cli(*flags, stderr=slave)
                    os.close(slave)
                    err = b""
                    try:
                        while chunk := os.read(master, 4096):
                            err += chunk
                    except OSError:  # the terminal's other end is closed
                        pass
                    os.close(master)
                    err = err.decode("utf-8")
                else:
                    status, out, err = self.run_cli(*flags)
                self.assertEqual(status, 0)
                self.assertEqual("accounts 2/2" in err, shown, err)
                self.assertNotIn("accounts ", out)


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
