#!/usr/bin/env python3
"""Kills a migration with SIGKILL at random instants (seeded) and undoes it
from the manifest it left, every time on a fresh copy of one target: after
the undo the target is what it was before the run (the run's records
aside), or the undo is no success and names every difference it left. The
source has a few hundred accounts with mail in three domains (the primary
one among them); a quarter of them meet a mailbox folder that is already
there, so copies go both into staged new mailboxes and into existing ones.

    kill_undo_test.py --program PATH [unittest args]

VELQUOR_KILL_TRIALS sets the number of kills (default 30; 200 or more for
the full trial); VELQUOR_KILL_SEED the seed (default 40).
"""

import glob
import os
import random
import re
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
from e2e_support import golden, native, snapshot, write  # noqa: E402

RECORDS = (os.path.join("data", "velquor-migrate.lock"),
           os.path.join("data", "velquor-migrate-runs"))
DOMAINS = ("old.com", "a.com", "b.com")  # old.com is the target's primary
KEPT = re.compile(r"^已保留:(.*?)（")


def box_names(what):
    """The mailbox folders a kept account "user@domain" may have."""
    user, _, domain = what.partition("@")
    return {user, what} if domain else {what}


def run_order(path):
    """Records of runs started in one second are named STAMP.manifest,
    STAMP-2.manifest, ...: in the order of their runs, not of their names."""
    m = re.match(r"(.*?)(?:-(\d+))?\.manifest$", os.path.basename(path))
    return m.group(1), int(m.group(2) or 1)


def snapshot_without_records(target):
    found = snapshot(target)
    return {path: value for path, value in found.items()
            if not path.startswith(RECORDS)}


class KillUndoTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-kill-undo-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.src = os.path.join(self.dir, "src")
        self.base = os.path.join(self.dir, "base")
        self.locks = os.path.join(self.dir, "locks")
        os.mkdir(self.locks, 0o700)
        self.env = dict(os.environ, VELQUOR_LOCK_DIR=self.locks)
        accounts = []
        for n in range(300):
            domain = DOMAINS[n % 3]
            user = "u%03d" % n
            accounts.append("%s\tpw\t%s\r\n" % (user, domain))
            for m in range(1 + n % 4):
                write(os.path.join(self.src, "mail", user, "%d.in" % m),
                      b"message %d of %s\r\n" % (m, user.encode()) * 40)
            if n % 4 == 0:  # an empty mailbox folder is there already
                box = user if domain == DOMAINS[0] else user + "@" + domain
                os.makedirs(os.path.join(self.base, "store", box, "INBOX"))
        write(os.path.join(self.src, "domain.ini"), "\r\n".join(DOMAINS))
        write(os.path.join(self.src, "popusers.ini"), "".join(accounts))
        data = os.path.join(self.base, "data")
        write(os.path.join(data, "domain.cfg"), golden("e2e/target_domain.cfg"))
        write(os.path.join(data, "userauth.cfg"),
              golden("e2e/target_userauth.cfg"))
        write(os.path.join(data, "mailgroup.cfg"),
              golden("config/mailgroup_empty.cfg"))
        self.target = os.path.join(self.dir, "T")
        write(os.path.join(data, "system.cfg"),
              ("<database><charset>utf-8</charset><advanced><directory>"
               "<mailstore>%s</mailstore></directory></advanced></database>"
               % native(os.path.join(self.target, "store"))).encode())
        self.before = snapshot(self.base)

    def state(self):
        found = snapshot(self.target)
        for path in list(found):
            if path.startswith(RECORDS):
                del found[path]
        return found

    def run_killed(self, delay):
        """A run on a fresh copy of the target, killed after `delay`
        seconds (or ended); True when it was killed."""
        shutil.rmtree(self.target, ignore_errors=True)
        shutil.copytree(self.base, self.target, symlinks=True)
        return self.run_on(self.src, delay)

    def run_on(self, source, delay, *options):
        """A run from `source` on the target as it is, killed after
        `delay` seconds (or ended); True when it was killed."""
        p = subprocess.Popen(
            e2e.command("--source", native(source), "--target",
                        native(self.target), *options),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=self.env)
        begun = time.monotonic()
        end = begun + delay
        while p.poll() is None and time.monotonic() < end:
            time.sleep(0.0005)
        if p.poll() is None:
            p.send_signal(signal.SIGKILL)
        p.wait()
        self.took = time.monotonic() - begun
        return p.returncode == -signal.SIGKILL

    def undo_and_compare(self, trial, earlier=0):
        """Undoes the run's manifest (the newest of `earlier` + 1);
        returns (kept lines, leftovers)."""
        manifests = sorted(glob.glob(os.path.join(self.target, RECORDS[1],
                                                  "*.manifest")),
                           key=run_order)
        if len(manifests) == earlier:  # killed before anything was written
            self.assertEqual(self.state(), self.before, trial)
            return [], []
        self.assertEqual(len(manifests), earlier + 1, trial)
        manifests = manifests[-1:]
        p = subprocess.run(
            e2e.command("--undo", native(manifests[0]), "--target",
                        native(self.target)),
            capture_output=True, timeout=600, env=self.env)
        out = p.stdout.decode("utf-8")
        kept = [m.group(1) for m in map(KEPT.match, out.splitlines()) if m]
        after = self.state()
        differs = sorted(path for path in set(after) | set(self.before)
                         if after.get(path, 0) != self.before.get(path, 0))
        if not differs:
            self.assertEqual(p.returncode, 0, trial + out)
            self.assertEqual(kept, [], trial)
            return kept, []
        # What is left differs only where the undo says it kept something.
        self.assertEqual(p.returncode, 1, "%s: %s\n%s" % (trial, differs[:5],
                                                           out[-2000:]))
        named = {os.path.relpath(k, self.target) for k in kept
                 if k.startswith(self.target)}
        boxes = set().union(*(box_names(k) for k in kept if "@" in k))
        for path in differs:
            parts = path.split(os.sep)
            ok = (any(path == n or path.startswith(n + os.sep)
                      for n in named) or
                  (parts[0] == "store" and len(parts) > 1 and
                   parts[1] in boxes) or
                  (parts[0] == "data" and kept))
            self.assertTrue(ok, "%s: %s differs, unnamed\n%s" % (trial, path,
                                                                out))
        return kept, differs

    def test_undo_after_any_kill_gives_back_or_names_the_rest(self):
        seed = int(os.environ.get("VELQUOR_KILL_SEED", "40"))
        trials = int(os.environ.get("VELQUOR_KILL_TRIALS", "30"))
        rng = random.Random(seed)
        self.assertFalse(self.run_killed(600), "the whole run")
        whole = self.took
        killed = clean = kept_trials = 0
        for n in range(trials):
            delay = rng.uniform(0, whole)
            trial = "trial %d (seed %d, kill at %.4f s)" % (n, seed, delay)
            if self.run_killed(delay):
                killed += 1
            else:
                # A run that ended before its instant: the machine is less
                # busy than when the window was taken, which shrinks to it.
                whole = min(whole, self.took)
            kept, _ = self.undo_and_compare(trial)
            clean += not kept
            kept_trials += bool(kept)
        print("kills %d of %d trials; undone whole %d, with kept items %d"
              % (killed, trials, clean, kept_trials), file=sys.stderr)
        self.assertGreater(killed, trials // 2)

    def test_killed_mirror_is_finished_by_a_rerun_or_undone_whole(self):
        """After a whole first run, a third of the accounts lose a message
        on the source and another third move one to Trash; a mirror pass
        killed anywhere leaves every message in place or held and named:
        its undo gives back the target as the first run left it, and a
        rerun ends where an unkilled pass ends. (The mirror works on the
        target the first run wrote: a copy of it is another target.)"""
        changed = os.path.join(self.dir, "changed")
        shutil.copytree(self.src, changed)
        for n in range(0, 300, 3):
            os.remove(os.path.join(changed, "mail", "u%03d" % n, "0.in"))
        for n in range(1, 300, 3):
            box = os.path.join(changed, "mail", "u%03d" % n)
            os.rename(os.path.join(box, "0.in"), os.path.join(box, "0.del"))
        first = snapshot_without_records
        mirror = ("--sync", "--mirror")

        def pass_killed(delay):
            self.assertFalse(self.run_killed(600), "the first run")
            self.before = first(self.target)
            return self.run_on(changed, delay, *mirror)

        self.assertFalse(self.run_killed(600), "the first run")
        self.assertFalse(self.run_on(changed, 600, *mirror), "the whole pass")
        whole_pass = self.took
        # The mail store: the first run of each trial writes its own times
        # into the configuration files.
        def store():
            return {k: v for k, v in self.state().items()
                    if k.startswith("store" + os.sep)}
        mirrored = store()
        for n in range(300):
            domain = DOMAINS[n % 3]
            box = os.path.join("store", "u%03d" % n if domain == DOMAINS[0]
                               else "u%03d@%s" % (n, domain))
            self.assertEqual(
                (os.path.join(box, "INBOX", "0.in") in mirrored,
                 os.path.join(box, "Trash", "0.del") in mirrored),
                (n % 3 == 2, n % 3 == 1), box)
        seed = int(os.environ.get("VELQUOR_KILL_SEED", "40"))
        rng = random.Random(seed + 1)
        killed = 0
        for n in range(int(os.environ.get("VELQUOR_KILL_TRIALS", "30")) // 2):
            delay = rng.uniform(0, whole_pass)
            trial = "mirror trial %d (seed %d, kill at %.4f s)" % (n, seed,
                                                                   delay)
            if pass_killed(delay):
                killed += 1
            else:
                whole_pass = min(whole_pass, self.took)
            if n % 2:
                self.assertFalse(self.run_on(changed, 600, *mirror), trial)
                self.assertEqual(store(), mirrored, trial)
            else:
                kept, _ = self.undo_and_compare(trial, earlier=1)
                # A copy killed before its proof was written is kept and
                # named; every message the pass took out is back.
                for path in kept:
                    self.assertNotIn(os.path.relpath(path, self.target),
                                     self.before, trial)
                after = self.state()
                self.assertEqual([p for p in self.before if p not in after],
                                 [], trial)
        self.assertGreater(killed, 0)


if __name__ == "__main__":
    e2e.main()
