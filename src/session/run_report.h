#ifndef VM_APP_RUN_REPORT_H_
#define VM_APP_RUN_REPORT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "migrate/migration_run.h"
#include "migrate/source_lists.h"
#include "session/progress_samples.h"

namespace vm {

class CodePage;
class RunRecord;
struct Texts;
struct AccountRecord;
struct FolderRecord;

// What a run did, as the HTML report names it.
enum class ReportKind {
  kMigration,
  kSync,          // a migration that also copied new mail into accounts
  kVerification,  // checked an earlier run, wrote nothing
  kUndo,
};

// What the report says about the run as a whole. Texts are UTF-8.
struct ReportHeader {
  std::string version;
  int64_t started = 0;  // seconds since 1970, UTC
  int64_t ended = 0;
  // The run's manifest, what an undo of it reads; empty for a run that
  // wrote nothing.
  std::string manifest;
  std::vector<std::pair<std::string, std::string>> options;  // never a password
  std::vector<std::pair<std::string, bool>> flags;
  MigrationStats stats;
  int failure_lines = 0;
  bool succeeded = false;
  bool stopped = false;  // interrupted; unreached accounts are unfinished
  // For the HTML report alone: what the run was, where the user guide is
  // (an address without its '#' part; empty: the page names the guide's
  // sections without linking them), and the messages copied against time.
  ReportKind kind = ReportKind::kMigration;
  std::string guide;
  std::vector<ProgressPoint> progress;
};

// The JSON report without its "accounts" member, indented as if it stood
// alone, for a writer that streams the report (see AppendAccountJson).
std::string ReportJsonTextWithoutAccounts(const ReportHeader& header,
                                          const RunRecord& record,
                                          const CodePage& code_page);

// One CSV field (UTF-8): quoted when it holds a comma, a quote or a line
// end (quotes doubled), and led by "'" when a spreadsheet would take it
// for a formula.
std::string CsvField(const std::string& raw);

// The parts CsvReport is made of: the header row, an account's rows, and
// the total row over the sums of all accounts.
std::string CsvHeaderRow();
std::string CsvAccountRows(const AccountRecord& account, const Texts& texts,
                           const CodePage& code_page);
std::string CsvTotalRow(const FolderRecord& all);

// One row per account, with a header row, for spreadsheets (UTF-8, CR LF
// line ends as RFC 4180 has them).
std::string CsvReport(const RunRecord& record, const CodePage& code_page);

// "2026-12-07T01:02:03Z".
std::string IsoTime(int64_t seconds);

// The report's word for a password option, as --password-mode spells it.
const char* PasswordModeName(PasswordMode mode);

}  // namespace vm

#endif  // VM_APP_RUN_REPORT_H_
