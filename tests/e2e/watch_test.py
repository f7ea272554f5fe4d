#!/usr/bin/env python3
"""--watch under a writer that keeps delivering mail, stopped by SIGINT at
a random moment: watch_test.py --program PATH [--seed N]"""

import argparse
import glob
import json
import os
import random
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import e2e_support as e2e
from e2e_support import write

ACCOUNTS = ["ann", "bob", "cat"]


def users(boxes):
    return "".join("%s\tc\ta.com\r\n" % b for b in boxes)


class Writer(threading.Thread):
    """Delivers mail as a server does (written aside, renamed into place);
    after `new_after` messages adds the account dan to the lists."""

    def __init__(self, src, new_after):
        super().__init__(daemon=True)
        self.src, self.new_after = src, new_after
        self.finished, self.halt = [], threading.Event()

    def run(self):
        boxes, n = list(ACCOUNTS), 0
        while not self.halt.is_set():
            if n == self.new_after:
                os.makedirs(os.path.join(self.src, "mail", "dan"))
                lists = os.path.join(self.src, "popusers.ini")
                write(lists + ".new", users(ACCOUNTS + ["dan"]))
                os.replace(lists + ".new", lists)
                boxes.append("dan")
            box, name = boxes[n % len(boxes)], "%d.in" % (100 + n)
            body = ("mail %d\r\n" % n).encode() * (n % 7 + 1)
            part = os.path.join(self.src, "mail", box, ".part")
            write(part, body)
            os.rename(part, os.path.join(os.path.dirname(part), name))
            self.finished.append((box, name, body))
            n += 1
            time.sleep(0.01)


def wait_for(condition, what):
    deadline = time.monotonic() + 120
    while not condition():
        assert time.monotonic() < deadline, "gave up waiting for " + what
        time.sleep(0.05)


class WatchTest(unittest.TestCase):
    # Faults: a stop that ends without a pass after it; an account added
    # during the watch never migrated; a pass's copies missing from the
    # manifest; a stopped watch reported as a failure.
    def test_stopped_watch_has_everything_delivered_before_the_stop(self):
        rng = random.Random(OPTIONS.seed)
        for round_ in range(3):
            with self.subTest(round=round_), \
                    tempfile.TemporaryDirectory(prefix="vm-watch-") as base:
                self.watch_once(base, rng)

    def watch_once(self, base, rng):
        src, out = os.path.join(base, "src"), os.path.join(base, "out")
        write(os.path.join(src, "domain.ini"), "a.com\r\n")
        write(os.path.join(src, "popusers.ini"), users(ACCOUNTS))
        for box in ACCOUNTS:
            write(os.path.join(src, "mail", box, "1.in"), box)
        os.makedirs(out)
        report = os.path.join(base, "watch.json")
        program = subprocess.Popen(
            e2e.command("--source", src, "--output", out, "--watch", "1",
                        "--report", report, "--no-progress"),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        lines = []
        reader = threading.Thread(target=lambda: lines.extend(
            l.decode("utf-8") for l in program.stdout))
        reader.start()
        writer = Writer(src, rng.randint(2, 12))
        try:
            wait_for(lambda: any(l.startswith("第 1 次同步") for l in lines),
                     "the first pass")
            writer.start()
            stop_after = rng.randint(1, 250)
            wait_for(lambda: len(writer.finished) >= stop_after, "the writer")
            before_stop = list(writer.finished)
            program.send_signal(signal.SIGINT)
            status = program.wait(timeout=300)
        finally:
            writer.halt.set()
            if program.poll() is None:
                program.kill()
        reader.join(timeout=60)
        listing = "".join(lines) + program.stderr.read().decode("utf-8")
        self.assertEqual(status, 0, listing)
        self.assertIn("持续同步已停止", listing)
        for box, name, body in before_stop:
            path = os.path.join(out, "store", box, "INBOX", name)
            self.assertTrue(os.path.exists(path), path + "\n" + listing)
            self.assertEqual(e2e.read_bytes(path), body)
        with open(report, encoding="utf-8") as f:
            totals = json.load(f)["totals"]
        self.assertTrue(totals["stopped"] and totals["succeeded"])
        manifest, = glob.glob(os.path.join(base, "watch.*.manifest"))
        undo = subprocess.run(e2e.command("--undo", manifest, "--output", out),
                              capture_output=True, timeout=300)
        self.assertEqual(undo.returncode, 0, undo.stdout + undo.stderr)
        self.assertEqual([p for p in e2e.tree(os.path.join(out, "store"))
                          if ".in" in p], [])


OPTIONS = None
if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int,
                        default=int.from_bytes(os.urandom(4), "little"))
    OPTIONS = parser.parse_known_args()[0]
    print("seed", OPTIONS.seed)
    e2e.main(parser)
