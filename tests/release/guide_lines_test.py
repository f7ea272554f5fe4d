#!/usr/bin/python3
"""Checks that the user guide explains every line the program can write into
the result list, as its source writes them today:

- the texts table (src/migrate/texts.cc): each text, in the guide's table
  of result-list lines (section 3), apart from the texts listed below as
  message boxes or the start button, which the guide must name somewhere;
- the lines the session adds (src/session/run_session.cc) and the preview's
  plan block (src/session/run_plan.cc), as the texts they put together.

A line built from several texts (a text, a number, another text) must have
its texts, in that order, on one line of the table; names, paths and
numbers in between are free.

    guide_lines_test.py [unittest args]
"""

import os
import re
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))

# Texts of the table that never reach the result list: message boxes (the
# console writes them on stderr) and the start button's captions.
MESSAGES = {
    "start_running", "start_idle", "success_installed", "success_temporary",
    "bad_password_text", "domain_ini_missing", "popusers_ini_missing",
    "domain_ini_unreadable", "popusers_ini_unreadable", "verify_passed",
    "source_not_found", "target_not_found", "no_temporary_folder",
    "target_too_old", "target_dir_missing", "target_data_missing",
    "system_config_missing", "system_config_unreadable", "target_in_source",
    "mail_store_overlaps_source", "run_interrupted",
    # The report's reasons of outcomes no line explains (section 6.1).
    "account_stopped", "reason_exists", "reason_alias", "reason_refused",
    "reason_failed", "reason_no_domain_line", "reason_alias_domain",
    "reason_no_domain", "reason_absent", "reason_domain_exists",
    "reason_domain_alias",
    # The preview's closing message and the folder picker's title.
    "preview_done", "pick_output_folder",
    # Why an undo did not start, on stderr.
    "undo_manifest_unreadable", "undo_manifest_damaged",
    "undo_manifest_version", "undo_other_target",
    # An undo stopped by Ctrl-C, on stderr.
    "undo_interrupted",
    # The dialog's undo: its question, its end, its progress and its
    # choice of runs.
    "undo_confirm", "undo_confirm_removed", "undo_confirm_kept",
    "undo_confirm_ask", "undo_stopped", "undo_close_ask", "undo_stopping",
    "undo_listing",
    "undo_previewing",
    "undo_progress",
    "undo_choice_domains", "undo_choice_accounts", "undo_choice_folders",
    "undo_choice_files", "undo_choice_unreadable",
    # The dialog's question before it writes into an installed target.
    "confirm_target", "confirm_plan", "confirm_no_plan", "confirm_ask",
    "confirm_sync_target", "confirm_sync_ask", "confirm_stale_plan",
    # The session's messages: its lock, the pieces of its end message.
    "config_lock_unusable", "no_record_folder", "end_preview_domains",
    "end_preview_accounts", "end_preview_mails", "end_preview_size",
    "end_preview_size_close", "end_free", "end_period", "end_no_space",
    "end_stopped", "end_verify_failed", "end_unclean", "end_will_fail",
    "end_will_fail_left_out", "end_see_list", "end_failures",
    "end_failed_copies", "end_failed_copies_left_out", "end_log",
    "end_report", "end_record_failed",
}

# Fragments: texts that are only pieces of a line the run puts together.
# Each group is checked as the whole line, its texts joined as the format
# says ({0}, {1}... are the texts, N the counts between them).
FRAGMENTS = {
    ("summary_domains", "summary_users", "summary_mails"): "{0}N{1}N{2}N",
    ("summary_behind", "summary_behind_accounts"): "{0}A{1}M",
    ("password_changed_begin", "password_changed_end"): "{0}USER@DOMAIN{1}",
    ("existing_new_mail", "existing_new_mail_count",
     "mails_close"): "{0}USER@DOMAIN{1}N{2}",
    ("existing_accounts", "existing_behind", "existing_behind_mails",
     "existing_behind_tail", "sync_hint_console"): "{0}N{1}A{2}M{3}{4}",
    ("existing_accounts", "existing_complete"): "{0}N{1}",
    # The dialog's status line (section 3.4).
    ("progress_verifying", "progress_mails_unit"): "{0}N/N{1}",
    ("progress_accounts", "progress_mails", "progress_comma",
     "progress_copied", "progress_mb_close", "progress_per_second",
     "progress_left"): "{0}N/N{1}N/N{2}N/N{3}N{4}N{5}{6}TIME",
    ("progress_accounts", "progress_mails", "progress_comma",
     "progress_would_copy", "progress_mb_close",
     "progress_left"): "{0}N/N{1}N/N{2}N/N{3}N{4}{5}TIME",
    # A sync with a record counts as it goes: no totals of messages.
    ("progress_accounts", "progress_mails", "progress_mails_unit",
     "progress_comma", "progress_copied", "progress_mb_close",
     "progress_per_second",
     "progress_left"): "{0}N/N{1}N{2}{3}N{4}N{5}N{6}{7}TIME",
    ("progress_accounts", "progress_mails", "progress_mails_unit",
     "progress_summary_copied", "progress_mb",
     "progress_took"): "{0}N/N{1}N{2}{3}N{4}{5}TIME",
    ("progress_accounts", "progress_mails", "progress_summary_copied",
     "progress_mb", "progress_took"): "{0}N/N{1}N/N{2}N{3}{4}TIME",
    ("progress_accounts", "progress_mails", "progress_summary_copied",
     "progress_mb", "progress_checked", "progress_mails_unit",
     "progress_took"): "{0}N/N{1}N/N{2}N{3}{4}N{5}{6}TIME",
    ("progress_accounts", "progress_mails", "progress_summary_would_copy",
     "progress_mb", "progress_took"): "{0}N/N{1}N/N{2}N{3}{4}TIME",
    ("progress_accounts", "progress_verified_mails", "progress_mails_unit",
     "progress_took"): "{0}N/N{1}N/N{2}{3}TIME",
    # A watch's pass line and its status between passes.
    ("watch_pass", "watch_pass_added", "watch_pass_took",
     "watch_seconds"): "{0}N{1}N{2}N{3}",
    ("watch_unchanged_since", "watch_unchanged_tail", "watch_last_pass",
     "watch_seconds"): "{0}TIME{1}{2}N{3}",
}

