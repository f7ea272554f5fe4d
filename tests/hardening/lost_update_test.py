#!/usr/bin/env python3
"""A live target: a simulated server process adds users and domains to
userauth.cfg and domain.cfg under their named locks at random moments while
a migration runs. Afterwards every item the server added and every migrated
item is in its file exactly once, and both files parse. Runs at once on one
target: one writes, the others are refused (or wait their turn).

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

    def start(self, *args, stdout=subprocess.PIPE, source=None, out=None,
              **env):
        p = subprocess.Popen(
            [e2e.PROGRAM, "--source", source or self.src,
             "--output", out or self.out] + list(args),
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

    def lock_text(self, out=None):
        path = os.path.join(out or self.out, "velquor-migrate.lock")
        return read_bytes(path).decode() if os.path.exists(path) else ""

    def hold(self, *args, out=None, source=None):
        """A run that holds the target's lock until the test reads its
        result list (longer than a pipe holds)."""
        p = self.start(*args, out=out, source=source)
        while "pid=%d\n" % p.pid not in self.lock_text(out):
            self.assertIsNone(p.poll(), "the run ended first")
            time.sleep(0.01)
        return p

    def refused(self, p, holder):
        _, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 1, err.decode()[-2000:])
        self.assertIn("目标正由另一次运行使用，请等它结束后再运行。使用者:主机 %s"
                      "，进程 %d，开始于 " % (os.uname().nodename, holder.pid),
                      err.decode())
        self.assertIn("，命令行程序\n", err.decode())

    def report(self, name):
        with open(os.path.join(self.dir, name)) as f:
            return json.load(f)

    def test_runs_at_once_one_writes_the_others_are_refused(self):
        # The output folder and its store do not exist yet. While one run
        # writes, every other run on the target, a preview and a
        # verification included, is refused at once and writes nothing.
        self.make_source(3, 800)
        for count in (2, 5):
            out = os.path.join(self.dir, "new%d" % count)
            report = os.path.join(self.dir, "h%d.json" % count)
            holder = self.hold("--report", report, out=out)
            others = [self.start("--report", os.path.join(self.dir, "%d.json" % i),
                                 *extra, out=out)
                      for i, extra in enumerate(
                          [[], ["--dry-run"], ["--verify-only"], [], []][:count - 1])]
            for p in others:
                self.refused(p, holder)
            self.assertFalse([n for n in os.listdir(self.dir) if n[0].isdigit()])
            holder.communicate(timeout=300)
            self.assertEqual(holder.returncode, 0)
            with open(report) as f:
                accounts = json.load(f)["accounts"]
            self.assertEqual(Counter(a["outcome"] for a in accounts),
                             Counter(added=800))
            self.assertEqual(self.lock_text(out), "")

    def test_runs_with_wait_run_one_after_another(self):
        # Every run waits its turn: each account is added by exactly one.
        self.make_source(3, 600)
        runs = [self.start("--wait", "300", "--report",
                           os.path.join(self.dir, "%d.json" % i),
                           stdout=subprocess.DEVNULL) for i in range(5)]
        waited = 0
        for p in runs:
            _, err = p.communicate(timeout=300)
            self.assertEqual(p.returncode, 0, err.decode()[-2000:])
            waited += "正在等待它结束。使用者:主机 " in err.decode()
        self.assertGreater(waited, 0)
        outcomes = Counter()
        for i in range(5):
            accounts = self.report("%d.json" % i)["accounts"]
            self.assertEqual(len(accounts), 600)
            outcomes.update(a["outcome"] for a in accounts)
        self.assertEqual(outcomes, Counter(added=600, exists=2400))
        self.assertEqual(len(e2e.config_items(self.out, "userauth.cfg", "user",
                                              ["name"])), 600)

    def test_killed_run_is_resumed_only_after_the_other_run(self):
        # A run killed midway leaves pending marks; its rerun while a run
        # of another source holds the target is refused; once that run has
        # ended, the rerun finishes the killed run's mailboxes.
        self.make_source(3, 400, messages=5)
        other = os.path.join(self.dir, "other")
        subprocess.run([sys.executable,
                        os.path.join(e2e.ROOT, "bench", "make-installation"),
                        other, "--domains", "1", "--accounts", "800",
                        "--messages", "0", "--folders", "0",
                        "--standard-messages", "1", "--seed", "3"],
                       check=True, stdout=subprocess.DEVNULL)
        for name in ("domain.ini", "popusers.ini"):
            path = os.path.join(other, name)
            with open(path, "r+b") as f:
                text = f.read().replace(b"domain0.", b"other0.")
                f.seek(0)
                f.write(text)
                f.truncate()
        for box in os.listdir(os.path.join(other, "mail")):
            os.rename(os.path.join(other, "mail", box),
                      os.path.join(other, "mail", box.replace("domain0.", "other0.")))
        killed = self.start(stdout=subprocess.DEVNULL)
        store = os.path.join(self.out, "store")
        while not (os.path.isdir(store) and len(os.listdir(store)) > 50):
            self.assertIsNone(killed.poll(), "the run ended first")
            time.sleep(0.01)
        killed.kill()
        killed.wait()
        holder = self.hold(source=other)
        self.refused(self.start(), holder)
        holder.communicate(timeout=300)
        self.assertEqual(holder.returncode, 0)
        p = self.start("--report", os.path.join(self.dir, "rerun.json"))
        _, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, err.decode()[-2000:])
        outcomes = Counter(a["outcome"]
                           for a in self.report("rerun.json")["accounts"])
        self.assertEqual(sum(outcomes.values()), 400)
        self.assertGreater(outcomes["resumed"] + outcomes["added"], 0)
        p = self.start("--verify-only")
        _, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, err.decode()[-2000:])
        self.assertEqual(len(e2e.config_items(self.out, "userauth.cfg", "user",
                                              ["name"])), 1200)

    def test_held_lock_is_told_interruptible_and_given_up(self):
        # Another process keeps userauth.cfg's lock: the run says what it
        # waits for and gives up after VELQUOR_LOCK_TIMEOUT seconds; Ctrl-C
        # ends the run's wait at once, and the saves on the way out wait no
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
        # Ctrl-C is the run's stop request: it ends the wait under way at
        # once (no give-up follows it), and the run's saves on its way out
        # (the account in flight's, then the stores') each wait again, told
        # and bounded. (Before, Ctrl-C ended the process after one save on
        # the way out; now the run itself ends, so there may be more.)
        said = [l for l in lines if where in l]
        self.assertEqual(said[0], waiting)
        self.assertGreaterEqual(len(said), 3)
        self.assertEqual(said[1:], [waiting, given_up] * ((len(said) - 1) // 2))
        fcntl.flock(lock, fcntl.LOCK_UN)
        p = self.start()
        out, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, err.decode()[-2000:])
        users = e2e.config_items(self.out, "userauth.cfg", "user", ["name"])
        self.assertEqual(len(users), 1500)
        self.assertEqual(len(set(users)), 1500)


if __name__ == "__main__":
    e2e.main()
