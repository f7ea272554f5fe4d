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
        problems = [l for l in lines if l.startswith(" " * 9)]
        self.assertEqual(len(problems), 2, out)
        self.assertTrue(problems[0].startswith(" " * 9 + "目标中的邮件与源邮件不同:"))
        self.assertTrue(problems[0].endswith("1.in"))
        self.assertTrue(problems[1].startswith(" " * 9 + "目标中缺少该邮件:"))
        self.assertTrue(problems[1].endswith("4.in"))
        self.assertEqual(snapshot(self.out), before)

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
