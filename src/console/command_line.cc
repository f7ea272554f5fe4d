#include "console/command_line.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <string>

#include "util/ascii.h"

namespace vm {

namespace {

// Every option the parser accepts. The help text, the manual page and the
// shell completion are checked against this table.
constexpr struct {
  const char* name;
  // The next argument or the text after "="; --verify takes a value only
  // after "=".
  bool takes_value;
} kOptions[] = {
    {"--source", true},       {"--target", true},        {"--output", true},
    {"--codepage", true},     {"--password-mode", true}, {"--suffix", true},
    {"--password", true},     {"--dry-run", false},      {"--sync", false},
    {"--verify", false},      {"--verify-only", false},  {"--report", true},
    {"--log", true},          {"--changes-only", false}, {"--progress", false},
    {"--no-progress", false}, {"--jobs", true},          {"--stats", false},
    {"--wait", true},         {"--help", false},         {"-h", false},
    {"--version", false},     {"--undo", true},          {"--watch", false},
    {"--mirror", false},
};

bool ParseMode(const std::string& text, PasswordMode* mode) {
  static const struct {
    const char* name;
    PasswordMode mode;
  } kModes[] = {{"same", PasswordMode::kSameAsUserName},
                {"suffix", PasswordMode::kUserNamePlusSuffix},
                {"common", PasswordMode::kCommonPassword},
                {"cipher", PasswordMode::kSourceCipherText}};
  for (const auto& m : kModes) {
    if (text == m.name) {
      *mode = m.mode;
      return true;
    }
  }
  return false;
}

// True when `text` holds nothing but blanks, TABs and line ends: the run
// trims a suffix or password to nothing and refuses it.
bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

// True when `name` ends in `extension`, ASCII letters compared without case.
bool HasExtension(const std::string& name, const std::string& extension) {
  return name.size() > extension.size() &&
         EndsWithIgnoringAsciiCase(name, extension);
}

// Why the options given with --undo do not fit an undo; empty when they
// do. An undo reads no source and writes no account.
std::string UndoOptionsError(const CommandLine& options,
                             const std::set<std::string>& seen) {
  if (options.undo_manifest.empty()) return "--undo needs a manifest file";
  if (seen.count("--target") == seen.count("--output")) {
    return "--undo needs exactly one of --target DIR and --output DIR";
  }
  for (const char* name : {"--source", "--password-mode", "--suffix",
                           "--password", "--jobs", "--watch"}) {
    if (seen.count(name) > 0) {
      return std::string(name) + " has no use with --undo";
    }
  }
  if (options.sync || options.mirror || options.verify != VerifyMode::kNone ||
      options.verify_only || options.changes_only) {
    return "--undo takes no --sync, --mirror, --verify or --changes-only";
  }
  return std::string();
}

// The help text (--help), ending in a line feed.
constexpr char kUsage[] =
    R"(usage: velquor-migrate --source DIR (--target DIR | --output DIR) [OPTION]...
       velquor-migrate --undo MANIFEST (--target DIR | --output DIR) [--dry-run]
                       [--report FILE.json|FILE.csv|FILE.html] [--log FILE]
                       [--wait SECONDS]

Moves a Velquor mail server's domains, accounts and mail into a Tarnwick mail
server (4.9 or later), or into a folder to be copied into one later.

What to migrate:
  --source DIR          the Velquor installation folder (domain.ini,
                        popusers.ini, mail)
  --target DIR          an installed Tarnwick (its data folder, and the mail
                        store its system.cfg names)
  --output DIR          write the same files into this folder instead (made when
                        its parent exists), to copy into a Tarnwick later
  --codepage NAME       code page of the source's and the target's texts
                        (default GBK)

Passwords (each migrated account's new password):
  --password-mode MODE  same    the user name (default)
                        suffix  the user name followed by --suffix TEXT
                        common  --password TEXT, the same for every account
                        cipher  the cipher text stored in popusers.ini
  --suffix TEXT         the text of mode suffix
  --password TEXT       the password of mode common; either text has 1 to 20
                        bytes in the code page (a Chinese character takes two)
                        once blanks at either end are removed

Cutover:
  --dry-run             read everything, write nothing: print the result list
                        the run would print, then the plan and the space needed
  --sync                also copy into accounts that exist already the messages
                        their folders lack; never overwrites or deletes
  --mirror              with --sync or --watch: also take out of those accounts
                        the messages the tool copied whose source file is gone
                        (deleted or moved), into a holding folder beside the
                        run records; --undo of the run puts them back
  --verify[=content]    after the run, check every copied message by its size
                        (or by its content)
  --verify-only         check an earlier migration (by size; with
                        --verify=content by content); changes nothing

Output and reports:
  --report FILE         each account's outcome and per-folder counts, as JSON
                        (FILE.json), CSV (FILE.csv) or a page to read and
                        print (FILE.html)
  --log FILE            append the result list to FILE (UTF-8), with a header
                        per run and its outcome at the end
  --changes-only        list only the accounts and folders where something was
                        added, copied, failed or left out, and the summary; the
                        report stays complete
  --progress            show a progress line on stderr (default: only when
                        stderr is a terminal)
  --no-progress         never show it

Performance:
  --jobs N              message copies in flight, 1 to 64 (default 4); the
                        result is the same for every N
  --stats               print the time of each phase on stderr

Undoing a run:
  --undo MANIFEST       remove what the run that wrote MANIFEST added (its
                        message files, folders, accounts and domains), where
                        still as the run left them; anything changed since
                        is kept and listed with its reason. With --dry-run,
                        only list what would go and what would stay. Every
                        writing run leaves its manifest beside its --report
                        or --log, else in the target's data folder under
                        velquor-migrate-runs

Keeping the target in step until the switch:
  --watch [SECONDS]     after the run (a sync: implies --sync), keep making
                        sync passes until stopped, one line each, at the latest
                        every SECONDS (default 10; on Windows also as soon as
                        the source's mail store changes). Ctrl-C ends the watch
                        after one more pass that copies everything delivered
                        before it (exit 0 when every pass was clean)

Another run on the same target:
  --wait SECONDS        when another run holds the target, wait at most this
                        long for it to end (default: refuse at once, exit 1)

  --help, -h            show this help
  --version             show the version and the source revision

Examples:
  A first run, days before the switch, checked, with a report to keep:
    velquor-migrate --source /srv/velquor --target /opt/tarnwick \
                    --verify --report first-run.json
  A preview: what a run would do, and whether the mail fits:
    velquor-migrate --source /srv/velquor --target /opt/tarnwick --dry-run
  Days before the switch, keep the target in step until it:
    velquor-migrate --source /srv/velquor --target /opt/tarnwick \
                    --watch 30 --report watch.json
  The sync at the switch, with the old server's intake stopped:
    velquor-migrate --source /srv/velquor --target /opt/tarnwick \
                    --sync --changes-only --report switch.csv

Exit status:
  0    the run ended with its success message and no line reported a failure
  1    the run could not start, or reported a failure (a domain, an account,
       a message, a folder) or a difference found by a check; a preview that
       would not be clean or whose mail would not fit
  2    usage error: the options or paths are wrong (a --log or --report file
       inside an installation, an --output folder inside the source); nothing
       was written
  130  stopped by Ctrl-C or a signal: what was done is saved, the report marks
       the accounts not done as unfinished; the same command continues

The result list goes to standard output, messages to standard error.
More in the manual page velquor-migrate(1) and in the user guide.
)";

}  // namespace

std::string UsageText() { return kUsage; }

namespace {

// One argument split into its option and the value after "=", if any.
struct Argument {
  std::string name;
  std::string value;
  bool has_inline_value = false;
};

Argument Split(const std::string& arg) {
  Argument a{arg, "", false};
  const size_t eq = arg.find('=');
  if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
    a.value = arg.substr(eq + 1);
    a.name = arg.substr(0, eq);
    a.has_inline_value = true;
  }
  return a;
}

// Options without a value; true when `name` is one (set in *out).
bool ApplyFlag(const std::string& name, CommandLine* out) {
  static const struct {
    const char* name;
    bool CommandLine::*flag;
  } kFlags[] = {{"--stats", &CommandLine::stats},
                {"--changes-only", &CommandLine::changes_only},
                {"--dry-run", &CommandLine::dry_run},
                {"--sync", &CommandLine::sync},
                {"--mirror", &CommandLine::mirror},
                {"--verify-only", &CommandLine::verify_only},
                {"--help", &CommandLine::help},
                {"-h", &CommandLine::help},
                {"--version", &CommandLine::version}};
  for (const auto& f : kFlags) {
    if (name == f.name) {
      out->*f.flag = true;
      return true;
    }
  }
  if (name == "--progress" || name == "--no-progress") {
    out->progress = name == "--progress" ? Toggle::kOn : Toggle::kOff;
    return true;
  }
  return false;
}

// A whole number of at most `digits` digits; "4x" or "-1" is a typing
// error, not a number.
bool ReadNumber(const std::string& text, size_t digits, int* number) {
  if (text.empty() || text.size() > digits ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *number = std::stoi(text);
  return true;
}

// An option's value into *out; false with *error when it is no good.
bool ApplyValue(const std::string& name, const std::string& value,
                CommandLine* out, std::string* error) {
  static const struct {
    const char* name;
    std::string CommandLine::*text;
  } kTexts[] = {{"--source", &CommandLine::source_dir},
                {"--target", &CommandLine::target_dir},
                {"--output", &CommandLine::output_dir},
                {"--suffix", &CommandLine::suffix},
                {"--password", &CommandLine::password},
                {"--codepage", &CommandLine::code_page},
                {"--log", &CommandLine::log_file},
                {"--report", &CommandLine::report_file},
                {"--undo", &CommandLine::undo_manifest}};
  for (const auto& t : kTexts) {
    if (name == t.name) {
      out->*t.text = value;
      return true;
    }
  }
  if (name == "--password-mode" && !ParseMode(value, &out->password_mode)) {
    *error = "unknown password mode: " + value +
             " (use same, suffix, common or cipher)";
  } else if (name == "--jobs" && (!ReadNumber(value, 2, &out->jobs) ||
                                  out->jobs < 1 || out->jobs > kMaxJobs)) {
    *error = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs);
  } else if (name == "--wait" && !ReadNumber(value, 6, &out->wait_seconds)) {
    *error = "--wait needs a number of seconds";
  }
  return error->empty();
}

// --watch, with its number of seconds after "=" or as the next argument
// when that is a number: a path or an option never reads as one.
bool ReadWatch(const Argument& a, const std::vector<std::string>& args,
               size_t* i, CommandLine* out, std::string* error) {
  out->watch_seconds = kDefaultWatchSeconds;
  out->sync = true;
  std::string value = a.value;
  if (!a.has_inline_value && *i + 1 < args.size() && !args[*i + 1].empty() &&
      args[*i + 1].find_first_not_of("0123456789") == std::string::npos) {
    value = args[++*i];
  } else if (!a.has_inline_value) {
    return true;
  }
  if (!ReadNumber(value, 6, &out->watch_seconds) || out->watch_seconds < 1) {
    *error = "--watch needs a number of seconds from 1";
    return false;
  }
  return true;
}

// Reads the arguments one by one into *out, noting in *seen every option
// that took a value.
bool ReadArguments(const std::vector<std::string>& args, CommandLine* out,
                   std::set<std::string>* seen, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    Argument a = Split(args[i]);
    const auto* option =
        std::find_if(std::begin(kOptions), std::end(kOptions),
                     [&a](const auto& o) { return a.name == o.name; });
    if (option == std::end(kOptions)) {
      *error = "unknown option: " + args[i];
      return false;
    }
    if (a.name == "--verify") {
      if (a.has_inline_value && a.value != "size" && a.value != "content") {
        *error = "unknown verification: " + a.value + " (use size or content)";
        return false;
      }
      out->verify =
          a.value == "content" ? VerifyMode::kContent : VerifyMode::kSize;
      continue;
    }
    if (a.name == "--watch") {
      if (!seen->insert(a.name).second) {
        *error = "option --watch given twice";
        return false;
      }
      if (!ReadWatch(a, args, &i, out, error)) return false;
      continue;
    }
    if (!option->takes_value) {
      ApplyFlag(a.name, out);
      // --help and --version let any text after "=" be: they end the
      // parse's checks.
      const bool any_value =
          a.name == "--help" || a.name == "-h" || a.name == "--version";
      if (a.has_inline_value && !any_value) {
        *error = "option " + a.name + " takes no value";
        return false;
      }
      continue;
    }
    if (!a.has_inline_value) {
      if (i + 1 >= args.size()) {
        *error = "option " + a.name + " needs a value";
        return false;
      }
      a.value = args[++i];
    }
    if (!seen->insert(a.name).second) {
      *error = "option " + a.name + " given twice";
      return false;
    }
    if (!ApplyValue(a.name, a.value, out, error)) return false;
  }
  return true;
}

// A run's and an undo's report: JSON, CSV or the HTML page.
bool IsReportName(const std::string& name) {
  return HasExtension(name, ".json") || HasExtension(name, ".csv") ||
         HasExtension(name, ".html") || HasExtension(name, ".htm");
}

// Why the options of a run do not fit together; empty when they do.
std::string RunOptionsError(const CommandLine& o,
                            const std::set<std::string>& seen) {
  const bool suffix_mode = o.password_mode == PasswordMode::kUserNamePlusSuffix;
  const bool common_mode = o.password_mode == PasswordMode::kCommonPassword;
  const struct {
    bool wrong;
    const char* error;
  } kChecks[] = {
      {o.source_dir.empty(), "--source DIR is required"},
      {seen.count("--target") == seen.count("--output"),
       "give exactly one of --target DIR and --output DIR"},
      {seen.count("--target") && o.target_dir.empty(),
       "--target needs a directory"},
      {seen.count("--output") && o.output_dir.empty(),
       "--output needs a directory"},
      {seen.count("--suffix") && !suffix_mode,
       "--suffix is used only with --password-mode suffix"},
      {seen.count("--password") && !common_mode,
       "--password is used only with --password-mode common"},
      {suffix_mode && IsBlank(o.suffix),
       "--password-mode suffix needs --suffix TEXT"},
      {common_mode && IsBlank(o.password),
       "--password-mode common needs --password TEXT"},
      {o.code_page.empty(), "--codepage needs a name"},
      {seen.count("--log") && o.log_file.empty(), "--log needs a file name"},
      {seen.count("--report") && !IsReportName(o.report_file),
       "--report needs a file name ending in .json, .csv or .html"},
      {o.dry_run && (o.verify != VerifyMode::kNone || o.verify_only),
       "--dry-run copies nothing to verify"},
      {o.watch_seconds > 0 && (o.dry_run || o.verify_only),
       "--watch keeps the target in step; leave out --dry-run and "
       "--verify-only"},
      {o.verify_only && o.sync,
       "--verify-only changes nothing; leave out --sync"},
      {o.mirror && !o.sync, "--mirror is used only with --sync or --watch"},
  };
  for (const auto& check : kChecks) {
    if (check.wrong) return check.error;
  }
  return std::string();
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out,
                      std::string* error) {
  *out = CommandLine();
  error->clear();
  std::set<std::string> seen;
  if (!ReadArguments(args, out, &seen, error)) return false;
  if (out->help || out->version) return true;
  if (seen.count("--undo") > 0) {
    *error = UndoOptionsError(*out, seen);
    if (error->empty() && out->code_page.empty())
      *error = "--codepage needs a name";
    if (error->empty() && seen.count("--report") &&
        !IsReportName(out->report_file)) {
      *error = "--report needs a file name ending in .json, .csv or .html";
    }
    return error->empty();
  }
  *error = RunOptionsError(*out, seen);
  return error->empty();
}

std::string ShownCommandLine(const std::vector<std::string>& args) {
  auto quoted = [](const std::string& arg) {
    if (!arg.empty() &&
        arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU"
                              "VWXYZ0123456789-_./:=@,+%\\") ==
            std::string::npos) {
      return arg;
    }
    std::string text = "'";
    for (char c : arg)
      text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
  };
  std::string line = "velquor-migrate";
  bool secret_next = false;
  for (const std::string& arg : args) {
    // Appended piece by piece: GCC 12 takes " " + a temporary for an
    // overlapping copy and warns.
    line += ' ';
    if (secret_next) {
      line += "***";
    } else if (arg.rfind("--password=", 0) == 0 ||
               arg.rfind("--suffix=", 0) == 0) {
      line.append(arg, 0, arg.find('=') + 1).append("***");
    } else {
      line += quoted(arg);
    }
    // A value is never an option, even when it reads like one.
    secret_next = !secret_next && (arg == "--password" || arg == "--suffix");
  }
  return line;
}

}  // namespace vm
