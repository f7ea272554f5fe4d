"""The HTML report in a real browser (Debian's chromium, headless): each
page of a clean run, a run with failed, refused and left-out accounts, a
preview, a verification and an undo is rendered to PNG and PDF (kept
under --artifacts), and its DOM as the browser built it shows the same
tiles and per-domain numbers (an undo: the same outcomes) as the JSON
report of the same run. A page of hostile names runs no script and shows
the names as text.

    html_report_test.py --program PATH --artifacts DIR [unittest args]
"""

import argparse
import collections
import glob
import html.parser
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "e2e"))
import e2e_support as e2e  # noqa: E402
from e2e_support import SAMPLE, write  # noqa: E402

# The tiles' accounts, as the guide's reports chapter groups the outcomes.
TILE_OUTCOMES = {
    "accounts_added": ["added", "resumed"],
    "accounts_present": ["exists", "alias", "synced"],
    "accounts_failed": ["failed", "refused", "skipped-no-domain", "absent"],
}
TOTALS = ["copied", "already_present", "failed", "copied_bytes"]
CHECKS = ["checked", "missing", "different"]


class Page(html.parser.HTMLParser):
    """What the checks read from a DOM: the title, the verdict, the tiles,
    the rows of the domain table, the attention rows with their links, the
    text, and every element's name."""

    def __init__(self, text):
        super().__init__()
        self.title = self.verdict = ""
        self.tiles, self.domains, self.attention, self.links = {}, [], [], {}
        self.elements, self.text = collections.Counter(), []
        self.section, self.into, self.row, self.href = None, None, None, None
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.elements[tag] += 1
        if tag == "section":
            self.section = a.get("id")
        if "data-key" in a:
            self.tiles[a["data-key"]] = int(a["data-value"])
        if tag in ("title", "h1"):
            self.into = tag
        if tag == "tr" and self.section in ("domains", "attention"):
            self.row = []
            (self.domains if self.section == "domains"
             else self.attention).append(self.row)
        if tag in ("td", "th") and self.row is not None:
            self.row.append("")
        if tag == "a" and self.row:
            self.links[self.row[0]] = a.get("href")

    def handle_endtag(self, tag):
        if tag in ("title", "h1"):
            self.into = None
        if tag in ("table", "tbody"):
            self.row = None

    def handle_data(self, data):
        self.text.append(data)
        if self.into == "title":
            self.title += data
        elif self.into == "h1":
            self.verdict += data
        elif self.row:
            self.row[-1] += data.strip()


def browser(*args):
    p = subprocess.run(["chromium", "--headless", "--no-sandbox",
                        "--disable-gpu", "--no-first-run"] + list(args),
                       capture_output=True, timeout=300)
    return p.stdout.decode("utf-8")


class HtmlReportTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vm-html-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def scenario(self, name):
        """A source of two domains of several accounts each: one copy that
        fails (a file stands where bob's INBOX goes), a user name refused as
        a mailbox, an account whose domain is no line of domain.ini; and an
        empty output folder. Returns (source, output)."""
        base = os.path.join(self.dir, name)
        src, out = os.path.join(base, "src"), os.path.join(base, "out")
        write(os.path.join(src, "domain.ini"), "a.com\r\nb.com\r\n")
        write(os.path.join(src, "popusers.ini"), "".join(
            l + "\r\n" for l in ["bob\tc\ta.com", "carol\tc\ta.com",
                                 "..\tc\ta.com", "dan\tc\tb.com",
                                 "eve\tc\tb.com", "lost\tc\tc.com"]))
        mail = {"bob": {"1.in": b"one", "2.in": b"two", "3.sed": b"three"},
                "carol": {"4.in": b"four"}, "dan": {"5.in": b"fifty"},
                "eve": {"6.sed": b"sixty", "7.del": b"seven"}}
        for user, files in mail.items():
            for f, data in files.items():
                write(os.path.join(src, "mail", user, f), data)
        write(os.path.join(out, "store", "bob", "INBOX"), b"")
        return src, out

    def run_cli(self, source, output, report, *args):
        p = subprocess.run(e2e.command("--source", source, "--output", output,
                                       "--report", report, *args),
                           capture_output=True, timeout=300)
        return p.returncode

    def report_pair(self, name, make, *args):
        """The JSON and the HTML report of two runs of the same command on
        inputs made alike by `make(run)` -> (source, output)."""
        reports = []
        for ext in ("json", "html"):
            source, output = make(name + "-" + ext)
            report = os.path.join(self.dir, name + "." + ext)
            self.run_cli(source, output, report, *args)
            reports.append(report)
        with open(reports[0], encoding="utf-8") as f:
            return json.load(f), reports[1]

    def render(self, name, page):
        """The page as PNG and PDF among the artifacts; its DOM."""
        address = "file://" + page
        ARTIFACTS = e2e.OPTIONS.artifacts
        os.makedirs(ARTIFACTS, exist_ok=True)
        png = os.path.join(ARTIFACTS, name + ".png")
        pdf = os.path.join(ARTIFACTS, name + ".pdf")
        shutil.copy(page, os.path.join(ARTIFACTS, name + ".html"))
        browser("--window-size=1100,1500", "--screenshot=" + png, address)
        browser("--no-pdf-header-footer", "--print-to-pdf=" + pdf, address)
        with open(png, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", name)
        with open(pdf, "rb") as f:
            self.assertEqual(f.read(5), b"%PDF-", name)
        return Page(browser("--dump-dom", address))

    def check_numbers(self, report, page):
        totals, counts = report["totals"], report["totals"]["account_outcomes"]
        expected = {"domains": totals["domains"],
                    "accounts_left_out": totals["accounts_left_out"]}
        for key, outcomes in TILE_OUTCOMES.items():
            expected[key] = sum(counts[o] for o in outcomes)
        for key in TOTALS + (CHECKS if report["options"]["verify"] != "none"
                             else []):
            expected[key] = totals[key]
        self.assertEqual(page.tiles, expected)
        domains = collections.OrderedDict()
        for a in report["accounts"]:
            d = domains.setdefault(a["domain"], [0] * 6)
            for i, v in enumerate([1, a["source_messages"], a["copied"],
                                   a["already_present"], a["failed"],
                                   a["copied_bytes"]]):
                d[i] += v
        self.assertEqual(page.domains[1:],  # after the header row
                         [[n] + [str(v) for v in d]
                          for n, d in domains.items()])

    def test_pages_show_what_the_json_report_says(self):
        clean = lambda run: (SAMPLE, os.path.join(self.dir, run))
        cases = [
            ("clean", clean, [], "迁移：成功"),
            ("failed", self.scenario, [], "迁移：未全部成功"),
            ("preview", self.scenario, ["--dry-run"], "迁移：预览"),
        ]
        pages = {}
        for name, make, args, verdict in cases:
            with self.subTest(name):
                report, page_file = self.report_pair(name, make, *args)
                pages[name] = self.render(name, page_file)
                self.assertEqual(pages[name].verdict, verdict)
                self.check_numbers(report, pages[name])
        # Each account and folder that needs attention, with the guide's
        # section on its reason.
        self.assertEqual(pages["clean"].attention, [])
        # A preview makes no mailbox: it sees bob's copies fail, the run
        # sees his mailbox fail.
        for name, bob in (("failed", "fix-mailbox"), ("preview", "fix-copy")):
            self.assertEqual(
                {k: v.split("#")[1] for k, v in pages[name].links.items()},
                {"..@a.com": "fix-names", "bob@a.com": bob,
                 "bob@a.com / INBOX": "fix-copy", "lost@c.com": "fix-left-out"},
                name)

    def test_verification_page(self):
        source, output = self.scenario("v")
        self.run_cli(source, output, os.path.join(self.dir, "first.json"))
        os.remove(os.path.join(output, "store", "carol", "INBOX", "4.in"))
        report_json = os.path.join(self.dir, "verify.json")
        report_html = os.path.join(self.dir, "verify.html")
        for report in (report_json, report_html):
            self.assertEqual(self.run_cli(source, output, report,
                                          "--verify-only"), 1)
        with open(report_json, encoding="utf-8") as f:
            report = json.load(f)
        page = self.render("verification", report_html)
        self.assertEqual(page.verdict, "校验：未全部成功")
        self.check_numbers(report, page)
        self.assertIn(["carol@a.com / INBOX", "校验未通过",
                       "目标中缺少 1 封，不同 0 封"],
                      [r[:3] for r in page.attention])

    def test_hostile_names_are_text(self):
        # Each would run, or end the style sheet, if it were not escaped.
        names = ["<script>document.title='pwned'</script>",
                 '"onmouseover=document.title=1 x="', "</style><i>x</i>",
                 "ctl\x01name"]
        src = os.path.join(self.dir, "src")
        write(os.path.join(src, "domain.ini"), "a.com\r\n" + names[2] + "\r\n")
        write(os.path.join(src, "popusers.ini"), "".join(
            n + "\tc\ta.com\r\n" for n in names))
        os.makedirs(os.path.join(src, "mail"))
        page_file = os.path.join(self.dir, "hostile.html")
        self.run_cli(src, os.path.join(self.dir, "out"), page_file)
        page = self.render("hostile", page_file)
        self.assertEqual(page.title, "迁移报告：未全部成功")
        self.assertEqual((page.elements["script"], page.elements["i"]), (0, 0))
        text = "".join(page.text)
        for shown in names[:3] + ["ctl\\u0001name"]:
            self.assertIn(shown, text)

    def undo_pair(self, folder):
        """The JSON and the HTML report of two undos alike: each of a run
        into a folder named `folder`, after mail arrived for bob@a.com.
        Returns (JSON report, page file, manifest of the HTML one)."""
        reports = []
        for ext in ("json", "html"):
            base = os.path.join(self.dir, ext)
            src, out = os.path.join(base, "src"), os.path.join(base, folder)
            write(os.path.join(src, "domain.ini"), "a.com\r\nb.com\r\n")
            write(os.path.join(src, "popusers.ini"),
                  "ann\tc\ta.com\r\nbob\tc\ta.com\r\ncy\tc\tb.com\r\n")
            for user, name in (("ann", "1.in"), ("ann", "2.sed"),
                               ("bob", "3.in"), ("cy", "4.in")):
                write(os.path.join(src, "mail", user, name), b"mail " + name.encode())
            self.assertEqual(self.run_cli(src, out, os.path.join(
                base, "run.json")), 0)
            [inbox] = glob.glob(os.path.join(out, "store", "bob*", "INBOX"))
            write(os.path.join(inbox, "new.eml"), b"arrived after the run")
            [manifest] = glob.glob(os.path.join(base, "run.*.manifest"))
            report = os.path.join(base, "undo." + ext)
            p = subprocess.run(e2e.command(
                "--undo", manifest, "--output", out, "--report", report),
                capture_output=True, timeout=300)
            self.assertEqual(p.returncode, 1, p.stderr)
            reports.append(report)
        with open(reports[0], encoding="utf-8") as f:
            return json.load(f), reports[1], manifest

    # Faults: tiles that miscount an outcome (a never-made item counted as
    # gone twice, kept items outside the target counted as kept), a kept
    # item missing from the attention list, a verdict that calls an
    # incomplete undo complete, a name or path written as markup.
    def test_undo_page_shows_what_its_json_report_says(self):
        folder = "out<i>x\"onmouseover=document.title=1 x="
        report, page_file, manifest = self.undo_pair(folder)
        page = self.render("undo", page_file)
        self.assertEqual(page.verdict, "撤销未完成")
        self.assertEqual(page.title, "撤销报告：撤销未完成")
        outside = "不在目标之内"
        expected = dict.fromkeys(["removed", "gone", "never_made", "kept",
                                  "not_reached", "outside"], 0)
        for item in report["items"]:
            key = {"never-made": "never_made",
                   "not-reached": "not_reached"}.get(item["outcome"],
                                                      item["outcome"])
            if key == "kept" and outside in item.get("reason", ""):
                key = "outside"
            expected[key] += 1
        self.assertEqual(page.tiles, expected)
        self.assertGreater(expected["removed"], 3)
        # bob@a.com is kept whole: his account, mailbox and mail.
        kept = [[i["name"], i["reason"]] for i in report["items"]
                if i["outcome"] == "kept"]
        self.assertIn("bob@a.com", [k[0] for k in kept])
        self.assertEqual([[r[0], r[3]] for r in page.attention[1:]], kept)
        self.assertEqual(page.elements["i"], 0)
        text = "".join(page.text)
        self.assertIn(folder, text)
        self.assertIn("运行清单" + manifest + "\n", text)
        self.assertTrue(os.path.isabs(report["manifest"]))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--artifacts", required=True, type=os.path.abspath)
    e2e.main(parser)
