#!/usr/bin/env python3
"""End-to-end tests that nothing outside the target is touched (POSIX): links
planted in the mail store, manifests naming paths elsewhere, two spellings
of one target, records aimed at the target's files, and names that would
drive a terminal.

    confinement_test.py --program PATH
"""

import fcntl
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

import e2e_support as e2e
from e2e_support import golden, snapshot, write

OUTSIDE_KEPT = "（不在目标之内，未删除）"


class ConfinementTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-confined-")
        self.src = os.path.join(self.dir, "src")
        self.target = os.path.join(self.dir, "T")
        self.data = os.path.join(self.target, "data")
        self.store = os.path.join(self.target, "store")
        self.outside = os.path.join(self.dir, "outside")
        os.environ["VELQUOR_LOCK_DIR"] = self.dir
        write(os.path.join(self.data, "domain.cfg"),
              golden("e2e/target_domain.cfg"))
        write(os.path.join(self.data, "userauth.cfg"),
              golden("e2e/target_userauth.cfg"))
        write(os.path.join(self.data, "system.cfg"),
              ("<database><charset>utf-8</charset><advanced><directory>"
               "<mailstore>%s</mailstore></directory></advanced></database>"
               % self.store).encode("utf-8"))
        os.makedirs(self.store)
        write(os.path.join(self.src, "domain.ini"), "a.com\r\nb.com\r\n")
        write(os.path.join(self.src, "popusers.ini"),
              "ann\tc\ta.com\r\nbob\tc\ta.com\r\ncy@b.com\tc\tx\tb.com\r\n"
              "dee@b.com\tc\tx\tb.com\r\n")
        for box in ("ann", "bob", "cy@b.com", "dee@b.com"):
            for n in (1, 2):
                write(os.path.join(self.src, "mail", box, "%d.in" % n),
                      ("%s %d" % (box, n)).encode())
        # What a link could lead a removal to: a folder shaped like a
        # mailbox, with files and a folder of its own.
        for folder in ("INBOX", "Sent", "deep"):
            write(os.path.join(self.outside, folder, "keep.eml"), b"mine")
        for folder in ("Draft", "Trash"):
            os.makedirs(os.path.join(self.outside, folder))
        write(os.path.join(self.outside, "victim.txt"), b"victim")
        os.makedirs(os.path.join(self.outside, "empty"))

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def cli(self, *args):
        p = subprocess.run(e2e.command(*args), capture_output=True,
                           timeout=120)
        return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")

    def migrate(self, *extra):
        report = os.path.join(self.dir, "run.json")
        status, out, err = self.cli("--source", self.src, "--target",
                                    self.target, "--report", report, *extra)
        manifests = glob.glob(os.path.join(self.dir, "run.*.manifest"))
        return status, out.decode("utf-8"), err, manifests

    def assertOutsideUntouched(self, before, what):
        self.assertEqual(snapshot(self.outside), before, what)

    # Faults: a run that follows a link where it expects its staging
    # folder, a mailbox or a folder of one, and deletes or writes there
    # (as root, anywhere); a run that calls such an account migrated.
    def test_a_link_in_the_store_never_leads_a_run_outside(self):
        placements = [".vmtmp.stage.ann@a.com", "ann@a.com", "bob@a.com/Sent",
                      "cy@b.com/INBOX"]
        for place in placements:
            with self.subTest(place=place):
                self.setUp()
                link = os.path.join(self.store, place)
                os.makedirs(os.path.dirname(link), exist_ok=True)
                os.symlink(self.outside, link)
                before = snapshot(self.outside)
                status, out, err, _ = self.migrate()
                self.assertEqual(status, 1, out + err)
                self.assertOutsideUntouched(before, place)
                self.assertTrue(os.path.islink(link), place)
                self.tearDown()

    # Faults: an undo that follows a link planted where a migrated mailbox
    # was, or where a folder of it was, and removes what it finds there;
    # a preview that lists those files as to be removed; either calling
    # itself complete.
    def test_undo_never_follows_a_link_planted_after_the_run(self):
        for place in ("ann@a.com", "bob@a.com/INBOX"):
            with self.subTest(place=place):
                self.setUp()
                status, out, err, manifests = self.migrate()
                self.assertEqual(status, 0, out + err)
                planted = os.path.join(self.store, place)
                shutil.rmtree(planted)
                os.symlink(self.outside, planted)
                before = snapshot(self.outside)
                for dry in (["--dry-run"], []):
                    status, out, err = self.cli("--undo", manifests[0],
                                                "--target", self.target, *dry)
                    self.assertEqual(status, 1, out.decode() + err)
                    self.assertNotIn(self.outside.encode(), out)
                    self.assertOutsideUntouched(before, place)
                self.assertTrue(os.path.islink(planted))
                self.tearDown()

    # Faults: an undo that removes what a manifest names outside the
    # target (an absolute path elsewhere, a climb out of the store), or
    # says it did; an undo that calls itself complete after keeping them.
    def test_manifest_paths_outside_the_target_are_kept_and_named(self):
        status, out, err, manifests = self.migrate()
        self.assertEqual(status, 0, out + err)
        victim = os.path.join(self.outside, "victim.txt")
        st = os.lstat(victim)
        climb = self.store + "/../../outside/deep"
        with open(manifests[0], "a") as f:
            f.write("file-stamp %s %d %d %d.%09d %d.%09d\n" % (
                victim, st.st_size, st.st_ino, st.st_mtime_ns // 10**9,
                st.st_mtime_ns % 10**9, st.st_ctime_ns // 10**9,
                st.st_ctime_ns % 10**9))
            f.write("dir %s\n" % os.path.join(self.outside, "empty"))
            f.write("dir %s\n" % climb)
        before = snapshot(self.outside)
        for dry in (["--dry-run"], []):
            status, out, err = self.cli("--undo", manifests[0], "--target",
                                        self.target, *dry)
            text = out.decode("utf-8")
            self.assertEqual(status, 1, text + err)
            for path in (victim, os.path.join(self.outside, "empty"), climb):
                self.assertIn(path + OUTSIDE_KEPT, text)
            self.assertOutsideUntouched(before, dry)
        # The rest of the run is undone all the same.
        self.assertEqual(os.listdir(self.store), [])

    # Faults: --output naming a target that a --target run holds meets
    # another lock file, and writes beside that run; an undo by either
    # spelling likewise.
    def test_both_spellings_of_a_target_meet_one_lock(self):
        status, out, err, manifests = self.migrate()
        self.assertEqual(status, 0, out + err)
        users = e2e.read_bytes(os.path.join(self.data, "userauth.cfg"))
        with open(os.path.join(self.data, "velquor-migrate.lock"), "a") as f:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            for args in (["--source", self.src, "--output", self.target,
                          "--sync"],
                         ["--undo", manifests[0], "--output", self.target]):
                status, out, err = self.cli(*args)
                self.assertEqual(status, 1, err)
                self.assertIn("目标正由另一次运行使用", err)
        self.assertEqual(
            e2e.read_bytes(os.path.join(self.data, "userauth.cfg")), users)

    # Faults: an undo's --log or --report that lands on a configuration
    # file (named, or through a link), on the manifest it reads, or a
    # .csv report written as JSON.
    def test_undo_records_are_judged_as_a_runs_are(self):
        status, out, err, manifests = self.migrate()
        self.assertEqual(status, 0, out + err)
        link = os.path.join(self.dir, "r.json")
        os.symlink(os.path.join(self.data, "domain.cfg"), link)
        data_before = snapshot(self.data)
        for option, path in (("--log", os.path.join(self.data,
                                                    "userauth.cfg")),
                             ("--report", link), ("--log", manifests[0])):
            status, _, err = self.cli("--undo", manifests[0], "--target",
                                      self.target, "--dry-run", option, path)
            self.assertEqual(status, 2, option + path + err)
        self.assertEqual(snapshot(self.data), data_before)
        csv = os.path.join(self.dir, "u.csv")
        status, out, err = self.cli("--undo", manifests[0], "--target",
                                    self.target, "--dry-run", "--report", csv)
        self.assertEqual(status, 0, err)
        self.assertTrue(e2e.read_bytes(csv).startswith(
            b"\xef\xbb\xbfkind,name,outcome,reason\r\n"))

    # Faults: a name holding terminal control bytes (an escape sequence
    # that retitles the terminal) printed raw after being refused.
    def test_control_bytes_of_names_are_never_printed_raw(self):
        write(os.path.join(self.src, "popusers.ini"),
              b"ann\tc\ta.com\r\nx\x1b]2;owned\x07y\tc\ta.com\r\n")
        status, out, err, _ = self.migrate()
        self.assertEqual(status, 1, out + err)
        self.assertNotIn("\x1b", out + err)
        self.assertNotIn("\x07", out + err)
        self.assertIn("x\\u001b]2;owned\\u0007y", out)


if __name__ == "__main__":
    e2e.main()
