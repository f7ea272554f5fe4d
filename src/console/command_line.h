#ifndef VM_APP_COMMAND_LINE_H_
#define VM_APP_COMMAND_LINE_H_

#include <string>
#include <vector>

#include "migrate/migration_run.h"
#include "migrate/source_lists.h"

namespace vm {

enum class Toggle { kAuto, kOn, kOff };

// The options of velquor-migrate, as given (UTF-8, untrimmed).
struct CommandLine {
  std::string source_dir;
  std::string target_dir;  // --target: an installed target
  std::string output_dir;  // --output: the temporary-folder mode
  PasswordMode password_mode = PasswordMode::kSameAsUserName;
  std::string suffix;
  std::string password;
  std::string code_page = "GBK";
  std::string log_file;
  std::string report_file;  // --report: .json, .csv or .html
  // --undo: the manifest of the run to undo; then --source is not used.
  std::string undo_manifest;
  bool dry_run = false;
  bool sync = false;
  bool mirror = false;
  VerifyMode verify = VerifyMode::kNone;
  bool verify_only = false;
  bool changes_only = false;  // --changes-only: the result list's changes
  Toggle progress = Toggle::kAuto;
  bool stats = false;  // report phase times on stderr
  int jobs = 4;        // --jobs: message copies in flight
  // --wait: how long to wait for another run that holds the target.
  int wait_seconds = 0;
  // --watch [SECONDS]: after the run, keep syncing until stopped, at the
  // latest every this many seconds; 0: no watch. Implies --sync.
  int watch_seconds = 0;
  bool help = false;
  bool version = false;
};

constexpr int kMaxJobs = 64;
// The pace of a watch when --watch is given without a number.
constexpr int kDefaultWatchSeconds = 10;

// The usage text, ending in a line feed.
std::string UsageText();

// Parses the arguments (without the program name). Options take their
// value as the next argument or after "=". Returns false with a one-line
// reason in *error for an unknown or repeated option, a missing value, a
// bad password mode, missing --source, neither or both of --target and
// --output, --suffix / --password given for a mode that does not use
// them or missing (or blank) for the mode that does, a report name ending
// in none of .json, .csv and .html, or
// options that contradict each other
// (--dry-run with a verification, --verify-only with
// --sync). --help and --version need no other option.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out,
                      std::string* error);

// The command line as a shell would take it back, for the log: the program
// name, then each argument (quoted when it holds more than letters, digits
// and "-_./:=@,+%\"), with the value of --password and of --suffix, part
// of every account's password, shown as "***".
std::string ShownCommandLine(const std::vector<std::string>& args);

}  // namespace vm

#endif  // VM_APP_COMMAND_LINE_H_
