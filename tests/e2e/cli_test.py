#!/usr/bin/env python3
"""End-to-end tests of velquor-migrate: run the built program on generated
installations and compare what it writes, prints and returns.

    cli_test.py --program PATH [--runner CMD] [--windows-paths] [unittest args]

--runner runs the program through another command (for example "wine");
--windows-paths hands it paths as Z:\\... for a Windows build under Wine.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))
SAMPLE = os.path.join(ROOT, "examples", "velquor")
PROGRAM = None
RUNNER = []
WINDOWS_PATHS = False

SEP_LINE = "*" * 34
DOMAIN_BEGIN, DOMAIN_END = "域名转移开始", "域名转移结束"
USER_BEGIN, USER_END = "邮箱用户转移开始", "邮箱用户转移结束"
SUMMARY_HEAD = "本次成功迁移:"
SHORT_SUCCESS = "Velquor => Tarnwick 转移成功！"
LONG_SUCCESS = (SHORT_SUCCESS + "\n请将临时目录中创建的域名/帐户 "
                "数据文件和邮件存储目录拷贝到 Tarnwick 系统安装目录下。")
STANDARD = [("in", "收件箱"), ("sed", "发件箱"), ("out", "草稿箱"),
            ("del", "垃圾箱")]
INDENT = " " * 9

EMPTY_DOMAINS = ("<database>\r\n<domain>\r\n</domain>\r\n<domainalias>\r\n"
                 "</domainalias>\r\n</database>")
EMPTY_USERS = ("<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n"
               "</useralias>\r\n</database>")
EMPTY_GROUPS = "<database>\r\n<group>\r\n</group>\r\n</database>"


def native(path):
    if WINDOWS_PATHS:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def write_text(path, lines, encoding="gbk"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write("".join(l + "\r\n" for l in lines).encode(encoding))


def write_raw(path, text, encoding="gbk"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode(encoding) if isinstance(text, str) else text)


def read(path):
    with open(path, "rb") as f:
        return f.read().decode("gbk")


def mask_times(text):
    return re.sub(r"<(createtime|lastvisittime|lastchgpwdtime)>\d+<",
                  r"<\1>T<", text)


def md5(text):
    return "{md5}" + hashlib.md5(text.encode("gbk")).hexdigest()


def domain_item(name, primary):
    values = [("domain", name), ("type", "1" if primary else "0"),
              ("maxmailboxquota", "20971520"), ("maxmailboxmailnum", "10000"),
              ("netstorequota", "104857600"), ("netstoretotallimit", "1000"),
              ("defaultwarninglimit", "80"), ("addressnum", "100"),
              ("mailfilternum", "10"), ("signaturenum", "5"),
              ("externalmailnum", "5"), ("maxpop3mailsize", "5242880"),
              ("maxpop3mailtotal", "100")]
    return ("<item>\r\n" +
            "".join("<%s>%s</%s>\r\n" % (k, v, k) for k, v in values) +
            "</item>\r\n")


def user_item(name, domain, password):
    """A user of a domain made by the domain step (default settings);
    domain None means the primary domain."""
    dom = "<domain/>\r\n" if domain is None else (
        "<domain>%s</domain>\r\n" % domain)
    return ("<item>\r\n<name>%s</name>\r\n" % name + dom +
            "<password>%s</password>\r\n" % password +
            "<mailquota>20971520</mailquota>\r\n"
            "<mailtotallimit>10000</mailtotallimit>\r\n"
            "<netstorequota>104857600</netstorequota>\r\n"
            "<netstoretotallimit>1000</netstoretotallimit>\r\n"
            "<warninglimit>80</warninglimit>\r\n"
            "<createtime>T</createtime>\r\n"
            "<lastvisittime>T</lastvisittime>\r\n</item>\r\n")


def domains_file(items):
    return EMPTY_DOMAINS.replace("<domain>\r\n", "<domain>\r\n" +
                                 "".join(items), 1)


def users_file(items):
    return EMPTY_USERS.replace("<user>\r\n", "<user>\r\n" + "".join(items), 1)


def framed(domain_lines, user_lines, counts, extra=()):
    return ([SEP_LINE, DOMAIN_BEGIN] + domain_lines +
            [DOMAIN_END, SEP_LINE, USER_BEGIN] + user_lines +
            [USER_END, SEP_LINE, SUMMARY_HEAD,
             "域名%d 用户数%d 邮件总数%d " % counts] + list(extra))


def mailbox_lines(counts, user_folders=()):
    lines = [INDENT + "%s转移成功 %d!" % (STANDARD[i][1], counts[i])
             for i in range(4)]
    return lines + [INDENT + f + "文件夹转移成功!" for f in user_folders]


def tree(path):
    """{relative path: bytes} of every file below `path`, and the set of
    directories."""
    files, dirs = {}, set()
    for base, dirnames, filenames in os.walk(path):
        rel = os.path.relpath(base, path)
        for d in dirnames:
            dirs.add(os.path.normpath(os.path.join(rel, d)))
        for f in filenames:
            with open(os.path.join(base, f), "rb") as fh:
                files[os.path.normpath(os.path.join(rel, f))] = fh.read()
    return files, dirs


class Result:
    def __init__(self, p):
        self.status = p.returncode
        self.out = p.stdout.decode("utf-8")
        self.err = p.stderr.decode("utf-8")
        self.lines = self.out.splitlines()


class CliTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-e2e-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_cli(self, *args, source=None, output=None, target=None):
        cmd = RUNNER + [PROGRAM]
        if source is not False:
            cmd += ["--source", native(source or self.src)]
        if target:
            cmd += ["--target", native(target)]
        elif output is not False:
            cmd += ["--output", native(output or self.out)]
        cmd += list(args)
        p = subprocess.run(cmd, capture_output=True, timeout=300)
        return Result(p)

    def make_source(self, domains, accounts, mail=None):
        """accounts: popusers.ini lines; mail: {user: {file: bytes}}."""
        write_text(os.path.join(self.src, "domain.ini"), domains)
        write_text(os.path.join(self.src, "popusers.ini"), accounts)
        os.makedirs(os.path.join(self.src, "mail"), exist_ok=True)
        for user, files in (mail or {}).items():
            for name, data in files.items():
                write_raw(os.path.join(self.src, "mail", user, name), data)

    def assert_configs(self, base, domains, users):
        self.assertEqual(read(os.path.join(base, "domain.cfg")), domains)
        self.assertEqual(mask_times(read(os.path.join(base, "userauth.cfg"))),
                         users)

    # ---- the sample installation ----

    def test_sample_installation(self):
        log = os.path.join(self.dir, "result.log")
        r = self.run_cli("--log", native(log), source=SAMPLE)
        self.assertEqual(r.status, 0, r.err)
        self.assertEqual(r.err, LONG_SUCCESS + "\n")
        expected = framed(
            ["导入域名:example.com", "导入域名:示例.cn",
             "导入域名:Sales.Example.org"],
            ["导入帐户:alice@example.com"] +
            mailbox_lines([3, 1, 1, 1], ["Projects", "工作资料", "Archive"]) +
            ["导入帐户:bob@example.com"] + mailbox_lines([2, 0, 0, 0]) +
            ["导入帐户:carol@示例.cn"] + mailbox_lines([0, 0, 0, 1]) +
            ["导入帐户:张伟@示例.cn"] + mailbox_lines([1, 0, 0, 0], ["家庭"]) +
            ["导入帐户:dave@Sales.Example.org"] + mailbox_lines([0, 0, 0, 0]),
            (3, 5, 15))
        self.assertEqual(r.lines, expected)
        with open(log, "rb") as f:
            self.assertEqual(f.read().decode("utf-8"), r.out)

        self.assert_configs(
            self.out,
            domains_file([domain_item("example.com", True),
                          domain_item("示例.cn", False),
                          domain_item("Sales.Example.org", False)]),
            users_file([user_item("alice", None, md5("alice")),
                        user_item("bob", None, md5("bob@example.com")),
                        user_item("carol", None, md5("carol@示例.cn")),
                        user_item("张伟", "示例.cn", md5("张伟")),
                        user_item("dave", "Sales.Example.org", md5("dave"))]))
        self.assertEqual(read(os.path.join(self.out, "mailgroup.cfg")),
                         EMPTY_GROUPS)

        files, dirs = tree(os.path.join(self.out, "store"))
        def src(*parts):
            with open(os.path.join(SAMPLE, "mail", *parts), "rb") as f:
                return f.read()
        sized = lambda user, name, folder: (
            os.path.join(user, folder, "%s,S=%d.0.S" %
                         (name, len(src(user, name)))), src(user, name))
        plain = lambda user, name, folder: (
            os.path.join(user, folder, name), src(user, name))
        expected_files = dict([
            sized("alice", "11.in", "INBOX"),
            sized("alice", "1.in", "INBOX"),  # flag from the 11.in line
            plain("alice", "2.in", "INBOX"),
            sized("alice", "3.sed", "Sent"),
            plain("alice", "4.out", "Draft"),
            sized("alice", "5.del", "Trash"),
            sized("alice", "6.0", "Projects"),
            plain("alice", "7.0", "Projects"),
            sized("alice", "8.1", "工作资料"),
            plain("alice", "9.2", "Archive"),
            plain("bob@example.com", "20.in", "INBOX"),
            sized("bob@example.com", "21.in", "INBOX"),
            sized("张伟", "30.in", "INBOX"),
            plain("张伟", "31.0", "家庭"),
            plain("carol@示例.cn", "40.del", "Trash"),
        ])
        # The target mailbox is named by the local part, plus the domain
        # when it is not the primary one.
        rename = {"bob@example.com": "bob", "张伟": "张伟@示例.cn",
                  "carol@示例.cn": "carol"}
        expected_files = {
            os.path.join(rename.get(k.split(os.sep)[0], k.split(os.sep)[0]),
                         *k.split(os.sep)[1:]): v
            for k, v in expected_files.items()}
        self.assertEqual(files, expected_files)
        for box in ["alice", "bob", "carol", "张伟@示例.cn",
                    "dave@Sales.Example.org"]:
            for folder in ["INBOX", "Sent", "Draft", "Trash", "Spam"]:
                self.assertIn(os.path.join(box, folder), dirs)

        # A second run over the same target adds nothing.
        before_cfg = [read(os.path.join(self.out, f))
                      for f in ("domain.cfg", "userauth.cfg")]
        r = self.run_cli(source=SAMPLE)
        self.assertEqual(r.status, 0, r.err)
        self.assertEqual(r.lines, framed([], [], (0, 0, 0)))
        self.assertEqual([read(os.path.join(self.out, f))
                          for f in ("domain.cfg", "userauth.cfg")],
                         before_cfg)
        self.assertEqual(tree(os.path.join(self.out, "store"))[0], files)

    # ---- generated installations ----

    def test_empty_source(self):
        self.make_source([], [])
        r = self.run_cli()
        self.assertEqual((r.status, r.err), (0, LONG_SUCCESS + "\n"))
        self.assertEqual(r.lines, framed([], [], (0, 0, 0)))
        self.assert_configs(self.out, EMPTY_DOMAINS, EMPTY_USERS)
        self.assertFalse(os.path.exists(os.path.join(self.out, "store")))

    def test_missing_lists(self):
        r = self.run_cli()  # the source directory does not exist
        self.assertEqual(r.status, 2)
        self.assertEqual(os.listdir(self.out), [])

        os.makedirs(self.src)
        r = self.run_cli()
        self.assertEqual((r.status, r.out, r.err),
                         (1, "", "没有找到domain.ini文件\n"))

        write_text(os.path.join(self.src, "domain.ini"), ["a.com"])
        r = self.run_cli()
        self.assertEqual((r.status, r.out, r.err),
                         (1, "", "没有找到popusers.ini文件\n"))
        # Start-up has written the skeletons; the run touched nothing.
        self.assert_configs(self.out, EMPTY_DOMAINS, EMPTY_USERS)

    def test_password_options(self):
        self.make_source(["a.com"], ["Bob\tCiPhEr\ta.com"])
        cases = [
            ([], md5("bob")),
            (["--password-mode", "same"], md5("bob")),
            (["--password-mode", "suffix", "--suffix", " Xy! "],
             md5("bobXy!")),
            (["--password-mode", "common", "--password", "口令123"],
             md5("口令123")),
            (["--password-mode", "cipher"], md5("CiPhEr")),
        ]
        for args, password in cases:
            with self.subTest(args=args):
                shutil.rmtree(self.out)
                os.makedirs(self.out)
                r = self.run_cli(*args)
                self.assertEqual(r.status, 0, r.err)
                self.assertIn("<password>%s</password>" % password,
                              read(os.path.join(self.out, "userauth.cfg")))
        for args in (["--password-mode", "suffix"],
                     ["--password-mode", "common", "--password", "x" * 21]):
            with self.subTest(args=args):
                r = self.run_cli(*args)
                self.assertEqual((r.status, r.out, r.err),
                                 (1, "",
                                  "密码不能为空且不能超过20个字符！\n"))

    def test_existing_target(self):
        target = os.path.join(self.dir, "Tarnwick")
        store = os.path.join(self.dir, "邮件存储")
        domains = ("<database>\r\n<domain>\r\n<item>\r\n<domain>old.com</domain>"
                   "\r\n<type>1</type>\r\n<maxmailboxquota>5</maxmailboxquota>"
                   "\r\n<sendcontrol>1</sendcontrol>\r\n<allowalldomain>3"
                   "</allowalldomain>\r\n<extdomainlist>x.org</extdomainlist>"
                   "\r\n</item>\r\n</domain>"
                   "\r\n<domainalias>\r\n<item>\r\n<aliasdomain>alias.com"
                   "</aliasdomain>\r\n</item>\r\n</domainalias>\r\n"
                   "</database>")
        users = ("<database>\r\n<user>\r\n<item>\r\n<name>kept</name>\r\n"
                 "<domain/>\r\n<password>x</password>\r\n</item>\r\n</user>"
                 "\r\n<useralias>\r\n<item>\r\n<aliasname>boss</aliasname>\r\n"
                 "<domain/>\r\n</item>\r\n</useralias>\r\n</database>")
        write_raw(os.path.join(target, "data", "domain.cfg"), domains)
        write_raw(os.path.join(target, "data", "userauth.cfg"), users)
        write_raw(os.path.join(target, "data", "system.cfg"),
                  "<database><charset>UTF-8</charset><advanced><directory>"
                  "<mailstore>%s</mailstore></directory></advanced>"
                  "</database>" % native(store), "utf-8")
        os.makedirs(store)
        self.make_source(
            ["OLD.com", "Alias.com", "new.com"],
            ["kept\tc\tOLD.com", "boss\tc\tOLD.com", "ann\tc\tOLD.com",
             "zed\tc\tnew.com", "al\tc\tAlias.com"],
            {"ann": {"1.in": b"hello"}})
        r = self.run_cli(target=target)
        self.assertEqual((r.status, r.err), (0, SHORT_SUCCESS + "\n"), r.out)
        self.assertEqual(r.lines, framed(
            ["导入域名:new.com"],
            ["导入帐户:ann@OLD.com"] + mailbox_lines([1, 0, 0, 0]) +
            ["导入帐户:zed@new.com"] + mailbox_lines([0, 0, 0, 0]),
            (1, 2, 1)))
        new_domains = domains.replace(
            "</domain>\r\n<domainalias>",
            domain_item("new.com", False) + "</domain>\r\n<domainalias>")
        ann = ("<item>\r\n<name>ann</name>\r\n<domain/>\r\n<password>%s"
               "</password>\r\n<mailquota>5</mailquota>\r\n<mailtotallimit>0"
               "</mailtotallimit>\r\n<netstorequota>0</netstorequota>\r\n"
               "<netstoretotallimit>0</netstoretotallimit>\r\n"
               "<sendcontrol>8</sendcontrol>\r\n<senddomainlist>x.org"
               "</senddomainlist>\r\n<createtime>T</createtime>"
               "\r\n<lastvisittime>T</lastvisittime>\r\n</item>\r\n"
               % md5("ann"))
        new_users = users.replace(
            "</user>", ann + user_item("zed", "new.com", md5("zed")) +
            "</user>")
        self.assert_configs(os.path.join(target, "data"), new_domains,
                            mask_times(new_users))
        # The mailbox name compares the domain with the primary domain
        # exactly, so "OLD.com" against "old.com" takes the "@" form.
        with open(os.path.join(store, "ann@OLD.com", "INBOX", "1.in"),
                  "rb") as f:
            self.assertEqual(f.read(), b"hello")
        self.assertTrue(os.path.isdir(os.path.join(store, "zed@new.com",
                                                   "Spam")))
        # mailgroup.cfg was missing and is created; nothing in the target
        # directory itself.
        self.assertEqual(read(os.path.join(target, "data", "mailgroup.cfg")),
                         EMPTY_GROUPS)
        self.assertEqual(sorted(os.listdir(target)), ["data"])

    def test_target_too_old(self):
        target = os.path.join(self.dir, "Tarnwick")
        write_raw(os.path.join(target, "data", "system.cfg"),
                  "<database><charset>gbk</charset></database>", "utf-8")
        self.make_source(["a.com"], [])
        r = self.run_cli(target=target)
        self.assertEqual((r.status, r.out, r.err),
                         (1, "", "本机安装的 Tarnwick 版本太低，请升级！\n"))
        self.assertEqual(read(os.path.join(target, "data", "domain.cfg")),
                         EMPTY_DOMAINS)

    def test_domain_config_not_well_formed(self):
        self.make_source(["a.com"], ["bob\tc\ta.com"])
        write_raw(os.path.join(self.out, "domain.cfg"), "<database><domain>")
        r = self.run_cli()
        self.assertEqual((r.status, r.err), (1, "读取域信息出错！\n"))
        self.assertEqual(r.lines, framed(["导入域名:a.com", "该域名转移失败!"],
                                         [], (1, 0, 0)))
        self.assertEqual(read(os.path.join(self.out, "domain.cfg")),
                         "<database><domain>")
        self.assertEqual(read(os.path.join(self.out, "userauth.cfg")),
                         EMPTY_USERS)

    def test_unsafe_names_and_failed_copies(self):
        self.make_source(
            ["a.com"], ["bob\tc\ta.com", "..\tc\ta.com"],
            {"bob": {"Folders.ini": "ok\t0\r\n..\\..\\..\\evil\t0\r\n",
                     "1.0": b"one", "2.1": b"two", "3.in": b"three",
                     "4.in": b"four"}})
        # A file where bob's INBOX should be: its copies cannot be made.
        write_raw(os.path.join(self.out, "store", "bob", "INBOX"), b"")
        r = self.run_cli()
        self.assertEqual(r.status, 1)
        self.assertEqual(r.err, "")  # no success message
        copy_failed = [l for l in r.lines if "邮件复制失败:" in l]
        self.assertEqual(len(copy_failed), 2, r.out)
        self.assertIn("3.in", "".join(copy_failed))
        self.assertIn("4.in", "".join(copy_failed))
        self.assertIn(INDENT + "文件夹名称不能用作目录，未转移:..\\..\\..\\evil",
                      r.lines)
        self.assertIn("用户名不能用作邮箱目录，邮件未转移:..", r.lines)
        self.assertEqual(r.lines[-2:], ["域名1 用户数2 邮件总数3 ",
                                        "复制失败的邮件数:2"])
        files, _ = tree(self.dir)
        self.assertFalse(any("evil" in f for f in files))
        self.assertEqual(files[os.path.join("out", "store", "bob", "ok",
                                            "1.0")], b"one")
        self.assertEqual(files[os.path.join("out", "store", "bob", "INBOX")],
                         b"")

    def test_usage_errors(self):
        self.make_source(["a.com"], [])
        cases = [
            [],
            ["--output", native(self.out)],
            ["--source", native(self.src)],
            ["--source", native(self.src), "--output", native(self.out),
             "--target", native(self.out)],
            ["--source", native(self.src), "--output", native(self.out),
             "--password-mode", "nope"],
            ["--source", native(self.src), "--output", native(self.out),
             "--frobnicate"],
            ["--source", native(self.src), "--output",
             native(os.path.join(self.dir, "missing"))],
            ["--source", native(os.path.join(self.src, "domain.ini")),
             "--output", native(self.out)],
            ["--source", native(self.src), "--output", native(self.out),
             "--codepage", "NO-SUCH-CODEPAGE"],
        ]
        for args in cases:
            with self.subTest(args=args):
                p = subprocess.run(RUNNER + [PROGRAM] + args,
                                   capture_output=True, timeout=60)
                self.assertEqual(p.returncode, 2)
                self.assertEqual(p.stdout, b"")
                err = p.stderr.decode("utf-8")
                self.assertTrue(err.startswith("velquor-migrate: "), err)
                self.assertIn("usage: velquor-migrate", err)
                self.assertEqual(os.listdir(self.out), [])

    def test_help_and_version(self):
        for arg, text in (("--help", "usage: velquor-migrate"),
                          ("--version", "velquor-migrate 1.0")):
            p = subprocess.run(RUNNER + [PROGRAM, arg], capture_output=True,
                               timeout=60)
            self.assertEqual((p.returncode, p.stderr), (0, b""))
            self.assertIn(text, p.stdout.decode("utf-8"))


def main():
    global PROGRAM, RUNNER, WINDOWS_PATHS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--windows-paths", action="store_true")
    args, rest = parser.parse_known_args()
    PROGRAM = args.program
    RUNNER = args.runner.split() if args.runner else []
    WINDOWS_PATHS = args.windows_paths
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
