"""Helpers of the hardening tests: running velquor-migrate on a generated
installation and reading what a run left in its output folder."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))
MAKE_INSTALLATION = os.path.join(ROOT, "bench", "make-installation")
PROGRAM = None  # set by main()

SHORT_SUCCESS = "Velquor => Tarnwick 转移成功！"
PENDING_MARK = "velquor-migrate.pending"
CONFIG_FILES = ("domain.cfg", "userauth.cfg", "mailgroup.cfg")
TEMP_PATTERN = re.compile(r"\.vmtmp\.")


class Result:
    def __init__(self, p):
        self.status = p.returncode
        self.out = p.stdout.decode("utf-8", "replace")
        self.err = p.stderr.decode("utf-8", "replace")
        self.lines = self.out.splitlines()

    def __repr__(self):
        return "exit %s\nstdout:\n%s\nstderr:\n%s" % (
            self.status, self.out[-3000:], self.err[-2000:])


def make_installation(path, **options):
    args = [sys.executable, MAKE_INSTALLATION, path]
    for key, value in options.items():
        args += ["--" + key.replace("_", "-"), str(value)]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def config_items(path, list_name, fields):
    """The items of one list of a configuration file, as tuples of the
    named fields. Raises when the file does not parse."""
    root = ET.fromstring(read_bytes(path).decode("gbk", "replace"))
    section = root.find(list_name)
    if section is None:
        raise AssertionError("%s has no <%s>" % (path, list_name))
    return [tuple((item.findtext(f) or "") for f in fields)
            for item in section.findall("item")]


def domains_of(out):
    return [d for (d,) in config_items(os.path.join(out, "domain.cfg"),
                                       "domain", ["domain"])]


def users_of(out):
    return config_items(os.path.join(out, "userauth.cfg"), "user",
                        ["name", "domain"])


def tree(base):
    """{relative path: bytes} of every file under base."""
    files = {}
    for dirpath, _, names in os.walk(base):
        for name in names:
            path = os.path.join(dirpath, name)
            files[os.path.relpath(path, base)] = read_bytes(path)
    return files


def mask_times(text):
    return re.sub(rb"<(createtime|lastvisittime|lastchgpwdtime)>\d+<",
                  rb"<\1>T<", text)


class HardeningCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-harden-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)
        os.makedirs(os.path.join(self.dir, "locks"))
        self.env = dict(os.environ,
                        VELQUOR_LOCK_DIR=os.path.join(self.dir, "locks"))

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def command(self, output=None):
        return [PROGRAM, "--source", self.src, "--output", output or self.out]

    def run_cli(self, output=None, preexec=None):
        p = subprocess.run(self.command(output), capture_output=True,
                           timeout=300, env=self.env, preexec_fn=preexec)
        return Result(p)

    def start_cli(self):
        return subprocess.Popen(self.command(), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=self.env)


def main():
    global PROGRAM
    argv = sys.argv[1:]
    if "--program" not in argv:
        sys.exit("usage: %s --program PATH [unittest args]" % sys.argv[0])
    i = argv.index("--program")
    PROGRAM = os.path.abspath(argv[i + 1])
    del argv[i:i + 2]
    unittest.main(module="__main__", argv=[sys.argv[0]] + argv)
