#!/usr/bin/env python3
"""Kills velquor-migrate with SIGKILL at random moments of a migration and
checks after every kill that the configuration files parse and grew only by
a prefix of what an uninterrupted run adds, and that the mail store holds
nothing but good copies (a copy cut short only in a mailbox still marked
pending). A final run then completes the migration, and the output equals
that of the uninterrupted run: every account once, every message byte for
byte. A run under a file size limit, whose writes fail part-way, must leave
the same kind of state, say what failed, exit 1, and let a later run finish.

    crash_test.py --program PATH [--kills N] [--seed N] [unittest args]
"""

import argparse
import glob
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "e2e"))
import e2e_support as e2e  # noqa: E402
from e2e_support import PENDING, SHORT_SUCCESS  # noqa: E402

# The run lock every writing run makes in the output folder.
LOCK = "velquor-migrate.lock"
# Where a run keeps its manifest when no --report or --log names a folder.
RUNS = "velquor-migrate-runs"

CONFIG_FILES = ("domain.cfg", "userauth.cfg", "mailgroup.cfg")
TEMP_PATTERN = re.compile(r"\.vmtmp\.")
# A new mailbox is built under this prefix of its name, hidden from the
# server, and shown by one rename once complete.
STAGING = ".vmtmp.stage."


def domains_of(out):
    return e2e.config_items(out, "domain.cfg", "domain", ["domain"])


def users_of(out):
    return e2e.config_items(out, "userauth.cfg", "user", ["name", "domain"])


def tree(base):
    return e2e.tree(base, e2e.read_masked)


def limit_file_size(limit):
    def preexec():
        # As a shell's `ulimit -f` leaves it: the signal would end the
        # process unless the program ignores it.
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return preexec


class CrashSafetyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-crash-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)
        os.makedirs(os.path.join(self.dir, "locks"))
        self.env = dict(os.environ,
                        VELQUOR_LOCK_DIR=os.path.join(self.dir, "locks"))
        e2e.make_installation(self.src, "--domains", "4", "--accounts", "80",
                              "--messages", "3", "--folders", "2",
                              "--standard-messages", "3", "--seed", "11")
        self.ref = os.path.join(self.dir, "ref")
        os.makedirs(self.ref)
        start = time.monotonic()
        status, _, err = self.run_cli(output=self.ref)
        self.duration = time.monotonic() - start
        self.assertEqual(status, 0, err)
        self.ref_domains = domains_of(self.ref)
        self.ref_users = users_of(self.ref)
        self.ref_store = tree(os.path.join(self.ref, "store"))
        self.assertEqual(len(self.ref_users), 80)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def command(self, output=None):
        return [e2e.PROGRAM, "--source", self.src, "--output",
                output or self.out]

    def run_cli(self, output=None, preexec=None):
        p = subprocess.run(self.command(output), capture_output=True,
                           timeout=300, env=self.env, preexec_fn=preexec)
        return (p.returncode, p.stdout.decode("utf-8", "replace"),
                p.stderr.decode("utf-8", "replace"))

    def fresh_output(self):
        shutil.rmtree(self.out)
        os.makedirs(self.out)
        return {"domains": 0, "users": 0, "partial": 0, "staging": 0}

    def check_interrupted(self, seen):
        # A kill before start-up wrote a skeleton leaves that file absent,
        # which is only right while nothing has been added to it yet.
        for key, name, read in (("domains", "domain.cfg", domains_of),
                                ("users", "userauth.cfg", users_of)):
            if not os.path.exists(os.path.join(self.out, name)):
                self.assertEqual(seen[key], 0, "%s vanished" % name)
                continue
            found = read(self.out)
            ref = self.ref_domains if key == "domains" else self.ref_users
            self.assertEqual(found, ref[:len(found)])
            self.assertGreaterEqual(len(found), seen[key])
            seen[key] = len(found)
        for name in os.listdir(self.out):
            if not TEMP_PATTERN.search(name):
                self.assertIn(name, CONFIG_FILES + ("store", LOCK, RUNS))
        store = os.path.join(self.out, "store")
        if os.path.isdir(store) and any(n.startswith(STAGING)
                                        for n in os.listdir(store)):
            seen["staging"] += 1
        for path, data in tree(store).items():
            if os.path.basename(path) == PENDING:
                continue
            if path.startswith(STAGING):
                # Seen by nobody: any start of the mailbox's files.
                path = path[len(STAGING):]
                self.assertIn(path, self.ref_store, "a staged file no run "
                              "would write")
                self.assertTrue(self.ref_store[path].startswith(data), path)
                continue
            self.assertIn(path, self.ref_store, "a file no run would write")
            if data != self.ref_store[path]:
                # Only a copy in progress when the kill came.
                box = path.split(os.sep)[0]
                self.assertTrue(os.path.exists(os.path.join(
                    store, box, PENDING)), "%s differs outside a "
                    "pending mailbox" % path)
                self.assertTrue(self.ref_store[path].startswith(data), path)
                seen["partial"] += 1

    def check_complete(self):
        for name in CONFIG_FILES:
            self.assertEqual(e2e.read_masked(os.path.join(self.out, name)),
                             e2e.read_masked(os.path.join(self.ref, name)), name)
        self.assertEqual(tree(os.path.join(self.out, "store")),
                         self.ref_store)
        self.assertEqual([n for n in os.listdir(self.out)
                          if TEMP_PATTERN.search(n)], [],
                         "temporary files left behind")
        self.assertEqual([n for n in os.listdir(os.path.join(self.out, "store"))
                          if n.startswith(STAGING)], [],
                         "staging folders left behind")

    def test_killed_runs_lose_nothing(self):
        # Kills land at random moments of a run; each later run resumes the
        # migration. When a run ends before its kill (the migration is
        # complete), the result is checked and the next kills start over in
        # an empty output folder, until --kills kills have hit running runs.
        rng = random.Random(e2e.OPTIONS.seed)
        seen = self.fresh_output()
        landed = attempts = cycles = partial = staging = 0
        # A loaded machine can let every planned kill miss the staging
        # window; then the kills go on until one lands in it.
        while landed < e2e.OPTIONS.kills or staging + seen["staging"] == 0:
            attempts += 1
            self.assertLess(attempts, e2e.OPTIONS.kills * 10,
                            "runs keep ending first")
            p = subprocess.Popen(self.command(), stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, env=self.env)
            # The planned kills land early in a run; once they have, later
            # ones spread over the whole run, where mailboxes are staged
            # (early kills can keep landing in start-up on a slow build).
            late = landed >= e2e.OPTIONS.kills
            time.sleep(rng.uniform(0.0, self.duration / (1 if late else 20)))
            p.send_signal(signal.SIGKILL)
            p.communicate()
            if p.returncode == -signal.SIGKILL:
                landed += 1
                self.check_interrupted(seen)
            else:
                self.assertEqual(p.returncode, 0)
                self.check_complete()
                partial += seen["partial"]
                staging += seen["staging"]
                seen = self.fresh_output()
                cycles += 1
        status, _, err = self.run_cli()
        self.assertEqual(status, 0, err)
        self.assertIn(SHORT_SUCCESS, err)
        self.check_complete()
        # Kills landed while a mailbox was staged, and the runs after them
        # removed or finished every staging folder.
        staging += seen["staging"]
        self.assertGreater(staging, 0, "no kill landed while staging")
        print("\n%d kills in %d runs over %d migrations, %d partial copies "
              "seen, %d kills while staging, uninterrupted run %.2fs" % (
                  landed, attempts, cycles + 1, partial + seen["partial"],
                  staging, self.duration), file=sys.stderr)

    def test_terminated_runs_save_every_account_they_added(self):
        # SIGTERM and SIGINT save the additions held in memory before the
        # program ends: every account the result list shows as imported is
        # in the user list afterwards.
        rng = random.Random(e2e.OPTIONS.seed)
        for sig in (signal.SIGTERM, signal.SIGINT) * 4:
            self.fresh_output()
            began = time.monotonic()
            p = subprocess.Popen(self.command(), stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, env=self.env)
            # Its first line says it runs: a signal before the program has
            # started at all ends it as it would any program, which a
            # loaded machine can stretch past the planned moment.
            first = p.stdout.readline()
            time.sleep(max(0.0, began - time.monotonic() + rng.uniform(
                self.duration / 4, self.duration * 3 / 4)))
            p.send_signal(sig)
            out = (first + p.communicate()[0]).decode("utf-8", "replace")
            if p.returncode == 0:
                continue  # the run ended first
            self.assertEqual(p.returncode, 130)
            imported = {l.split(":", 1)[1].split("@")[0]
                        for l in out.splitlines() if l.startswith("导入帐户:")}
            self.assertLessEqual(imported,
                                 {name for name, _ in users_of(self.out)})
            self.check_interrupted({"domains": 0, "users": 0, "partial": 0,
                                    "staging": 0})

    def test_file_size_limit_fails_visibly_and_loses_nothing(self):
        # Larger messages and the user list past its first part cannot be
        # written; everything that fits is, and a later run finishes.
        limit = 12 * 1024
        self.assertTrue(any(len(d) > limit for d in self.ref_store.values()))
        status, out, err = self.run_cli(preexec=limit_file_size(limit))
        lines = out.splitlines()
        self.assertEqual((status, err), (1, ""), out)
        self.assertTrue(any("邮件复制失败:" in l for l in lines), out)
        # A failed save of the user list names each account it held, and
        # says why (the manifest, written ahead of the save, may be the
        # file that met the limit first).
        self.assertTrue(any(l.startswith("该帐户未能保存到userauth.cfg:") and
                            l.endswith("超过文件大小限制）")
                            for l in lines), out)
        self.assertTrue(lines[-1].startswith("复制失败的邮件数:"), out)
        self.assertLess(len(users_of(self.out)), len(self.ref_users))
        self.check_interrupted({"domains": 0, "users": 0, "partial": 0,
                                "staging": 0})
        status, _, err = self.run_cli()
        self.assertEqual(status, 0, err)
        self.check_complete()


