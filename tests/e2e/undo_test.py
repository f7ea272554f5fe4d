#!/usr/bin/env python3
"""End-to-end tests of --undo: a run's manifest, and the undo of that run
on an installed target that held domains, accounts and mail before it.

    undo_test.py --program PATH [--runner CMD] [--windows-paths]
"""

import fcntl
import glob
import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import e2e_support as e2e
from e2e_support import golden, native, snapshot, write

# The run lock's file: written by every run, the undo included.
LOCK = os.path.join("data", "velquor-migrate.lock")


class UndoTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-undo-")
        self.src = os.path.join(self.dir, "src")
        self.target = os.path.join(self.dir, "T")
        self.store = os.path.join(self.target, "store")
        # The configuration files' locks, which a server writer takes too.
        self.locks = os.path.join(self.dir, "locks")
        os.mkdir(self.locks, 0o700)
        os.environ["VELQUOR_LOCK_DIR"] = self.locks
        write(os.path.join(self.target, "data", "domain.cfg"),
              golden("e2e/target_domain.cfg"))
        write(os.path.join(self.target, "data", "userauth.cfg"),
              golden("e2e/target_userauth.cfg"))
        write(os.path.join(self.target, "data", "mailgroup.cfg"),
              golden("config/mailgroup_empty.cfg"))
        write(os.path.join(self.target, "data", "system.cfg"),
              ("<database><charset>utf-8</charset><advanced><directory>"
               "<mailstore>%s</mailstore></directory></advanced></database>"
               % native(self.store)).encode("utf-8"))
        # "kept" is there before the run, with mail a sync adds to.
        write(os.path.join(self.store, "kept", "INBOX", "0.eml"), b"old")
        write(os.path.join(self.src, "domain.ini"),
              "old.com\r\na.com\r\nb.com\r\n")
        write(os.path.join(self.src, "popusers.ini"),
              "kept\tc\told.com\r\nann\tc\ta.com\r\nbob\tc\ta.com\r\n"
              "cy@b.com\tc\tx\tb.com\r\n")
        mail = os.path.join(self.src, "mail")
        write(os.path.join(mail, "kept", "7.in"), b"new for kept")
        write(os.path.join(mail, "ann", "1.in"), b"one")
        write(os.path.join(mail, "ann", "2.sed"), b"two!")
        write(os.path.join(mail, "ann", "Folders.ini"), "work\t0\r\n")
        write(os.path.join(mail, "ann", "3.0"), b"three")
        write(os.path.join(mail, "bob", "4.in"), b"four")
        write(os.path.join(mail, "cy@b.com", "5.in"), b"five")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def state(self):
        found = snapshot(self.target)
        found.pop(LOCK, None)
        # The record of what the runs saw (for the next sync) is a run
        # record, as the manifests are, not part of the target.
        for key in [k for k in found
                    if k.startswith("data/velquor-migrate-runs")]:
            found.pop(key)
        return found

    def cli(self, *args):
        p = subprocess.run(e2e.command(*args), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=300)
        return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")

    def migrate(self, name="run", src=None):
        """A --sync run with a report; returns its manifest's path."""
        report = os.path.join(self.dir, name + ".json")
        status, out, err = self.cli("--source", native(src or self.src),
                                    "--target", native(self.target), "--sync",
                                    "--report", native(report))
        self.assertEqual(status, 0, out + err)
        manifests = glob.glob(os.path.join(self.dir, name + ".*.manifest"))
        self.assertEqual(len(manifests), 1)
        with open(report, encoding="utf-8") as f:
            self.assertEqual(json.load(f)["manifest"], native(manifests[0]))
        return manifests[0]

    def undo(self, manifest, *args):
        return self.cli("--undo", native(manifest), "--target",
                        native(self.target), *args)

    def start_undo(self, manifest, *args):
        return subprocess.Popen(
            e2e.command("--undo", native(manifest), "--target",
                        native(self.target), *args),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    # Faults: something the run added that the manifest misses (a folder,
    # a message, an item's bytes); an undo that touches what was there
    # before; a dry run that writes; a second undo, through the manifest
    # beside the report or its copy in the runs folder, that is not a no-op
    # or does not say the run was undone;
    # staging folders of the run's accounts (as a run killed while it
    # staged them leaves them) kept, or another's ("ann" is the primary
    # domain's, not the run's ann@a.com) removed.
    def test_undo_gives_back_the_target_byte_for_byte(self):
        stage = os.path.join(self.store, ".vmtmp.stage.")
        write(os.path.join(stage + "ann", "velquor-migrate.pending"), b"")
        before = self.state()
        manifest = self.migrate()
        for box in ("ann@a.com", "bob@a.com"):
            write(os.path.join(stage + box, "velquor-migrate.pending"), b"")
            write(os.path.join(stage + box, "INBOX", "9.in"), b"staged")
        after_run = self.state()
        self.assertNotEqual(after_run, before)
        status, out, _ = self.undo(manifest, "--dry-run")
        self.assertEqual(status, 0, out)
        self.assertEqual(self.state(), after_run)
        self.assertIn("预览完成，未删除任何内容", out)
        self.assertIn("将删除:%s" % native(os.path.join(self.store, "ann@a.com")),
                      out)
        self.assertIn("将删除:%s" % native(stage + "bob@a.com"), out)
        self.assertNotIn("已删除:", out)
        status, out, err = self.undo(manifest)
        self.assertEqual(status, 0, out + err)
        self.assertEqual(self.state(), before)
        self.assertIn("已删除:%s" % native(os.path.join(self.store, "ann@a.com")),
                      out)
        self.assertIn("已删除:%s" % native(stage + "ann@a.com"), out)
        # Both copies say undone; an undo through either does nothing.
        runs = os.path.join(self.target, "data", "velquor-migrate-runs")
        with open(manifest, "rb") as f:
            marked = f.read()
        self.assertRegex(
            marked[-40:], rb"\n\nundone \d{4}-\d\d-\d\dT[\d:]{8}Z\n$")
        twins = [p for p in glob.glob(os.path.join(runs, "*.manifest"))
                 if open(p, "rb").read() == marked]
        self.assertEqual(len(twins), 1)
        for copy in (manifest, twins[0]):
            status, out, _ = self.undo(copy)
            self.assertEqual(status, 0, out)
            self.assertNotIn("已删除:", out)
            self.assertIn("该次运行已撤销过", out)
            self.assertEqual(self.state(), before)

    # Faults: a changed message removed (rewritten in place with its size
    # and its time put back, in a new mailbox, which is built aside and
    # renamed into place, and in one that was there); the account of a
    # changed mailbox removed, or kept without it; an undo that calls
    # itself complete anyway. The untouched new mailbox going shows that
    # its rename left the copies provably as they were.
    def test_changes_after_the_run_are_kept_and_named(self):
        manifest = self.migrate()
        inbox = os.path.join(self.store, "bob@a.com", "INBOX")
        [message] = os.listdir(inbox)
        kept_inbox = os.path.join(self.store, "kept", "INBOX")
        [copied] = set(os.listdir(kept_inbox)) - {"0.eml"}
        for path, data in ((os.path.join(inbox, message), b"FOUR"),
                           (os.path.join(kept_inbox, copied), b"NEW FOR KEPT")):
            was = os.stat(path)
            with open(path, "r+b") as f:
                f.write(data)
            os.utime(path, ns=(was.st_atime_ns, was.st_mtime_ns))
            self.assertEqual(os.stat(path).st_size, was.st_size)
        status, out, _ = self.undo(manifest)
        self.assertEqual(status, 1, out)
        self.assertIn("已保留:%s（运行后大小或内容已改变）"
                      % native(os.path.join(kept_inbox, copied)), out)
        self.assertIn("已保留:bob@a.com（帐户与邮箱及其中迁移的邮件一并保留:"
                      "运行后大小或内容已改变）", out)
        self.assertNotIn(native(inbox), out)
        self.assertIn("撤销未完成", out)
        self.assertFalse(os.path.exists(os.path.join(self.store, "ann@a.com")))
        self.assertEqual(os.listdir(inbox), [message])

    # Faults: mailboxes kept by how the store is spelled rather than by
    # what it reaches (an undo given another spelling of the run's output
    # folder removes the mail of an account it keeps, or keeps another);
    # records naming the manifest by a path relative to a working folder
    # the undo is not in.
    def test_any_spelling_of_the_target_keeps_the_same_mailboxes(self):
        elsewhere = os.path.join(self.dir, "elsewhere")
        os.mkdir(elsewhere)

        def cli_in(cwd, *args):
            p = subprocess.run(e2e.command(*args), capture_output=True,
                               cwd=cwd, timeout=300)
            return p.returncode, p.stdout.decode("utf-8") + p.stderr.decode(
                "utf-8")

        status, out = cli_in(self.dir, "--source", native(self.src),
                             "--output", "O", "--report", "run.json")
        self.assertEqual(status, 0, out)
        with open(os.path.join(self.dir, "run.json"), encoding="utf-8") as f:
            manifest = json.load(f)["manifest"]
        if e2e.WINDOWS_PATHS:
            self.assertTrue(manifest.startswith("Z:\\"), manifest)
        else:
            self.assertTrue(os.path.isfile(manifest), manifest)
            self.assertTrue(os.path.isabs(manifest), manifest)
        [inbox] = glob.glob(os.path.join(self.dir, "O", "*", "ann@a.com",
                                         "INBOX"))
        write(os.path.join(inbox, "new.eml"), b"arrived after the run")
        ann = sorted(os.listdir(inbox))
        kept = []
        spellings = [(self.dir, "O/"), (self.dir, "./O"), (elsewhere, "../O"),
                     (elsewhere, native(os.path.join(self.dir, "O")))]
        for cwd, spelling in spellings:
            given = (manifest if e2e.WINDOWS_PATHS else
                     os.path.relpath(manifest, cwd))
            status, out = cli_in(cwd, "--undo", given, "--output", spelling,
                                 "--dry-run")
            self.assertEqual(status, 1, spelling)
            lines = out.splitlines()
            # The list names the manifest where it lies, however given.
            self.assertTrue(lines[0].endswith(manifest), lines[0])
            kept.append(sorted(l for l in lines if l.startswith("将保留:")))
            self.assertEqual([l for l in lines if "ann@a.com" in l and
                              not l.startswith("将保留:ann@a.com（")], [],
                             spelling)
        self.assertIn("ann@a.com", kept[0][0] + kept[0][-1])
        self.assertEqual(kept, [kept[0]] * len(spellings))
        status, out = cli_in(elsewhere, "--undo", manifest, "--output", "../O",
                             "--report", "undo.json")
        self.assertEqual(status, 1, out)
        self.assertEqual(sorted(os.listdir(inbox)), ann)
        with open(os.path.join(elsewhere, "undo.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f)["manifest"], manifest)

    # A killed run leaves a manifest whose last line is torn, and an undo
    # killed half way has removed only part of what is listed: undoing
    # what the torn manifest lists, then the whole, gives the target back.
    def test_killed_run_and_killed_undo_are_finished_by_a_rerun(self):
        before = self.state()
        manifest = self.migrate()
        with open(manifest, "rb") as f:
            lines = f.read().split(b"\n")
        torn = os.path.join(self.dir, "torn.manifest")
        half = len(lines) // 2
        with open(torn, "wb") as f:
            f.write(b"\n".join(lines[:half]) + b"\n" + lines[half][:9])
        status, out, _ = self.undo(torn)
        self.assertIn(status, (0, 1), out)
        self.assertIn("已删除:", out)
        status, out, err = self.undo(manifest)
        self.assertEqual(status, 0, out + err)
        self.assertEqual(self.state(), before)

    # Faults: an interrupt that ends the undo without its log and report,
    # or with a status other than 130; an undo interrupted or killed half
    # way that leaves what a rerun cannot finish.
    def test_interrupted_and_killed_undo_are_finished_by_a_rerun(self):
        if e2e.WINDOWS_PATHS:
            self.skipTest("sends POSIX signals")
        big = os.path.join(self.dir, "big")
        e2e.make_installation(big, "--domains", "2", "--accounts", "800",
                              "--messages", "0", "--folders", "0",
                              "--standard-messages", "1")
        before = self.state()
        manifest = self.migrate(src=big)
        report, log = (os.path.join(self.dir, n) for n in ("u.json", "u.log"))
        for sig in (signal.SIGINT, signal.SIGKILL):
            boxes = len(os.listdir(self.store))
            p = self.start_undo(manifest, "--report", report, "--log", log)
            while len(os.listdir(self.store)) == boxes:
                self.assertIsNone(p.poll(), "the undo ended first")
            p.send_signal(sig)
            err = p.communicate(timeout=300)[1].decode("utf-8")
            if sig == signal.SIGINT:
                self.assertEqual(p.returncode, 130, err)
                self.assertIn("撤销已中断", err)
                with open(report, encoding="utf-8") as f:
                    done = json.load(f)
                self.assertTrue(done["stopped"])
                self.assertLessEqual({"removed", "not-reached"},
                                     {i["outcome"] for i in done["items"]})
                with open(log, encoding="utf-8") as f:
                    self.assertIn("(exit status 130)", f.read().splitlines()[-1])
        self.assertEqual(p.returncode, -signal.SIGKILL)
        status, out, err = self.undo(manifest)
        self.assertEqual(status, 0, out + err)
        self.assertEqual(self.state(), before)

    # A server writes while the undo runs: it adds an account (under the
    # user list's lock, which it holds until the undo says it waits for
    # it: the undo looks at the accounts before it removes anything, so it
    # cannot end first) and mail to an account of its own and to one that
    # was there before. Faults: an undo whose save drops the server's
    # account; one that removes mail it did not copy; one that waits for
    # the lock in silence.
    def test_what_a_server_adds_during_the_undo_stays(self):
        if e2e.WINDOWS_PATHS:
            self.skipTest("the server's lock is a POSIX flock here")
        before = self.state()
        manifest = self.migrate()
        users = os.path.join("data", "userauth.cfg")
        lock = os.open(os.path.join(self.locks, "Tarnwick_userauth.cfg"),
                       os.O_RDWR | os.O_CREAT, 0o600)
        self.addCleanup(os.close, lock)
        fcntl.flock(lock, fcntl.LOCK_EX)
        p = self.start_undo(manifest)
        self.assertIn("userauth.cfg", p.stderr.readline().decode("utf-8"))
        mail = {os.path.join("store", "kept", "INBOX", "9.eml"): b"to kept",
                os.path.join("store", "srv", "INBOX", "1.eml"): b"to srv"}
        for path, data in mail.items():
            write(os.path.join(self.target, path), data)
        item = b"<item>\r\n<name>srv</name>\r\n<domain/>\r\n</item>\r\n"
        text = e2e.read_bytes(os.path.join(self.target, users))
        with open(os.path.join(self.target, users), "r+b") as f:
            f.write(text.replace(b"</user>", item + b"</user>"))
        fcntl.flock(lock, fcntl.LOCK_UN)
        err = p.communicate(timeout=300)[1].decode("utf-8")
        self.assertEqual(p.returncode, 0, err)
        after = self.state()
        self.assertEqual(after.pop(users).replace(item, b""), before.pop(users))
        for path, data in mail.items():
            self.assertEqual(after.pop(path), data)
        for folder in ("srv", os.path.join("srv", "INBOX")):
            self.assertIsNone(after.pop(os.path.join("store", folder)))
        self.assertEqual(after, before)

    # Fault: a sync's manifest that lists what an earlier run added (an
    # account, a mailbox, a folder), so that undoing the sync takes it too.
    def test_undoing_a_later_sync_keeps_the_first_run(self):
        before = self.state()
        first = self.migrate()
        after_first = self.state()
        write(os.path.join(self.src, "mail", "ann", "8.in"), b"eight")
        write(os.path.join(self.src, "mail", "bob", "9.in"), b"nine")
        sync = self.migrate("sync")
        self.assertNotEqual(self.state(), after_first)
        for manifest, state in ((sync, after_first), (first, before)):
            status, out, err = self.undo(manifest)
            self.assertEqual(status, 0, out + err)
            self.assertEqual(self.state(), state)

    # Faults: a damaged manifest or one of another target partly applied.
    def test_damaged_or_foreign_manifest_removes_nothing(self):
        manifest = self.migrate()
        after_run = self.state()
        with open(manifest, "rb") as f:
            text = f.read()
        damaged = os.path.join(self.dir, "damaged.manifest")
        with open(damaged, "wb") as f:
            f.write(text.replace(b"\ndir ", b"\ndir  ", 1))
        other = os.path.join(self.dir, "other")
        shutil.copytree(os.path.join(self.target, "data"),
                        os.path.join(other, "data"))
        for args, words in (((damaged, "--target", native(self.target)),
                             "运行清单已损坏"),
                            ((manifest, "--target", native(other)),
                             "运行清单属于另一个目标")):
            status, out, err = self.cli("--undo", native(args[0]), *args[1:])
            self.assertEqual(status, 1, err)
            self.assertIn(words, err)
            self.assertEqual(self.state(), after_run)


if __name__ == "__main__":
    e2e.main()
