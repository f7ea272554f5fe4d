#!/usr/bin/env python3
"""Checks that bench/make-installation keeps producing valid installations."""

import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(ROOT, "bench", "make-installation")


def read_lines(path):
    data = open(path, "rb").read()
    assert data.endswith(b"\r\n"), path
    text = data.decode("gbk")
    lines = text.split("\r\n")[:-1]
    assert all("\n" not in l and "\r" not in l for l in lines), path
    return lines


class MakeInstallationTest(unittest.TestCase):
    def generate(self, out, *args):
        subprocess.run([sys.executable, TOOL, out, *args], check=True,
                       stdout=subprocess.DEVNULL)

    def test_formats_are_valid(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "src")
            self.generate(out, "--domains", "3", "--accounts", "12",
                          "--messages", "4", "--folders", "2")
            domains = read_lines(os.path.join(out, "domain.ini"))
            self.assertEqual(3, len(domains))
            self.assertTrue(any(ord(c) > 127 for d in domains for c in d))
            accounts = read_lines(os.path.join(out, "popusers.ini"))
            self.assertEqual(12, len(accounts))
            sized = plain = 0
            for line in accounts:
                fields = line.split("\t")
                self.assertGreaterEqual(len(fields), 3)
                # The loader matches field 2 first, then field 3.
                self.assertTrue(fields[2] in domains or
                                (len(fields) > 3 and fields[3] in domains))
                box = os.path.join(out, "mail", fields[0].lower())
                names = os.listdir(box)
                folders = read_lines(os.path.join(box, "Folders.ini"))
                self.assertEqual(2, len(folders))
                exts = ["in", "sed", "out", "del", "0", "1"]
                for ext in exts:
                    msgs = [n for n in names if n.endswith("." + ext)]
                    self.assertEqual(4, len(msgs), (box, ext))
                    index = "__r_%s.ini" % ext
                    lines = read_lines(os.path.join(box, index))
                    for m in msgs:
                        size = os.path.getsize(os.path.join(box, m))
                        self.assertTrue(1024 <= size <= 200 * 1024)
                        line = next(l for l in lines if m in l)
                        flag = line.split("\x0c\t")[7]
                        sized += flag == "1"
                        plain += flag == "0"
            self.assertTrue(any("@" in a.split("\t")[0] for a in accounts))
            self.assertGreater(sized, 0)
            self.assertGreater(plain, 0)

    def test_same_seed_gives_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            trees = []
            for n in range(2):
                out = os.path.join(tmp, str(n))
                self.generate(out, "--seed", "7", "--accounts", "3",
                              "--messages", "2")
                files = {}
                for d, _, fs in os.walk(out):
                    for f in fs:
                        p = os.path.join(d, f)
                        files[os.path.relpath(p, out)] = open(p, "rb").read()
                trees.append(files)
            self.assertEqual(trees[0], trees[1])


if __name__ == "__main__":
    unittest.main()