class FullVolumeTest(unittest.TestCase):
    """userauth.cfg rewritten in place (its folder takes no temporary file
    from the user who runs the migration) on a volume that cannot hold the
    new text: the save fails and names its accounts, and the file stays
    whole for the server and later runs."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small volume needs root")
        # The small volume for the output; the rest on a tmpfs as well,
        # where thousands of folders come and go quickly.
        self.dir = tempfile.mkdtemp(prefix="vm-full-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.volume = os.path.join(self.dir, "volume")
        for path, size in ((self.dir, "64m"), (self.volume, "4m")):
            os.makedirs(path, exist_ok=True)
            if subprocess.run(["mount", "-t", "tmpfs", "-o",
                               "size=%s,mode=0755" % size, "tmpfs",
                               path]).returncode != 0:
                self.skipTest("cannot mount a tmpfs")
            self.addCleanup(subprocess.run, ["umount", path])

    def test_in_place_save_on_a_full_volume_keeps_the_file(self):
        src = os.path.join(self.dir, "src")
        e2e.make_installation(src, "--domains", "4", "--accounts", "2500",
                              "--messages", "0", "--folders", "0",
                              "--standard-messages", "0", "--seed", "3")
        popusers = os.path.join(src, "popusers.ini")
        every_account = e2e.read_bytes(popusers)
        # The mail store lies elsewhere; only the configuration files fill
        # the volume.
        out, store = os.path.join(self.volume, "out"), os.path.join(
            self.dir, "store")
        locks = os.path.join(self.dir, "locks")
        # The log, and the run's manifest beside it, go off the volume;
        # its copy in the runs folder is on it, and is dropped once the
        # volume is full: only the configuration files fill it.
        records = os.path.join(self.dir, "records")
        for d in (out, store, locks, records):
            os.makedirs(d)
        os.chmod(locks, 0o777)
        os.chmod(records, 0o777)
        e2e.write(os.path.join(out, "system.cfg"), "<database><advanced>"
                  "<directory><mailstore>%s</mailstore></directory>"
                  "</advanced></database>" % store)
        run = lambda **kw: subprocess.run(
            [e2e.OPTIONS.program, "--source", src, "--output", out,
             "--log", os.path.join(records, "run.log")],
            capture_output=True, timeout=300,
            env=dict(os.environ, VELQUOR_LOCK_DIR=locks), **kw)
        # The first run: 1,500 accounts.
        e2e.write(popusers, b"".join(every_account.splitlines(True)[:1500]))
        p = run()
        self.assertEqual(p.returncode, 0, p.stderr.decode())
        before = e2e.read_bytes(os.path.join(out, "userauth.cfg"))
        self.assertEqual(len(users_of(out)), 1500)

        # An administrator who may write the files but not their folder.
        os.chmod(os.path.join(records, "run.log"), 0o666)
        for name in CONFIG_FILES:
            os.chmod(os.path.join(out, name), 0o666)
        for d, _, _ in os.walk(store):
            os.chown(d, 65534, 65534)
        # Fill the volume, then free less than the 1,000 new users need.
        # Unbuffered: a buffered file would try the refused bytes again
        # when it is truncated or closed, and fail there.
        with open(os.path.join(self.volume, "filler"), "wb",
                  buffering=0) as f:
            try:
                while f.write(b"\0" * 65536):
                    pass
            except OSError:
                pass
            size = os.fstat(f.fileno()).st_size
            os.ftruncate(f.fileno(), max(size - 65536, 0))
        e2e.write(popusers, every_account)
        p = run(preexec_fn=e2e.as_nobody())
        result = p.stdout.decode("utf-8", "replace")
        self.assertEqual(p.returncode, 1, p.stderr.decode())
        self.assertIn("该帐户未能保存到userauth.cfg:", result)
        users = users_of(out)  # raises when the file was cut off
        self.assertLess(len(users), 2500)
        self.assertTrue(e2e.read_bytes(os.path.join(out, "userauth.cfg"))
                        .startswith(before[:before.rindex(b"</user>")]))
        # The second run's copy could not be written whole: it is gone,
        # the first run's stays.
        self.assertEqual(len(glob.glob(os.path.join(
            out, "velquor-migrate-runs", "*.manifest"))), 1)


def setUpModule():
    print("kill moments seeded with --seed %d" % e2e.OPTIONS.seed,
          file=sys.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--kills", type=int, default=32)
    parser.add_argument("--seed", type=int,
                        default=random.randrange(1 << 30))
    e2e.main(parser)
