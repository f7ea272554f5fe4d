#!/usr/bin/python3
"""Checks what ships beside velquor-migrate against the program itself:
--help, the manual page and the bash completion name exactly the parser's
options (read from its table in src/console/command_line.cc), and real JSON
reports of several kinds of run follow docs/report.schema.json, whose
outcome values are the program's and are explained in the manual page and
the user guide.

    docs_test.py --program PATH [unittest args]

Runs under the system Python: the schema validator is Debian's
python3-jsonschema.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import jsonschema

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "e2e"))
import e2e_support as e2e  # noqa: E402
from e2e_support import ROOT  # noqa: E402


def source(*path):
    with open(os.path.join(ROOT, *path), encoding="utf-8") as f:
        return f.read()


def strings_in(text, start, end, pattern):
    block = text[text.index(start):]
    return re.findall(pattern, block[:block.index(end)])


PARSER = source("src", "console", "command_line.cc")
OPTIONS = set(strings_in(PARSER, "kOptions[] = {", "};", r'"(--?[a-z-]+)"'))
MODES = strings_in(PARSER, "kModes[] = {", "};", r'\{"(\w+)", PasswordMode')
OPTION_WORD = r"(?<![\w-])(--?[a-z][a-z-]*)"
MAN = re.sub(r"\\f[BIRP]", "",
             source("dist", "velquor-migrate.1").replace("\\-", "-"))
GUIDE = source("docs", "user-guide.md")
README = source("README.md")
SCHEMA = json.loads(source("docs", "report.schema.json"))


def run(*args, check=0):
    p = subprocess.run([e2e.PROGRAM] + list(args), capture_output=True,
                       timeout=120)
    assert p.returncode == check, (args, p.returncode, p.stderr)
    return p.stdout.decode("utf-8")


def complete(*words):
    """The replies of the completion function for these words (the last
    one is being completed), one per line."""
    script = ('source "$1"; shift; COMP_WORDS=("$@"); '
              'COMP_CWORD=$(($# - 1)); _velquor_migrate; '
              'printf "%s\\n" "${COMPREPLY[@]}"')
    out = subprocess.run(
        ["bash", "-c", script, "bash",
         os.path.join(ROOT, "dist", "velquor-migrate.bash-completion"),
         "velquor-migrate"] + list(words),
        capture_output=True, check=True, timeout=60).stdout.decode()
    return set(out.split())


class DocsTest(unittest.TestCase):
    def test_help_manual_and_completion_name_the_parsers_options(self):
        self.assertGreater(len(OPTIONS), 15)
        help_text = run("--help")
        for name, text in (("--help", help_text), ("manual page", MAN)):
            with self.subTest(name):
                self.assertEqual(set(re.findall(OPTION_WORD, text)), OPTIONS)
        self.assertEqual([l for l in help_text.splitlines() if len(l) > 80],
                         [])
        self.assertEqual(complete("--"), {o for o in OPTIONS if "--" in o})
        self.assertEqual(complete("--password-mode", ""), set(MODES))
        self.assertEqual(complete("--password-mode=c"),
                         {"--password-mode=common", "--password-mode=cipher"})
        self.assertEqual(complete("--verify", "=", ""), {"content"})
        # Folders for the installations, any file for a report.
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        for name in ("dir-a", "dir-b"):
            os.mkdir(os.path.join(work, name))
        open(os.path.join(work, "dir-file"), "w").close()
        prefix = os.path.join(work, "dir-")
        self.assertEqual(complete("--target", prefix),
                         {prefix + "a", prefix + "b"})
        self.assertEqual(complete("--report", prefix),
                         {prefix + "a", prefix + "b", prefix + "file"})
        rendered = subprocess.run(
            ["groff", "-k", "-man", "-ww", "-z", "-Tutf8",
             os.path.join(ROOT, "dist", "velquor-migrate.1")],
            capture_output=True, check=True, timeout=60)
        self.assertEqual(rendered.stderr, b"")

    def test_reports_follow_the_schema(self):
        version = re.search(r"project\(velquor_migrate VERSION ([\d.]+)",
                            source("CMakeLists.txt")).group(1)
        self.assertRegex(run("--version"),
                         r"^velquor-migrate %s( \(\S+\))?\n$" %
                         re.escape(version))
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        src = os.path.join(work, "src")
        shutil.copytree(os.path.join(ROOT, "examples", "velquor"), src)
        out = os.path.join(work, "out")
        box = os.path.join(out, "store", "alice", "INBOX")

        def report(name, *args, status=0):
            path = os.path.join(work, name)
            run("--source", src, "--output", out, "--report", path, *args,
                check=status)
            with open(path, encoding="utf-8") as f:
                return json.load(f)

        reports = [report("first.json", "--verify")]
        with open(os.path.join(src, "mail", "alice", "99.in"), "wb") as f:
            f.write(b"new mail")
        reports.append(report("dry.json", "--dry-run", "--sync"))
        reports.append(report("sync.json", "--sync"))
        messages = sorted(os.listdir(box))
        with open(os.path.join(box, messages[0]), "ab") as f:
            f.write(b"changed")
        os.remove(os.path.join(box, messages[1]))
        # An account whose domain is no line of domain.ini is left out.
        with open(os.path.join(src, "popusers.ini"), "ab") as f:
            f.write(b"erin\tfeedface\tnowhere.example\t\r\n")
        reports.append(report("check.json", "--verify-only", status=1))

        validator = jsonschema.Draft202012Validator(SCHEMA)
        for r in reports:
            self.assertEqual(r["version"], version)
            validator.validate(r)
        outcomes = {a["outcome"] for r in reports for a in r["accounts"]}
        self.assertTrue({"added", "synced", "skipped-no-domain-line"} <=
                        outcomes, outcomes)
        folders = [f for a in reports[-1]["accounts"] for f in a["folders"]]
        self.assertEqual(sum(f.get("missing", 0) for f in folders), 1)
        self.assertEqual(sum(f.get("different", 0) for f in folders), 1)
        # Each near miss is refused: a key missing or one too many.
        folder = lambda r: [a for a in r["accounts"] if a["folders"]][0][
            "folders"][0]
        for spoil in (lambda r: r["accounts"][0].pop("reason"),
                      lambda r: r["totals"].update(extra=1),
                      lambda r: folder(r).pop("checked"),
                      lambda r: r["totals"]["account_outcomes"].update(
                          stopped=0)):
            near = json.loads(json.dumps(reports[0]))
            spoil(near)
            self.assertFalse(validator.is_valid(near))

    def test_outcomes_are_the_programs_and_documented(self):
        table = source("src", "migrate", "outcome_table.cc")
        defs = SCHEMA["$defs"]
        for start, key in (("kAccountWords[] = {", "account_outcome"),
                           ("kDomainWords[] = {", "domain_outcome")):
            words = strings_in(table, start, "\n};",
                               r'\{[AD]::k\w+, "([\w-]+)"')
            self.assertEqual(set(words), set(defs[key]["enum"]))
            for word in words:
                for name, text in (("manual", MAN), ("guide", GUIDE),
                                   ("readme", README)):
                    self.assertRegex(text, r"(?<![\w-])%s(?![\w-])" %
                                     re.escape(word), name)
        # Every reason key the program gives is in the schema and the README.
        keys = set(re.findall(r'"([a-z_]+)",\s*&Texts::\w+\}', table))
        self.assertGreater(len(keys), 20)
        self.assertEqual(keys | {""}, set(defs["reason_key"]["enum"]))
        for k in keys:
            self.assertIn("`%s`" % k, README, k)

    def test_every_exit_status_is_documented(self):
        statuses = re.findall(r"kExit\w+ = (\d+);",
                              source("src", "console", "console_app.h"))
        self.assertIn("130", statuses)
        help_text = run("--help").split("Exit status:")[1]
        man = MAN.split(".SH EXIT STATUS")[1].split(".SH")[0]
        for status in statuses:
            self.assertRegex(help_text, r"\n  %s " % status)
            self.assertIn("\n.B %s\n" % status, man)
            self.assertRegex(GUIDE, r"\n\| %s \|" % status)

    def test_every_report_key_is_documented(self):
        keys = set()
        json.loads(source("docs", "report.schema.json"), object_hook=lambda
                   d: keys.update(d.get("properties", {}),
                                  d.get("required", [])) or d)
        self.assertTrue({"changes_only", "stopped", "checked"} <= keys)
        for name, text in (("manual", MAN), ("guide", GUIDE),
                           ("readme", README)):
            with self.subTest(name):
                self.assertEqual({k for k in keys if not re.search(
                    r"(?<![\w-])%s(?![\w-])" % re.escape(k), text)}, set())


if __name__ == "__main__":
    e2e.main()
