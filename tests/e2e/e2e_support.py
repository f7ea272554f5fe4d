"""What the end-to-end scripts share: the command line naming the program
(and, for a Windows build, a runner such as wine and Z:\\ paths), the
repository's folders, and helpers that write, read and compare trees.

    SCRIPT --program PATH [--runner CMD] [--windows-paths] [unittest args]

A script in another folder imports it after putting tests/e2e on sys.path.
"""

import argparse
import os
import pwd
import re
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))
SAMPLE = os.path.join(ROOT, "examples", "velquor")
DATA = os.path.join(ROOT, "tests", "data")
SHORT_SUCCESS = "Velquor => Tarnwick 转移成功！"
PENDING = "velquor-migrate.pending"

OPTIONS = None  # the parsed command line
PROGRAM = None
RUNNER = []
WINDOWS_PATHS = False


def command(*args):
    """The program's command line with `args`, through the runner."""
    return RUNNER + [PROGRAM] + list(args)


def native(path):
    """`path` as the program sees it."""
    if WINDOWS_PATHS:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def write(path, data):
    """Writes bytes, or text as GBK, making the folders on the way."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("gbk") if isinstance(data, str) else data)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_masked(path):
    """The bytes with the time stamps of configuration items as "T"."""
    return re.sub(rb"<(createtime|lastvisittime|lastchgpwdtime)>\d+<",
                  rb"<\1>T<", read_bytes(path))


def golden(name):
    return read_bytes(os.path.join(DATA, name))


def tree(base, read=read_bytes):
    """{relative path: contents} of every file under base."""
    return {os.path.relpath(os.path.join(d, n), base): read(os.path.join(d, n))
            for d, _, names in os.walk(base) for n in names}


def snapshot(path):
    """tree() plus every directory, mapped to None."""
    found = tree(path)
    for base, dirs, _ in os.walk(path):
        for d in dirs:
            found[os.path.relpath(os.path.join(base, d), path)] = None
    return found


def config_items(out, name, list_name, fields):
    """The items of one list of a configuration file, as tuples of the
    named fields. Raises when the file does not parse."""
    root = ET.fromstring(read_bytes(os.path.join(out, name)).decode(
        "gbk", "replace"))
    return [tuple((item.findtext(f) or "") for f in fields)
            for item in root.find(list_name).findall("item")]


def main(parser=None):
    """Parses the command line (`parser` may add options of its own) and
    runs the script's tests with the arguments left over."""
    global OPTIONS, PROGRAM, RUNNER, WINDOWS_PATHS
    parser = parser or argparse.ArgumentParser()
    parser.add_argument("--program", required=True, type=os.path.abspath)
    parser.add_argument("--runner", default="")
    parser.add_argument("--windows-paths", action="store_true")
    OPTIONS, rest = parser.parse_known_args()
    PROGRAM = OPTIONS.program
    RUNNER = OPTIONS.runner.split()
    WINDOWS_PATHS = OPTIONS.windows_paths
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


def make_installation(dest, *args):
    """A generated source installation (bench/make-installation)."""
    subprocess.run([sys.executable,
                    os.path.join(ROOT, "bench", "make-installation"), dest]
                   + list(args), check=True, stdout=subprocess.DEVNULL)


def as_nobody():
    """A preexec_fn that runs the program as the user nobody."""
    nobody = pwd.getpwnam("nobody")

    def preexec():
        os.setgid(nobody.pw_gid)
        os.setuid(nobody.pw_uid)
    return preexec
