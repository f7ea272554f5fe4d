#!/usr/bin/env python3
"""A live target: a simulated server process adds users and domains to
userauth.cfg and domain.cfg under their named locks at random moments while
a migration runs. Afterwards every item the server added and every migrated
item is in its file exactly once, and both files parse.

    lost_update_test.py --program PATH [unittest args]
"""

import fcntl
import json
import multiprocessing
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from collections import Counter

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "e2e"))
import e2e_support as e2e  # noqa: E402
from e2e_support import SHORT_SUCCESS, read_bytes  # noqa: E402

SERVER_USERS = 2000
SERVER_DOMAINS = 50


def add_items(path, before, items):
    """Inserts the items in front of the closing tag of the list that ends
    just before `before`, rewriting the file in place as a server does."""
    text = read_bytes(path)
    end = text.rfind(b"</", 0, text.find(before))
    with open(path, "r+b") as f:
        f.write(text[:end] + b"".join(items) + text[end:])
        f.truncate()


def server(out, locks, seed):
    rng = random.Random(seed)
    todo = [("userauth.cfg", b"<useralias>",
             b"<item>\r\n<name>server%d</name>\r\n<domain>srv.example"
             b"</domain>\r\n</item>\r\n" % n) for n in range(SERVER_USERS)]
    todo += [("domain.cfg", b"<domainalias>",
              b"<item>\r\n<domain>srv%d.example</domain>\r\n<type>0</type>"
              b"\r\n</item>\r\n" % n) for n in range(SERVER_DOMAINS)]
    rng.shuffle(todo)
    fds = {}
    while todo:
        time.sleep(rng.random() * 0.02)
        name, before, _ = todo[0]
        path = os.path.join(out, name)
        if not os.path.exists(path):
            continue  # the run's start-up has not written it yet
        batch = []
        while todo and todo[0][0] == name and len(batch) < rng.randint(1, 30):
            batch.append(todo.pop(0)[2])
        if name not in fds:
            fds[name] = os.open(os.path.join(locks, "Tarnwick_" + name),
                                os.O_RDWR | os.O_CREAT, 0o666)
        fcntl.flock(fds[name], fcntl.LOCK_EX)
        try:
            add_items(path, before, batch)
        finally:
            fcntl.flock(fds[name], fcntl.LOCK_UN)


class LostUpdateTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-lost-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        self.locks = os.path.join(self.dir, "locks")
        os.makedirs(self.out)
        os.makedirs(self.locks)

    def make_source(self, domains, accounts, messages=1):
        subprocess.run([sys.executable,
                        os.path.join(e2e.ROOT, "bench", "make-installation"),
                        self.src, "--domains", str(domains), "--accounts",
                        str(accounts), "--messages", "0", "--folders", "0",
                        "--standard-messages", str(messages), "--seed", "12"],
                       check=True, stdout=subprocess.DEVNULL)

    def start(self, *args, stdout=subprocess.PIPE, **env):
        p = subprocess.Popen(
            [e2e.PROGRAM, "--source", self.src, "--output", self.out] + list(args),
            stdout=stdout, stderr=subprocess.PIPE,
            env=dict(os.environ, VELQUOR_LOCK_DIR=self.locks, **env))
        self.addCleanup(p.kill)  # a run that waits on
        # A run stuck where the test reads its output line by line is ended
        # so that the test fails instead of hanging.
        watchdog = threading.Timer(300, p.kill)
        watchdog.start()
        self.addCleanup(watchdog.cancel)
        return p

    def test_server_additions_and_migrated_items_all_kept_once(self):
        self.make_source(20, 5000)
        p = self.start()
        writer = multiprocessing.Process(target=server,
                                         args=(self.out, self.locks, 5))
        writer.start()
        out, err = p.communicate(timeout=300)
        writer.join(timeout=120)
        self.assertEqual(writer.exitcode, 0)
        self.assertEqual(p.returncode, 0, err.decode()[-2000:])
        self.assertIn(SHORT_SUCCESS, err.decode())

        users = e2e.config_items(self.out, "userauth.cfg", "user", ["name", "domain"])
        items = Counter((name, domain.lower()) for name, domain in users)
        self.assertEqual([i for i, c in items.items() if c != 1], [])
        names = Counter(name for name, _ in users)
        for n in range(SERVER_USERS):
            self.assertEqual(names["server%d" % n], 1, "server%d" % n)
        migrated = len(users) - SERVER_USERS
        self.assertEqual(migrated, 5000)

        domains = Counter(d for (d,) in e2e.config_items(self.out, "domain.cfg",
                                              "domain", ["domain"]))
        self.assertEqual([d for d, c in domains.items() if c != 1], [])
        source_domains = read_bytes(os.path.join(self.src, "domain.ini")) \
            .decode("gbk").split()
        expected = set(source_domains) | {
            "srv%d.example" % n for n in range(SERVER_DOMAINS)}
        self.assertEqual(set(domains), expected)

    def test_two_runs_at_once_import_each_account_once(self):
        # Each account is added by one run; the other finds it there (at
        # its check or at its save) and reports it as existing. (Without
        # mail: two runs copying the same message is another matter.)
        self.make_source(3, 600, messages=0)
        runs = [self.start("--report", os.path.join(self.dir, "%d.json" % i))
                for i in range(2)]
        for p in runs:
            _, err = p.communicate(timeout=300)
            self.assertEqual(p.returncode, 0, err.decode()[-2000:])
        outcomes = Counter()
        imported = 0
        for i in range(2):
            with open(os.path.join(self.dir, "%d.json" % i)) as f:
                report = json.load(f)
            imported += report["totals"]["accounts"]
            self.assertEqual(len(report["accounts"]), 600)
            outcomes.update(a["outcome"] for a in report["accounts"])
        self.assertEqual(imported, 600)
        self.assertEqual(outcomes, Counter(added=600, exists=600))
        self.assertEqual(len(e2e.config_items(self.out, "userauth.cfg", "user",
                                        ["name"])), 600)

    def test_held_lock_is_told_interruptible_and_given_up(self):
        # Another process keeps userauth.cfg's lock: the run says what it
        # waits for and gives up after VELQUOR_LOCK_TIMEOUT seconds; Ctrl-C
        # ends the run's wait at once, and the save on the way out waits no
        # longer than the limit either. A rerun then adds every account.
        self.make_source(3, 1500)
        lock = os.open(os.path.join(self.locks, "Tarnwick_userauth.cfg"),
                       os.O_RDWR | os.O_CREAT, 0o644)
        self.addCleanup(os.close, lock)
        where = "userauth.cfg (%s)" % os.path.join(self.locks,
                                                   "Tarnwick_userauth.cfg")
        waiting = "正在等待其他程序释放配置文件锁:" + where
        given_up = "等待配置文件锁超时，未能读写该文件:" + where

        fcntl.flock(lock, fcntl.LOCK_EX)
        p = self.start(VELQUOR_LOCK_TIMEOUT="0")
        out, err = p.communicate(timeout=120)
        self.assertEqual(p.returncode, 1)
        self.assertIn(given_up + "\n", err.decode())
        self.assertEqual(e2e.config_items(self.out, "userauth.cfg", "user", []), [])

        # Taken once the run is adding accounts, so that it holds some. Only
        # stderr is read while it runs: its result list must not fill a pipe.
        fcntl.flock(lock, fcntl.LOCK_UN)
        p = self.start(VELQUOR_LOCK_TIMEOUT="8", stdout=subprocess.DEVNULL)
        store = os.path.join(self.out, "store")
        while not (os.path.isdir(store) and os.listdir(store)):
            self.assertIsNone(p.poll(), "the run ended first")
        fcntl.flock(lock, fcntl.LOCK_EX)
        lines = []
        for line in p.stderr:
            lines.append(line.decode().rstrip("\n"))
            if lines[-1] == waiting:
                break
        self.assertEqual(lines[-1:], [waiting])
        p.send_signal(signal.SIGINT)
        lines += p.communicate(timeout=120)[1].decode().splitlines()
        self.assertEqual(p.returncode, 130)
        self.assertEqual([l for l in lines if where in l],
                         [waiting, waiting, given_up])
        fcntl.flock(lock, fcntl.LOCK_UN)
        p = self.start()
        out, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, err.decode()[-2000:])
        users = e2e.config_items(self.out, "userauth.cfg", "user", ["name"])
        self.assertEqual(len(users), 1500)
        self.assertEqual(len(set(users)), 1500)


if __name__ == "__main__":
    e2e.main()