LITERALS = r'((?:\s*"(?:[^"\\]|\\.)*")+)'


def source(*path):
    with open(os.path.join(ROOT, *path), encoding="utf-8") as f:
        return f.read()


def joined(literals):
    """The text of adjacent C++ string literals."""
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literals)).replace(
        "\\n", "\n").replace('\\"', '"')


def table_texts():
    """{field: [texts]} of the texts table; a text with line breaks gives
    one text per line."""
    code = source("src", "migrate", "texts.cc")
    fields = {}
    for m in re.finditer(r"t\.(\w+) =\s*a\(" + LITERALS + r"\s*\)", code):
        fields[m.group(1)] = joined(m.group(2)).split("\n")
    # The standard folders' lines come from arrays of literals.
    for m in re.finditer(r"const char\* (\w+)\[\d+\] = \{(.*?)\};", code,
                         re.S):
        fields[m.group(1)] = re.findall(r'"([^"]*)"', m.group(2))
    return fields


def statement_pieces(code):
    """For each statement of `code` that holds texts of the table
    (texts.field or texts->field), its texts in order."""
    fields = table_texts()
    for statement in code.split(";"):
        pieces = [fields[m.group(1)][0] for m in re.finditer(
            r"\btexts(?:\.|->)(\w+)\b(?!\()", statement)
            if m.group(1) in fields]
        pieces = [p.strip() for p in pieces if p.strip()]
        if pieces:
            yield pieces


def session_lines():
    """The texts of every line the session appends to the result list."""
    code = source("src", "session", "run_session.cc")
    calls = re.findall(r"AppendLogLine\((.*?)\);", code, re.S)
    return [p for call in calls for p in statement_pieces(call + ";")]


def plan_lines():
    """The texts of the preview's plan block (its outcome words are in the
    texts table)."""
    code = source("src", "session", "run_plan.cc")
    body = code[code.index("std::vector<std::string> PlanLines("):]
    body = body[:body.index("\n}\n")]
    return list(statement_pieces(body))


GUIDE = source("docs", "user-guide.md")
TABLE = GUIDE[GUIDE.index("\n## 3."):GUIDE.index("\n## 4.")].splitlines()


def in_table(pieces):
    pattern = ".*?".join(re.escape(p) for p in pieces)
    return any(re.search(pattern, line) for line in TABLE)


class GuideLinesTest(unittest.TestCase):
    def test_every_text_of_the_table_is_explained(self):
        fields = table_texts()
        self.assertGreater(len(fields), 70)
        fragments = {f for group in FRAGMENTS for f in group}
        self.assertEqual((MESSAGES | fragments) - set(fields), set(),
                         "exemptions name fields the table lacks")
        missing = []
        for field, texts in sorted(fields.items()):
            for text in (t.strip() for t in texts):
                if not text or field in fragments:
                    continue
                if field in MESSAGES:
                    ok = text in GUIDE
                else:
                    ok = in_table([text])
                if not ok:
                    missing.append("%s: %s" % (field, text))
        for group, form in FRAGMENTS.items():
            line = form.format(*(fields[f][0] for f in group))
            if not in_table([line]):
                missing.append("%s: %s" % ("+".join(group), line))
        self.assertEqual(missing, [])

    def test_every_line_of_the_session_and_the_plan_is_explained(self):
        lines = session_lines() + plan_lines()
        self.assertGreater(len(lines), 12)
        self.assertEqual([p for p in lines if not in_table(p)], [])


if __name__ == "__main__":
    unittest.main()
