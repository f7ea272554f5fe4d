#!/usr/bin/env python3
"""Feeds velquor-migrate hostile source and target files: names that try to
leave the mail store or break the XML, over-long names and lines, invalid
GBK, NUL bytes, odd line ends, empty and binary files, a huge domain.cfg,
an index that is a directory. Every case must end with a clear line or
message, write nothing outside the output folder, and migrate everything
that can be migrated.

    hostile_input_test.py --program PATH [unittest args]
"""

import os
import sys

sys.dont_write_bytecode = True  # nothing written beside the sources
import harness  # noqa: E402
from harness import (SHORT_SUCCESS, domains_of, read_bytes, tree,  # noqa: E402
                     users_of, write_bytes)

UNSAFE_FOLDER = "文件夹名称不能用作目录，未转移:"
UNSAFE_MAILBOX = "用户名不能用作邮箱目录，邮件未转移:"
NAME_TOO_LONG = "用户名或域名超过64字节，该帐户未导入:"
DOMAIN_FAILED = "该域名转移失败!"
NAME_HAS_NUL = "名称含有空字符，未导入:"
MAILBOX_NOT_CREATED = "无法创建邮箱目录，该帐户未导入:"
FOLDER_LIST_UNREADABLE = "无法读取自建文件夹列表，其中邮件未转移:"
INDEX_UNREADABLE = "无法读取索引文件，邮件按原名转移:"
INDEX_SEP = b"\x0c\t"


def gbk(text):
    return text.encode("gbk") if isinstance(text, str) else text


def lines(items, end=b"\r\n"):
    return b"".join(gbk(i) + end for i in items)


def index_line(name, sized):
    fields = [gbk(name), b"a@b", b"s", b"20261206", b"5", b"0", b"N",
              b"1" if sized else b"0", b"x"]
    return INDEX_SEP.join(fields)


