#!/usr/bin/env python3
"""End-to-end tests of the cutover options of velquor-migrate: --dry-run,
--sync, --verify-only, --report and the progress line, on a generated
installation.

    cutover_test.py --program PATH [--runner CMD] [--windows-paths]
"""

import collections
import csv
import fcntl
import glob
import io
import itertools
import json
import os
import pty
import re
import shutil
import struct
import subprocess
import tempfile
import termios
import unittest

import e2e_support as e2e
from e2e_support import native, snapshot, write

PROGRESS = re.compile(r"acc(ounts)? \d")
SUMMARY = re.compile(r"^域名 (\d+)，用户数 (\d+)，邮件总数 (\d+)(?:，|$)")


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
        # Two domains; ann has a user-made folder.
        write(os.path.join(self.src, "domain.ini"), "a.com\r\nb.com\r\n")
        write(os.path.join(self.src, "popusers.ini"),
              "ann\tc\ta.com\r\nbob\tc\tb.com\r\n")
        self.mail = os.path.join(self.src, "mail")
        write(os.path.join(self.mail, "ann", "1.in"), b"one")
        write(os.path.join(self.mail, "ann", "2.sed"), b"two!")
        write(os.path.join(self.mail, "ann", "Folders.ini"), "work\t0\r\n")
        write(os.path.join(self.mail, "ann", "3.0"), b"three")
        write(os.path.join(self.mail, "bob", "4.in"), b"four")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_cli(self, *args, stderr=subprocess.PIPE, as_nobody=False):
        cmd = e2e.command("--source", native(self.src), "--output",
                          native(self.out), *args)
        env, preexec = None, None
        if as_nobody and os.geteuid() == 0:
            env = dict(os.environ, VELQUOR_LOCK_DIR=self.dir)
            preexec = e2e.as_nobody()
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=stderr,
                           timeout=300, env=env, preexec_fn=preexec)
        return (p.returncode, p.stdout.decode("utf-8"),
                (p.stderr or b"").decode("utf-8"))

    def test_dry_run_writes_nothing_and_counts_what_the_run_does(self):
        # Accounts whose domain is no line of domain.ini are left out: each
        # is named, and neither the preview nor the run is a success.
        write(os.path.join(self.src, "popusers.ini"),
              "ann\tc\ta.com\r\nbob\tc\tb.com\r\nnobody\tc\tz.com\r\n"
              "none@y.com\tc\ty.com\r\n")
        before = snapshot(self.out)
        status, out, err = self.run_cli("--dry-run")
        self.assertEqual(snapshot(self.out), before)
        self.assertIn("ann@a.com: add, 3 messages, 12 bytes to copy", out)
        self.assertIn("nobody@z.com: left out", out)
        self.assertIn("预计迁移:", out.splitlines())
        dry = (status, summary(out), "转移成功" in err)
        status, out, err = self.run_cli()
        self.assertEqual((status, summary(out), "转移成功" in err), dry)
        self.assertEqual(dry, (1, (2, 2, 4), False))
        lines = out.splitlines()
        for name in ("nobody@z.com", "none@y.com"):
            self.assertIn("该帐户的域名不在domain.ini中，未迁移:" + name, lines)
        self.assertEqual(lines[-3:], ["本次迁移结果（未全部成功）:",
                                      "域名 2，用户数 2，邮件总数 4",
                                      "未迁移的帐户数:2"])
        write(os.path.join(self.src, "popusers.ini"),
              "ann\tc\ta.com\r\nbob\tc\tb.com\r\n")

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

        # At the switch: only what changed is listed, with units on stderr.
        write(os.path.join(self.mail, "ann", "8.in"), b"eight")
        status, out, err = self.run_cli("--sync", "--changes-only", "--stats")
        self.assertEqual(status, 0, out)
        lines = out.splitlines()
        self.assertEqual(lines[lines.index("邮箱用户转移开始") + 1:
                               lines.index("邮箱用户转移结束")],
                         ["同步帐户:ann@a.com", " " * 9 + "收件箱转移成功 1!"])
        self.assertEqual(summary(out), (0, 0, 1))
        self.assertRegex(err, r"(?m)^mail: [0-9.]+ s$")
        self.assertRegex(err, r"(?m)^copied: [0-9.]+ MB, [0-9.]+ MB/s$")

    def test_mirror_follows_deletes_and_moves_and_its_undo_puts_back(self):
        """--mirror takes out the copies of messages deleted or moved on the
        source (a moved one is copied to its new folder), never a file the
        tool did not copy; the preview counts it first; --undo of the pass
        gives the store back as it was. Without --sync it is refused. The
        first run keeps its manifest beside its report: what it copied is
        proved all the same."""
        first = os.path.join(self.dir, "first.json")
        status, out, err = self.run_cli("--report", native(first))
        self.assertEqual(status, 0, out + err)
        status, _, err = self.run_cli("--mirror")
        self.assertEqual(status, 2)
        self.assertIn("--mirror is used only with --sync or --watch", err)
        os.remove(os.path.join(self.mail, "ann", "1.in"))
        os.rename(os.path.join(self.mail, "bob", "4.in"),
                  os.path.join(self.mail, "bob", "4.del"))
        write(os.path.join(self.store, "ann", "INBOX", "9.in"), b"not ours")
        before = snapshot(self.store)
        status, out, _ = self.run_cli("--dry-run", "--sync", "--mirror")
        self.assertIn("同步删除和移动将移走的邮件: 2 封，字节数: 7",
                      out.splitlines())
        self.assertEqual(snapshot(self.store), before)
        report = os.path.join(self.dir, "mirror.json")
        # Lines of folders where nothing was copied stay in a changes-only
        # list when something went.
        status, out, _ = self.run_cli("--sync", "--mirror", "--changes-only",
                                      "--report", report)
        self.assertEqual(status, 0, out)
        lines = out.splitlines()
        self.assertEqual(lines.count(" " * 9 + "收件箱移走 1 封（源中已删除）"), 2)
        self.assertIn(" " * 9 + "收件箱保留 1 封（源中已删除，但不是本工具复制的原样）",
                      lines)
        after = snapshot(self.store)
        changed = {k: after.get(k) for k in set(after) | set(before)
                   if after.get(k, 0) != before.get(k, 0)}
        bob = "bob@b.com"  # b.com is not the primary domain
        self.assertEqual(changed, {os.path.join("ann", "INBOX", "1.in"): None,
                                   os.path.join(bob, "INBOX", "4.in"): None,
                                   os.path.join(bob, "Trash", "4.del"):
                                   b"four"})
        with open(report, encoding="utf-8") as f:
            accounts = {a["user"]: a for a in json.load(f)["accounts"]}
        self.assertEqual([(f["name"], f["removed"], f["removed_bytes"])
                          for f in accounts["ann"]["folders"]
                          if f["removed"]], [("INBOX", 1, 3)])
        manifest, = glob.glob(os.path.join(self.dir, "mirror.*.manifest"))
        p = subprocess.run(e2e.command("--undo", native(manifest), "--output",
                                       native(self.out)),
                           stdout=subprocess.PIPE, timeout=300)
        self.assertEqual(p.returncode, 0, p.stdout.decode("utf-8"))
        self.assertEqual(snapshot(self.store), before)

    def test_dry_run_agrees_with_the_run(self):
        """What the run would be refused, the dry run is refused too."""
        if e2e.WINDOWS_PATHS:
            self.skipTest("POSIX owners and modes")
        # name, preparation; run as nobody when root, so modes hold
        def unreadable():
            os.chmod(os.path.join(self.mail, "ann", "2.sed"), 0)

        def unwritable():
            os.chmod(self.out, 0o555)

        def trail_backslash():
            # 乗 is 0x81 0x5C in GBK: its second byte is a backslash.
            write(os.path.join(self.src, "popusers.ini"),
                  "乗乗\tc\ta.com\r\n")
            write(os.path.join(self.mail, "乗乗", "1.in"), b"one")

        for name, prepare in [("unreadable message", unreadable),
                              ("read-only target", unwritable),
                              ("trail byte 0x5C", trail_backslash)]:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                for base, dirs, files in os.walk(self.dir):
                    os.chmod(base, 0o777)
                prepare()
                runs = []
                for args in (["--dry-run"], []):
                    status, out, err = self.run_cli(*args, as_nobody=True)
                    listed = out.split("Plan (dry run")[0].splitlines()
                    failures = [l for l in listed if "失败" in l or "无法" in l]
                    runs.append((status, summary(out), len(failures),
                                 "转移成功" in err or "预览完成" in err)
                                if name != "read-only target" else
                                (status, err))
                if name == "read-only target":
                    # A writer that cannot make the target's lock file
                    # writes nothing at all; its preview shows each write
                    # it could not do.
                    self.assertEqual(runs[0][0], 1)
                    self.assertEqual(runs[1], (1, runs[1][1]))
                    self.assertIn("无法使用目标的运行锁，未开始:", runs[1][1])
                    self.assertEqual(os.listdir(self.out), [])
                    continue
                self.assertEqual(runs[0], runs[1])
                self.assertEqual(runs[1][0], 0 if "0x5C" in name else 1)

    def test_first_runs_command_again_tells_the_new_mail_it_leaves(self):
        """The switch with --sync forgotten: the first run's command after
        new mail arrived in three of five accounts copies none of it, and
        says so, with the option that does, in the list, the exit status,
        the check and the report."""
        write(os.path.join(self.src, "popusers.ini"),
              "".join("%s\tc\ta.com\r\n" % u
                      for u in ("ann", "bob", "cat", "dan", "eve")))
        write(os.path.join(self.src, "domain.ini"), "a.com\r\n")
        for user in ("cat", "dan", "eve"):
            write(os.path.join(self.mail, user, "1.in"), user.encode())
            write(os.path.join(self.mail, user, "2.sed"), b"sent")
        # cat's message has a sized name in the target: present all the same.
        write(os.path.join(self.mail, "cat", "__r_in.ini"),
              "1.in" + "\x0c\tx" * 6 + "\x0c\t1\r\n")
        first = ("--verify", "--report", native(os.path.join(self.dir, "r.json")))
        status, out, err = self.run_cli(*first)
        self.assertEqual(status, 0, out)
        new = {"ann": ["9.in", "10.0"], "bob": ["11.sed"],
               "dan": ["12.in", "13.in", "14.sed"]}
        for user, names in new.items():
            for name in names:
                write(os.path.join(self.mail, user, name), b"new " + name.encode())
        before = snapshot(self.store)

        status, out, err = self.run_cli(*first)
        self.assertEqual(status, 1, out)
        self.assertNotIn("转移成功", err)
        self.assertEqual(snapshot(self.store), before)
        lines = out.splitlines()
        self.assertEqual(
            [l for l in lines if l.startswith("已有帐户的新邮件未复制:")],
            ["已有帐户的新邮件未复制:ann@a.com，2 封",
             "已有帐户的新邮件未复制:bob@a.com，1 封",
             "已有帐户的新邮件未复制:dan@a.com，3 封"])
        self.assertIn("有新邮件未复制的已有帐户数 3，未复制的邮件数 6", lines)
        self.assertEqual(lines[-1], "目标中已存在的帐户数:5，其中有新邮件未复制的帐户"
                         " 3 个、邮件 6 封；加上 --sync 再次运行即可复制")
        self.assertIn("校验的邮件数:16", lines)
        with open(os.path.join(self.dir, "r.json"), encoding="utf-8") as f:
            accounts = {a["user"]: a for a in json.load(f)["accounts"]}
        self.assertEqual(
            {u: (a["outcome"], a["reason_key"], a["source_messages"],
                 a["already_present"]) for u, a in accounts.items()},
            {"ann": ("exists", "new_mail_not_copied", 5, 3),
             "bob": ("exists", "new_mail_not_copied", 2, 1),
             "cat": ("exists", "account_exists", 2, 2),
             "dan": ("exists", "new_mail_not_copied", 5, 2),
             "eve": ("exists", "account_exists", 2, 2)})

        # The sync copies it; the first command again then finds nothing
        # left, and its check still looks at every message.
        self.assertEqual(self.run_cli("--sync")[0], 0)
        status, out, err = self.run_cli(*first)
        self.assertEqual(status, 0, out)
        self.assertIn("转移成功", err)
        lines = out.splitlines()
        self.assertEqual(lines[-1], "目标中已存在的帐户数:5，其源中的邮件都已在目标中")
        self.assertIn("校验的邮件数:16", lines)

    def test_verify_only_finds_truncated_and_deleted_copies(self):
        self.assertEqual(self.run_cli()[0], 0)
        write(os.path.join(self.store, "ann", "INBOX", "1.in"), b"on")
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
            write(path, e2e.read_bytes(path).replace(old, new))

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

        on_posix = not e2e.WINDOWS_PATHS
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
             lambda: (write(os.path.join(self.src, "popusers.ini"),
                            "ann\tc\ta.com\r\nbob\tc\tb.com\r\n"
                            "bob@b.com\tc\tb.com\r\n"),
                      write(os.path.join(mail, "bob@b.com", "4.in"), b"4")),
             ["--sync"], "与另一帐户共用同一目标邮箱.*bob@b.com \\(bob\\)$"),
        ]
        if on_posix:
            rows += [
                ("code page UTF-8 on a GBK source", False, carol,
                 ["--codepage", "UTF-8"], "用户名不能用作邮箱目录"),
                ("verify-only in code page UTF-8", False, carol_migrated,
                 ["--codepage", "UTF-8", "--verify-only"], "用户名不能用作"),
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
        # run, preparation, options, status
        def first_run():
            self.assertEqual(self.run_cli()[0], 0)

        def new_mail():
            first_run()
            write(os.path.join(self.mail, "ann", "6.in"), b"six")

        def failures():
            # Names a spreadsheet would take for formulas, one the target
            # refuses, and a file where bob's INBOX should be.
            write(os.path.join(self.src, "popusers.ini"),
                  "ann\tc\ta.com\r\nbob\tc\tb.com\r\nnobody\tc\tz.com\r\n"
                  "-dash\tc\ta.com\r\n=sum\tc\ta.com\r\n@at\tc\ta.com\r\n")
            write(os.path.join(self.store, "bob@b.com", "INBOX"), b"")

        runs = [("first run", None, ["--verify"], 0),
                ("sync", new_mail, ["--sync"], 0),
                ("verify-only", first_run, ["--verify-only"], 0),
                ("dry run", None, ["--dry-run"], 0),
                ("failures", failures, ["--verify"], 1)]
        for (name, prepare, args, expected), kind in itertools.product(
                runs, ["json", "csv"]):
            with self.subTest(run=name, report=kind):
                self.tearDown()
                self.setUp()
                if prepare:
                    prepare()
                report = os.path.join(self.dir, "r." + kind)
                status, out, _ = self.run_cli("--report", native(report),
                                              "--password-mode", "common",
                                              "--password", "s3cr3t-pw",
                                              *args)
                self.assertEqual(status, expected, out)
                text = e2e.read_bytes(report)
                self.assertNotIn(b"s3cr3t-pw", text)
                check = self.check_json if kind == "json" else self.check_csv
                check(name, text.decode("utf-8"), out)

    SUCCESS = ("added", "resumed", "synced")
    COUNTS = ["source_messages", "source_bytes", "copied", "copied_bytes",
              "already_present", "failed", "checked", "missing", "different"]

    def result_counts(self, out):
        """Summary, failed copies, verification findings of the list."""
        lines = out.splitlines()
        copies = [l for l in lines if "邮件复制失败:" in l]
        found = [l for l in lines if l.startswith(" " * 9 + "目标中")]
        for line in copies + found:  # paths in the platform's own form
            self.assertNotIn("/" if e2e.WINDOWS_PATHS else "\\",
                             line.split(":", 1)[1], line)
        # --verify-only migrates nothing and has no summary.
        shown = (summary(out) if any(SUMMARY.match(l) for l in lines)
                 else (0, 0, 0))
        return shown, len(copies), len(found)

    def check_path(self, path):
        if path:
            self.assertTrue(path.startswith(native(self.store)), path)
            self.assertNotIn("/" if e2e.WINDOWS_PATHS else "\\", path)

    def check_json(self, run, text, out):
        r = json.loads(text)
        t = r["totals"]
        for d in r["domains"]:
            self.assertEqual((bool(d["reason"]), bool(d["reason_key"])),
                             (d["outcome"] != "added",) * 2, d)
        sums = collections.Counter()
        for a in r["accounts"]:
            self.assertEqual((bool(a["reason"]), bool(a["reason_key"])),
                             (a["outcome"] not in self.SUCCESS,) * 2, a)
            self.check_path(a["target_mailbox"])
            for f in a["folders"]:
                for k in self.COUNTS:
                    sums[a["user"], k] += f[k]
            for k in self.COUNTS:
                self.assertEqual(sums[a["user"], k], a[k], (a["user"], k))
                sums[k] += a[k]
        for k in self.COUNTS:
            self.assertEqual(sums[k], t[k], k)
        self.assertEqual(
            collections.Counter(a["outcome"] for a in r["accounts"]),
            collections.Counter({k: v for k, v in
                                 t["account_outcomes"].items() if v}))
        shown, copies, found = self.result_counts(out)
        self.assertEqual((t["domains"], t["accounts"], t["messages"]), shown)
        self.assertEqual((t["copied"], t["failed"], t["missing"] +
                          t["different"]), (shown[2], copies, found))
        left_out = [a for a in r["accounts"] if a["user"] == "nobody"]
        self.assertEqual([(a["outcome"], a["reason_key"], a["reason"])
                          for a in left_out],
                         [("skipped-no-domain-line", "no_domain_line",
                           "该帐户的域名不在domain.ini中，未迁移")]
                         if run == "failures" else [])
        if run == "verify-only":
            self.assertEqual((t["checked"], t["verification"]), (4, "passed"))

    def check_csv(self, run, text, out):
        self.assertTrue(text.startswith("\ufeff"))
        rows = list(csv.DictReader(io.StringIO(text[1:], newline="")))
        self.assertEqual(list(rows[0]), [
            "user", "domain", "outcome", "reason", "target_mailbox",
            "folder"] + self.COUNTS + ["verification", "reason_key",
                                       "removed", "removed_bytes"])
        total = rows.pop()
        self.assertEqual(total["outcome"], "total")
        for k in self.COUNTS:
            self.assertEqual(sum(int(row[k]) for row in rows), int(total[k]))
        for row in rows:
            self.assertEqual(bool(row["reason"]),
                             row["outcome"] not in self.SUCCESS, row)
            self.check_path(row["target_mailbox"])
        shown, copies, found = self.result_counts(out)
        self.assertEqual((int(total["copied"]), int(total["failed"]),
                          int(total["missing"]) + int(total["different"])),
                         (shown[2], copies, found))
        users = [row["user"] for row in rows]
        if run == "failures":
            # Guarded against formulas, and every account present.
            self.assertEqual(sorted(set(users)), sorted(
                ["'-dash", "'=sum", "'@at", "ann", "bob", "nobody"]))
        else:
            # One row per folder: ann has five.
            self.assertEqual(users.count("ann"), 5)

    def test_progress_only_on_a_terminal(self):
        """Shown on a terminal unless turned off, elsewhere only when asked
        for; on a terminal of any width the line never reaches the last
        column, so it never wraps."""
        if e2e.WINDOWS_PATHS:
            self.skipTest("a POSIX pseudo-terminal is no Windows console")
        cases = [(80, [], True), (40, ["--progress"], True),
                 (80, ["--no-progress"], False), (None, [], False),
                 (None, ["--progress"], True)]
        for columns, flags, shown in cases:
            with self.subTest(columns=columns, flags=flags):
                shutil.rmtree(self.out)
                os.makedirs(self.out)
                if columns:
                    master, slave = pty.openpty()
                    fcntl.ioctl(slave, termios.TIOCSWINSZ,
                                struct.pack("HHHH", 24, columns, 0, 0))
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
                    for line in re.split(r"[\r\n]", err):
                        if PROGRESS.search(line):
                            self.assertLess(len(line.rstrip(" ")), columns)
                    if shown:  # wiped off before the closing message
                        end = err[err.rindex("2/2"):].split("\r")
                        self.assertEqual(end[1].strip(), "", repr(end))
                        self.assertTrue(end[2].startswith("Velquor"), end)
                else:
                    status, out, err = self.run_cli(*flags)
                self.assertEqual(status, 0)
                self.assertEqual(bool(re.search(r"acc(ounts)? 2/2", err)),
                                 shown, err)
                self.assertIsNone(PROGRESS.search(out), out)
        # A preview copies nothing and a check copies nothing: their lines
        # (and a preview's --stats) say what a run would copy, or what was
        # checked, never "copied".
        for flags, words in [(["--dry-run", "--stats"], "MB to copy)"),
                             (["--verify-only"], "verifying: messages")]:
            with self.subTest(flags=flags):
                status, out, err = self.run_cli("--progress", *flags)
                self.assertEqual(status, 0, out)
                self.assertIn(words, err)
                self.assertNotIn("copied", err)


if __name__ == "__main__":
    e2e.main()
