#!/usr/bin/env python3
"""Runs velquor-migrate where writes fail part-way: a file size limit, a
small full file system, directories made read-only while the run waits for
the user list. The configuration files must keep their last good content,
every failed copy must be reported, the run must end without the success
message and exit 1, and a later run with room must finish the migration.

    failing_disk_test.py --program PATH [unittest args]
"""

import os
import resource
import shutil
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # nothing written beside the sources
import harness  # noqa: E402
from harness import (SHORT_SUCCESS, HeldLock, domains_of, make_installation,
                     mask_times, read_bytes, tree, users_of)

COPY_FAILED = "邮件复制失败:"
ACCOUNT_FAILED = "该账户导入失败或者userauth.cfg文件读取错误！"
COPIES_FAILED = "复制失败的邮件数:"
MAILBOX_NOT_CREATED = "无法创建邮箱目录，该帐户未导入:"
NOBODY = 65534


def limit_file_size(limit):
    def preexec():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return preexec


def as_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class FailingDiskTest(harness.HardeningCase):
    def setUp(self):
        super().setUp()
        make_installation(self.src, domains=3, accounts=40, messages=2,
                          folders=1, standard_messages=2, seed=5)
        self.ref = os.path.join(self.dir, "ref")
        os.makedirs(self.ref)
        r = self.run_cli(output=self.ref)
        self.assertEqual(r.status, 0, r)
        self.ref_users = users_of(self.ref)
        self.ref_store = tree(os.path.join(self.ref, "store"))

    def assert_good_state(self, out):
        """Config files parse and hold a prefix of the full migration; every
        message file present is complete."""
        self.assertEqual(domains_of(out), domains_of(self.ref)[
            :len(domains_of(out))])
        users = users_of(out)
        self.assertEqual(users, self.ref_users[:len(users)])
        for path, data in tree(os.path.join(out, "store")).items():
            if os.path.basename(path) == harness.PENDING_MARK:
                continue
            self.assertIn(path, self.ref_store)
            self.assertEqual(data, self.ref_store[path], path)
        return users

    def assert_later_run_completes(self, out):
        r = self.run_cli(output=out)
        self.assertEqual(r.status, 0, r)
        self.assertIn(SHORT_SUCCESS, r.err)
        self.assertEqual(users_of(out), self.ref_users)
        self.assertEqual(mask_times(read_bytes(os.path.join(out,
                                                            "userauth.cfg"))),
                         mask_times(read_bytes(os.path.join(self.ref,
                                                            "userauth.cfg"))))
        self.assertEqual(tree(os.path.join(out, "store")), self.ref_store)

    def test_file_size_limit(self):
        # Larger messages and the user list past its first part cannot be
        # written; everything that fits is.
        limit = 12 * 1024
        r = self.run_cli(preexec=limit_file_size(limit))
        self.assert_failed_run(r)
        copy_failures = [l for l in r.lines if COPY_FAILED in l]
        too_big = [p for p, d in self.ref_store.items() if len(d) > limit]
        self.assertTrue(too_big)
        self.assertTrue(copy_failures)
        self.assertTrue(any(COPIES_FAILED in l for l in r.lines + [r.err]), r)
        users = self.assert_good_state(self.out)
        self.assertLess(len(users), len(self.ref_users))
        self.assertIn(ACCOUNT_FAILED, r.lines)
        self.assertLessEqual(os.path.getsize(os.path.join(self.out,
                                                          "userauth.cfg")),
                             limit)
        self.assert_later_run_completes(self.out)

    def test_small_full_file_system(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        mount = os.path.join(self.dir, "small")
        os.makedirs(mount)
        p = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=160k",
                            "tmpfs", mount], capture_output=True)
        if p.returncode != 0:
            self.skipTest("mounting a small tmpfs is not permitted here: " +
                          p.stderr.decode(errors="replace").strip())
        self.addCleanup(subprocess.run, ["umount", mount])
        out = os.path.join(mount, "out")
        os.makedirs(out)
        r = self.run_cli(output=out)
        self.assert_failed_run(r)
        self.assertTrue(any(COPY_FAILED in l or l == ACCOUNT_FAILED
                            for l in r.lines), r)
        self.assert_good_state(out)
        # With room again (the same files moved to a disk with space), a
        # second run finishes the migration.
        moved = os.path.join(self.dir, "moved")
        shutil.copytree(out, moved)
        self.assert_later_run_completes(moved)

    def run_blocked_then_read_only(self, read_only):
        """Starts a run as a user that permissions apply to, holding the
        user list's lock so that it stops after the domain step; makes the
        given folders read-only; then lets it go on."""
        for d in (self.dir, self.out):
            os.chmod(d, 0o777)
        preexec = None
        if os.geteuid() == 0:
            preexec = as_nobody
            try:
                probe = subprocess.run([harness.PROGRAM, "--version"],
                                       preexec_fn=as_nobody,
                                       capture_output=True).returncode
            except (OSError, subprocess.SubprocessError):
                probe = -1
            if probe != 0:
                self.skipTest("root ignores permission bits and the program "
                              "cannot run as nobody here (is its folder "
                              "closed to other users?)")
        lock = HeldLock(self.locks, "userauth.cfg")
        self.addCleanup(lock.release)
        p = self.start_cli(preexec=preexec)
        deadline = time.monotonic() + 120
        while len(self.current_domains()) < len(domains_of(self.ref)):
            if p.poll() is not None or time.monotonic() > deadline:
                p.kill()
                out, err = p.communicate()
                self.fail("the domain step did not finish: %s %s" % (
                    out.decode(errors="replace"),
                    err.decode(errors="replace")))
            time.sleep(0.01)
        users_before = read_bytes(os.path.join(self.out, "userauth.cfg"))
        for d in read_only:
            os.makedirs(d, exist_ok=True)
            os.chmod(d, 0o555)
        lock.release()
        out, err = p.communicate(timeout=300)
        for d in read_only:
            os.chmod(d, 0o777)
        return harness.Result(subprocess.CompletedProcess(
            p.args, p.returncode, out, err)), users_before

    def current_domains(self):
        try:
            return domains_of(self.out)
        except (OSError, AssertionError, Exception):
            return []

    def test_output_folder_made_read_only(self):
        # The mail store exists and stays writable; only the folder of the
        # configuration files turns read-only.
        store = os.path.join(self.out, "store")
        os.makedirs(store)
        os.chmod(store, 0o777)
        r, users_before = self.run_blocked_then_read_only([self.out])
        self.assert_failed_run(r)
        self.assertIn(ACCOUNT_FAILED, r.lines)
        # The user list keeps its last good content.
        self.assertEqual(read_bytes(os.path.join(self.out, "userauth.cfg")),
                         users_before)
        self.assertEqual(users_of(self.out), [])
        self.assert_later_run_completes(self.out)

    def test_mail_store_made_read_only(self):
        # No mailbox can be made: no account is added (a later run could
        # not copy its mail), each is named, and a later run does it all.
        store = os.path.join(self.out, "store")
        r, _ = self.run_blocked_then_read_only([store])
        self.assert_failed_run(r)
        refused = [l for l in r.lines if l.startswith(MAILBOX_NOT_CREATED)]
        self.assertEqual(len(refused), len(self.ref_users), r)
        self.assertEqual(users_of(self.out), [])
        self.assertEqual(tree(store), {})
        self.assert_later_run_completes(self.out)

if __name__ == "__main__":
    harness.main()
