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

import os
import random
import resource
import shutil
import signal
import sys
import time

sys.dont_write_bytecode = True  # nothing written beside the sources
import harness  # noqa: E402
from harness import (CONFIG_FILES, PENDING_MARK, SHORT_SUCCESS, TEMP_PATTERN,
                     domains_of, make_installation, mask_times, read_bytes,
                     tree, users_of)

KILLS = 32
SEED = None


def limit_file_size(limit):
    def preexec():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return preexec


class CrashSafetyTest(harness.HardeningCase):
    def make_reference(self):
        make_installation(self.src, domains=4, accounts=80, messages=3,
                          folders=2, standard_messages=3, seed=11)
        ref = os.path.join(self.dir, "ref")
        os.makedirs(ref)
        start = time.monotonic()
        r = self.run_cli(output=ref)
        self.assertEqual(r.status, 0, r)
        self.assertEqual(len(users_of(ref)), 80)
        return (ref, domains_of(ref), users_of(ref),
                tree(os.path.join(ref, "store")), time.monotonic() - start)

    def check_after_kill(self, ref_domains, ref_users, ref_store, seen):
        # A kill before start-up wrote a skeleton leaves that file absent,
        # which is only right while nothing has been added to it yet.
        def items(read, name, key):
            if not os.path.exists(os.path.join(self.out, name)):
                self.assertEqual(seen[key], 0,
                                 "%s vanished after items were added" % name)
                return []
            return read(self.out)  # raises when it does not parse

        domains = items(domains_of, "domain.cfg", "domains")
        users = items(users_of, "userauth.cfg", "users")
        self.assertEqual(domains, ref_domains[:len(domains)])
        self.assertEqual(users, ref_users[:len(users)])
        self.assertGreaterEqual(len(domains), seen["domains"])
        self.assertGreaterEqual(len(users), seen["users"])
        seen["domains"], seen["users"] = len(domains), len(users)

        for name in os.listdir(self.out):
            if TEMP_PATTERN.search(name):
                seen["temporary"].add(name)
                continue
            self.assertIn(name, CONFIG_FILES + ("store",))

        store = os.path.join(self.out, "store")
        for path, data in tree(store).items():
            box = path.split(os.sep)[0]
            pending = os.path.exists(os.path.join(store, box, PENDING_MARK))
            if os.path.basename(path) == PENDING_MARK:
                continue
            self.assertIn(path, ref_store, "a file no run would write")
            if data != ref_store[path]:
                # Only a copy in progress when the kill came.
                self.assertTrue(pending, "%s differs outside a pending "
                                "mailbox" % path)
                self.assertTrue(ref_store[path].startswith(data), path)
                seen["partial"] += 1

    def test_killed_runs_lose_nothing(self):
        rng = random.Random(SEED)
        ref, ref_domains, ref_users, ref_store, duration = (
            self.make_reference())

        # Kills land at random moments of a run; each later run resumes the
        # migration. When a run ends before its kill (the migration is
        # complete), the result is checked and the next kills start over in
        # an empty output folder, until KILLS kills have hit running runs.
        seen = self.fresh_output()
        landed = attempts = cycles = partial = 0
        while landed < KILLS:
            attempts += 1
            self.assertLess(attempts, KILLS * 10, "runs keep ending first")
            p = self.start_cli()
            time.sleep(rng.uniform(0.0, duration / 20))
            p.send_signal(signal.SIGKILL)
            p.communicate()
            if p.returncode == -signal.SIGKILL:
                landed += 1
                self.check_after_kill(ref_domains, ref_users, ref_store, seen)
            else:
                self.assertEqual(p.returncode, 0)
                self.check_complete(ref, ref_domains, ref_users, ref_store)
                partial += seen["partial"]
                seen = self.fresh_output()
                cycles += 1

        r = self.run_cli()
        self.assertEqual(r.status, 0, r)
        self.assertIn(SHORT_SUCCESS, r.err)
        self.check_complete(ref, ref_domains, ref_users, ref_store)
        print("\n%d kills in %d runs over %d migrations, %d partial copies "
              "seen, uninterrupted run %.2fs" % (
                  landed, attempts, cycles + 1, partial + seen["partial"],
                  duration),
              file=sys.stderr)

    def test_file_size_limit_fails_visibly_and_loses_nothing(self):
        # Larger messages and the user list past its first part cannot be
        # written; everything that fits is, and a later run finishes.
        ref, ref_domains, ref_users, ref_store, _ = self.make_reference()
        limit = 12 * 1024
        self.assertTrue(any(len(d) > limit for d in ref_store.values()))
        r = self.run_cli(preexec=limit_file_size(limit))
        self.assertEqual(r.status, 1, r)
        self.assertNotIn(SHORT_SUCCESS, r.err, r)
        self.assertTrue(any("邮件复制失败:" in l for l in r.lines), r)
        self.assertIn("该账户导入失败或者userauth.cfg文件读取错误！", r.lines)
        self.assertTrue(r.lines[-1].startswith("复制失败的邮件数:"), r)
        self.assertLess(len(users_of(self.out)), len(ref_users))
        self.check_after_kill(ref_domains, ref_users, ref_store,
                              self.nothing_seen())
        r = self.run_cli()
        self.assertEqual(r.status, 0, r)
        self.check_complete(ref, ref_domains, ref_users, ref_store)

    def fresh_output(self):
        shutil.rmtree(self.out)
        os.makedirs(self.out)
        return self.nothing_seen()

    @staticmethod
    def nothing_seen():
        return {"domains": 0, "users": 0, "temporary": set(), "partial": 0}

    def check_complete(self, ref, ref_domains, ref_users, ref_store):
        self.assertEqual(domains_of(self.out), ref_domains)
        self.assertEqual(users_of(self.out), ref_users)
        for name in CONFIG_FILES:
            self.assertEqual(
                mask_times(read_bytes(os.path.join(self.out, name))),
                mask_times(read_bytes(os.path.join(ref, name))))
        store = tree(os.path.join(self.out, "store"))
        self.assertEqual(sorted(store), sorted(ref_store))
        for path, data in ref_store.items():
            self.assertEqual(store[path], data, path)
        leftovers = [n for n in os.listdir(self.out) if TEMP_PATTERN.search(n)]
        self.assertEqual(leftovers, [], "temporary files left behind")

if __name__ == "__main__":
    args = sys.argv[1:]
    for flag in ("--kills", "--seed"):
        if flag in args:
            i = args.index(flag)
            value = int(args[i + 1])
            if flag == "--kills":
                KILLS = value
            else:
                SEED = value
            del args[i:i + 2]
    if SEED is None:
        SEED = random.randrange(1 << 30)
    print("kill moments seeded with --seed %d" % SEED, file=sys.stderr)
    sys.argv[1:] = args
    harness.main()
