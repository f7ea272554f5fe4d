"""Shared helpers of the hardening tests: running velquor-migrate, generating
installations, and reading what a run left in its output folder."""

import fcntl
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
COPY_FAILED_WORD = "失败"
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


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def config_items(path, list_name, fields):
    """The items of one list of a configuration file, as tuples of the
    named fields. Fails (raises) when the file does not parse."""
    # Names from the source may hold bytes that are not GBK; they are
    # copied as they are, so they only need to survive the parse here.
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


class HeldLock:
    """Holds the flock another Tarnwick process would hold on a file."""

    def __init__(self, lock_dir, file_name):
        self.fd = os.open(os.path.join(lock_dir, "Tarnwick_" + file_name),
                          os.O_RDWR | os.O_CREAT, 0o666)
        fcntl.flock(self.fd, fcntl.LOCK_EX)

    def release(self):
        if self.fd is not None:
            fcntl.flock(self.fd, fcntl.LOCK_UN)
            os.close(self.fd)
            self.fd = None


class HardeningCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-harden-")
        os.chmod(self.dir, 0o755)
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        self.locks = os.path.join(self.dir, "locks")
        os.makedirs(self.out)
        os.makedirs(self.locks)
        os.chmod(self.locks, 0o777)
        self.env = dict(os.environ, VELQUOR_LOCK_DIR=self.locks)

    def tearDown(self):
        for dirpath, dirs, _ in os.walk(self.dir):
            for d in dirs:
                try:
                    os.chmod(os.path.join(dirpath, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def command(self, source=None, output=None, extra=()):
        return [PROGRAM, "--source", source or self.src,
                "--output", output or self.out] + list(extra)

    def run_cli(self, source=None, output=None, extra=(), preexec=None,
                timeout=300):
        p = subprocess.run(self.command(source, output, extra),
                           capture_output=True, timeout=timeout,
                           env=self.env, preexec_fn=preexec)
        return Result(p)

    def start_cli(self, source=None, output=None, extra=(), preexec=None):
        return subprocess.Popen(self.command(source, output, extra),
                                stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=self.env,
                                preexec_fn=preexec)

    def assert_failed_run(self, r):
        """A run that could not do everything: exit 1, no success message,
        and a reason on stderr or in the result list."""
        self.assertEqual(r.status, 1, r)
        self.assertNotIn(SHORT_SUCCESS, r.err, r)
        self.assertTrue(r.err.strip() or any(
            COPY_FAILED_WORD in line or "错误" in line or "无法" in line
            for line in r.lines), r)

    def assert_outside_untouched(self, before):
        """Nothing but the output folder changed under the test directory."""
        after = {p: d for p, d in tree(self.dir).items()
                 if not p.startswith("out" + os.sep)
                 and not p.startswith("locks" + os.sep)}
        self.assertEqual(sorted(after), sorted(before))
        for path, data in before.items():
            self.assertEqual(after[path], data, path)

    def snapshot_outside(self):
        return {p: d for p, d in tree(self.dir).items()
                if not p.startswith("out" + os.sep)
                and not p.startswith("locks" + os.sep)}


def main():
    global PROGRAM
    argv = sys.argv[1:]
    if "--program" not in argv:
        sys.exit("usage: %s --program PATH [unittest args]" % sys.argv[0])
    i = argv.index("--program")
    PROGRAM = os.path.abspath(argv[i + 1])
    del argv[i:i + 2]
    unittest.main(module="__main__", argv=[sys.argv[0]] + argv)
