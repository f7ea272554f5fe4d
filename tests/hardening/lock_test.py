#!/usr/bin/env python3
"""Lock contention on the user list. While another process holds the lock
of userauth.cfg a run waits, and goes on when it is released. While another
process keeps rewriting userauth.cfg under the lock (as the mail server
does when it adds a user), every read of the file parses and the run adds
each account exactly once.

    lock_test.py --program PATH [unittest args]
"""

import fcntl
import os
import re
import sys
import threading
import time

sys.dont_write_bytecode = True  # nothing written beside the sources
import harness  # noqa: E402
from harness import (SHORT_SUCCESS, HeldLock, domains_of,  # noqa: E402
                     make_installation, read_bytes, users_of)


class LockContentionTest(harness.HardeningCase):
    def setUp(self):
        super().setUp()
        make_installation(self.src, domains=2, accounts=30, messages=1,
                          folders=1, standard_messages=1, seed=3)
        self.source_accounts = 30

    def test_run_waits_for_the_lock_and_goes_on(self):
        lock = HeldLock(self.locks, "userauth.cfg")
        self.addCleanup(lock.release)
        p = self.start_cli()
        deadline = time.monotonic() + 120
        while True:
            try:
                if len(domains_of(self.out)) == 2:
                    break
            except Exception:  # not written yet
                pass
            self.assertIsNone(p.poll(), "the run ended while the user "
                              "list was locked")
            self.assertLess(time.monotonic(), deadline,
                            "the domain step did not finish")
            time.sleep(0.01)
        # The domain step is done and the run now needs the user list: it
        # must not have touched it, and must still be there.
        users_path = os.path.join(self.out, "userauth.cfg")
        before = read_bytes(users_path) if os.path.exists(users_path) else b""
        self.assertIsNone(p.poll())
        self.assertEqual(users_of(self.out) if before else [], [])
        lock.release()
        out, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, err.decode())
        self.assertIn(SHORT_SUCCESS, err.decode())
        self.assertEqual(len(users_of(self.out)), self.source_accounts)

    def test_concurrent_writer_never_leaves_an_unparsable_file(self):
        users_path = os.path.join(self.out, "userauth.cfg")
        # The skeleton the start-up would write.
        with open(users_path, "wb") as f:
            f.write(b"<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n"
                    b"</useralias>\r\n</database>")
        stop = threading.Event()
        errors = []
        written = []

        def writer():
            # Adds server-made users under the lock, rewriting in place as
            # a simple server would.
            n = 0
            lock_path = os.path.join(self.locks, "Tarnwick_userauth.cfg")
            fd = os.open(lock_path, os.O_RDWR | os.O_CREAT, 0o666)
            try:
                while not stop.is_set():
                    fcntl.flock(fd, fcntl.LOCK_EX)
                    try:
                        text = read_bytes(users_path)
                        item = (b"<item>\r\n<name>server%d</name>\r\n"
                                b"</item>\r\n" % n)
                        text = text.replace(b"</user>", item + b"</user>", 1)
                        with open(users_path, "r+b") as f:
                            f.write(text)
                            f.truncate()
                        written.append("server%d" % n)
                        n += 1
                    finally:
                        fcntl.flock(fd, fcntl.LOCK_UN)
                    time.sleep(0.002)
            finally:
                os.close(fd)

        def reader():
            # Reads under the lock, as any other user of the file does.
            lock_path = os.path.join(self.locks, "Tarnwick_userauth.cfg")
            fd = os.open(lock_path, os.O_RDWR | os.O_CREAT, 0o666)
            try:
                while not stop.is_set():
                    fcntl.flock(fd, fcntl.LOCK_SH)
                    try:
                        users_of(self.out)
                    except Exception as e:  # noqa: BLE001
                        errors.append(repr(e))
                    finally:
                        fcntl.flock(fd, fcntl.LOCK_UN)
            finally:
                os.close(fd)

        threads = [threading.Thread(target=writer),
                   threading.Thread(target=reader)]
        for t in threads:
            t.start()
        try:
            r = self.run_cli()
        finally:
            stop.set()
            for t in threads:
                t.join()
        self.assertEqual(errors, [])
        self.assertEqual(r.status, 0, r)
        names = [n for n, _ in users_of(self.out)]
        migrated = [n for n in names if not re.match(r"server\d+$", n)]
        self.assertEqual(len(migrated), self.source_accounts)
        self.assertEqual(len(set(migrated)), len(migrated))
        # Items the server wrote between the run's reads and writes may be
        # overwritten by the run (it saves its own copy); report how many.
        kept = sum(1 for n in written if n in names)
        print("\nserver writes %d, kept %d" % (len(written), kept),
              file=sys.stderr)


if __name__ == "__main__":
    harness.main()