class HostileInputTest(harness.HardeningCase):
    def source(self, domains, users, mail=None):
        """domains, users: bytes of domain.ini and popusers.ini (or None to
        leave the file out); mail: {user: {file: bytes or None for a
        directory}}."""
        os.makedirs(os.path.join(self.src, "mail"), exist_ok=True)
        if domains is not None:
            write_bytes(os.path.join(self.src, "domain.ini"), domains)
        if users is not None:
            write_bytes(os.path.join(self.src, "popusers.ini"), users)
        for user, files in (mail or {}).items():
            box = os.path.join(self.src, "mail", user)
            os.makedirs(box, exist_ok=True)
            for name, data in files.items():
                if data is None:
                    os.makedirs(os.path.join(box, name))
                else:
                    write_bytes(os.path.join(box, name), data)

    def migrate(self):
        before = self.snapshot_outside()
        r = self.run_cli()
        self.assert_outside_untouched(before)
        # Whatever happened, the target files parse.
        domains_of(self.out)
        users_of(self.out)
        self.assertIn(r.status, (0, 1), r)
        if r.status == 0:
            self.assertIn(SHORT_SUCCESS, r.err)
        else:
            self.assertNotIn(SHORT_SUCCESS, r.err)
        return r

    def store(self):
        return tree(os.path.join(self.out, "store"))

    def test_folder_names_that_leave_the_mailbox(self):
        hostile = ["..\\x", "../x", "a\\..\\..\\b", "C:\\x", "CON", "con.txt",
                   "a:b", "a*b", "..", ".", "", "x<y", "a&b", "]]>", "lpt1"]
        folders = lines(h + "\t0\t0" for h in hostile)
        files = {"Folders.ini": folders, "1.in": b"inbox"}
        for i in range(len(hostile)):
            files["%d.%d" % (i + 1, i)] = b"message %d" % i
        self.source(lines(["a.com"]), lines(["bob\tc\ta.com"]),
                    {"bob": files})
        r = self.migrate()
        self.assertEqual(r.status, 1, r)
        refused = [l for l in r.lines if UNSAFE_FOLDER in l]
        accepted = {"a&b"}
        self.assertEqual(len(refused), len(hostile) - len(accepted), r)
        store = self.store()
        self.assertEqual(store[os.path.join("bob", "INBOX", "1.in")],
                         b"inbox")
        # The one safe name keeps its number (its line's position).
        n = hostile.index("a&b")
        self.assertEqual(store[os.path.join("bob", "a&b", "%d.%d" % (n + 1,
                                                                     n))],
                         b"message %d" % n)
        self.assertEqual(sorted(os.listdir(os.path.join(self.out, "store",
                                                        "bob"))),
                         sorted(["INBOX", "Sent", "Draft", "Trash", "Spam",
                                 "a&b"]))

    def test_user_names_that_leave_the_store_or_break_the_xml(self):
        hostile = ["..\\evil", "../evil", "a\\..\\..\\b", "c:\\x", "con",
                   "a:b", "a*b", "x<y", "a&b", "x]]>y", "q\"'"]
        self.source(lines(["a.com"]),
                    lines(h + "\tc\ta.com" for h in hostile),
                    {h.replace("\\", "_").replace("/", "_"): {"1.in": b"m"}
                     for h in hostile})
        r = self.migrate()
        self.assertEqual(r.status, 1, r)
        # Every account is in the user list exactly, markup and all.
        self.assertEqual([n for n, _ in users_of(self.out)], hostile)
        refused = [l for l in r.lines if UNSAFE_MAILBOX in l]
        self.assertEqual(len(refused), len(hostile) - 1, r)
        self.assertEqual(sorted(os.listdir(os.path.join(self.out, "store"))),
                         ["a&b"])

    def test_name_lengths(self):
        name64, name65, name300 = "u" * 64, "v" * 65, "w" * 300
        dom65 = "d" * 61 + ".com"
        self.source(lines(["a.com", dom65]),
                    lines([name64 + "\tc\ta.com", name65 + "\tc\ta.com",
                           name300 + "\tc\ta.com", "short\tc\t" + dom65]),
                    {name64: {"1.in": b"m64"}})
        r = self.migrate()
        self.assertEqual(r.status, 1, r)
        self.assertEqual(users_of(self.out), [(name64, "")])
        self.assertEqual(self.store(),
                         {os.path.join(name64, "INBOX", "1.in"): b"m64"})
        too_long = [l for l in r.lines if l.startswith(NAME_TOO_LONG)]
        self.assertEqual(too_long, [NAME_TOO_LONG + name65,
                                    NAME_TOO_LONG + name300,
                                    NAME_TOO_LONG + "short"])
        # The 65-byte domain is not written either; it is named as failed.
        self.assertNotIn(dom65, domains_of(self.out))

    def test_ten_megabyte_lines(self):
        huge = b"x" * (10 << 20)
        self.source(lines([huge, b"a.com"]),
                    lines([huge + b"\tc\ta.com", b"bob\tc\ta.com"]),
                    {"bob": {"Folders.ini": lines([huge, b"ok"]),
                             "__r_in.ini": huge + b"\r\n" +
                             index_line("1.in", True),
                             "1.in": b"12345", "2.1": b"two"}})
        r = self.migrate()
        self.assertEqual(r.status, 1)
        self.assertEqual(domains_of(self.out), ["a.com"])
        self.assertEqual(users_of(self.out), [("bob", "")])
        store = self.store()
        self.assertEqual(store[os.path.join("bob", "INBOX",
                                            "1.in,S=5.0.S")], b"12345")
        self.assertEqual(store[os.path.join("bob", "ok", "2.1")], b"two")
        self.assertIn(DOMAIN_FAILED, r.lines)
        self.assertTrue(any(l.startswith(NAME_TOO_LONG) for l in r.lines))

    def test_invalid_gbk_nul_bytes_and_line_ends(self):
        # LF-only, CR LF and a lone CR inside a line; an invalid GBK user
        # name; a NUL inside a name.
        self.source(b"a.com\nb.com\r\n\xff\xfe.com\r\n",
                    b"bob\tc\ta.com\n\xff\x80bad\tc\ta.com\r\n"
                    b"nu\x00l\tc\ta.com\r\ncarl\tc\tb.com",
                    {"bob": {"Folders.ini": b"f1\t0\nf2\r\n",
                             "__r_0.ini": index_line("1.0", True) + b"\n",
                             "1.0": b"abc", "2.1": b"def", "3.in": b"ghi"},
                     "carl": {"1.in": b"c"}})
        r = self.migrate()
        self.assertEqual(r.status, 1, r)
        users = [n for n, _ in users_of(self.out)]
        self.assertIn("bob", users)
        self.assertIn("carl", users)
        store = self.store()
        self.assertEqual(store[os.path.join("bob", "f1", "1.0,S=3.0.S")],
                         b"abc")
        self.assertEqual(store[os.path.join("bob", "f2", "2.1")], b"def")
        self.assertEqual(store[os.path.join("bob", "INBOX", "3.in")], b"ghi")
        self.assertEqual(store[os.path.join("carl@b.com", "INBOX", "1.in")],
                         b"c")
        # The invalid and the NUL names are each named, not dropped.
        self.assertTrue(any(l.startswith(MAILBOX_NOT_CREATED) or
                            l.startswith(UNSAFE_MAILBOX) for l in r.lines), r)
        # A NUL would cut the name into another one ("nu"): refused.
        self.assertIn(NAME_HAS_NUL + "nu\x00l", r.lines)
        self.assertNotIn("nu", users)

    def test_empty_and_binary_files_everywhere(self):
        binary = bytes(range(256)) * 4
        for name, domains, users in [
                ("empty lists", b"", b""),
                ("binary domain list", binary, lines(["bob\tc\ta.com"])),
                ("binary user list", lines(["a.com"]), binary)]:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                self.source(domains, users)
                self.migrate()
        # Binary and empty target lists are reported and never replaced.
        for domain_cfg, users_cfg in [(binary, b""), (b"", binary),
                                      (binary, binary)]:
            with self.subTest(domain_cfg=len(domain_cfg),
                              users_cfg=len(users_cfg)):
                self.tearDown()
                self.setUp()
                self.source(lines(["a.com"]), lines(["bob\tc\ta.com"]),
                            {"bob": {"1.in": b"one"}})
                write_bytes(os.path.join(self.out, "domain.cfg"), domain_cfg)
                write_bytes(os.path.join(self.out, "userauth.cfg"), users_cfg)
                before = self.snapshot_outside()
                r = self.run_cli()
                self.assert_outside_untouched(before)
                self.assert_failed_run(r)
                self.assertEqual(read_bytes(os.path.join(self.out,
                                                         "domain.cfg")),
                                 domain_cfg)
                self.assertEqual(read_bytes(os.path.join(self.out,
                                                         "userauth.cfg")),
                                 users_cfg)
        # Binary and empty files in the mailbox: every message is copied
        # byte for byte, whatever the folder list and index hold.
        self.tearDown()
        self.setUp()
        self.source(lines(["a.com"]), lines(["bob\tc\ta.com"]),
                    {"bob": {"Folders.ini": binary, "__r_in.ini": binary,
                             "__r_sed.ini": b"", "1.in": binary,
                             "2.in": b"", "3.sed": b"\x00"}})
        r = self.migrate()
        store = self.store()
        self.assertEqual(store[os.path.join("bob", "INBOX", "1.in")], binary)
        self.assertEqual(store[os.path.join("bob", "INBOX", "2.in")], b"")
        self.assertEqual(store[os.path.join("bob", "Sent", "3.sed")],
                         b"\x00")
        self.assertIn(r.status, (0, 1))

    def test_index_and_folder_list_that_are_directories(self):
        self.source(lines(["a.com"]), lines(["bob\tc\ta.com"]),
                    {"bob": {"__r_in.ini": None, "Folders.ini": None,
                             "1.in": b"one"}})
        r = self.migrate()
        self.assertEqual(r.status, 1, r)
        self.assertEqual(self.store(),
                         {os.path.join("bob", "INBOX", "1.in"): b"one"})
        self.assertTrue(any(FOLDER_LIST_UNREADABLE in l for l in r.lines), r)
        self.assertTrue(any(INDEX_UNREADABLE in l for l in r.lines), r)

    def test_huge_domain_cfg(self):
        item = (b"<item>\r\n<domain>old%07d.example</domain>\r\n"
                b"<type>0</type>\r\n</item>\r\n")
        items = [item % i for i in range(100 * (1 << 20) // len(item % 0))]
        text = (b"<database>\r\n<domain>\r\n" + b"".join(items) +
                b"</domain>\r\n<domainalias>\r\n</domainalias>\r\n"
                b"</database>")
        self.assertGreaterEqual(len(text), 100 << 20)
        write_bytes(os.path.join(self.out, "domain.cfg"), text)
        self.source(lines(["new.example", "old0000001.example"]),
                    lines(["bob\tc\tnew.example"]))
        r = self.migrate()
        self.assertEqual(r.status, 0, r)
        after = read_bytes(os.path.join(self.out, "domain.cfg"))
        cut = text.index(b"</domain>\r\n<domainalias>")
        self.assertEqual(after[:cut], text[:cut])
        self.assertEqual(after[-60:], text[-60:])
        self.assertIn(b"<domain>new.example</domain>", after[cut:])
        self.assertEqual(len(domains_of(self.out)), len(items) + 1)
        self.assertEqual([n for n, _ in users_of(self.out)], ["bob"])


if __name__ == "__main__":
    harness.main()
