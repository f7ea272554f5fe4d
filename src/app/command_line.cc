#include "app/command_line.h"

#include <set>
#include <string>

#include "util/ascii.h"

namespace vm {

namespace {

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

}  // namespace

std::string UsageText() {
  return "usage: velquor-migrate --source DIR (--target DIR | --output DIR)\n"
         "                       [--password-mode same|suffix|common|cipher]\n"
         "                       [--suffix TEXT] [--password TEXT]\n"
         "                       [--codepage NAME] [--dry-run] [--sync]\n"
         "                       [--verify[=content] | --verify-only]\n"
         "                       [--report FILE.json|FILE.csv] [--log FILE]\n"
         "                       [--progress | --no-progress] [--stats]\n"
         "                       [--changes-only] [--jobs N]\n"
         "                       [--help] [--version]\n"
         "\n"
         "  --source DIR         the Velquor installation directory\n"
         "  --target DIR         an installed Tarnwick (its data\\ and "
         "system.cfg)\n"
         "  --output DIR         a folder to write the migrated files into "
         "(made when\n"
         "                       its parent exists)\n"
         "  --password-mode M    same: password = user name (default)\n"
         "                       suffix: user name + --suffix TEXT\n"
         "                       common: --password TEXT for every user\n"
         "                       cipher: the source's stored cipher text\n"
         "  --codepage NAME      code page of source and target texts "
         "(default GBK)\n"
         "  --dry-run            read everything, write nothing; print the "
         "result list\n"
         "                       the run would print, then the plan\n"
         "  --sync               also copy, into accounts that exist already, "
         "the\n"
         "                       messages their folders lack; never overwrite\n"
         "  --verify[=content]   after the run, check every copied message's "
         "size\n"
         "                       (or bytes) against its source\n"
         "  --verify-only        check an earlier migration; change nothing\n"
         "  --report FILE        every account's outcome and counts, as JSON "
         "or "
         "CSV\n"
         "                       (by the name's extension)\n"
         "  --log FILE           append the result list to FILE (UTF-8)\n"
         "  --progress           show a progress line on stderr (default: on "
         "a terminal)\n"
         "  --no-progress        never show it\n"
         "  --stats              report the time of each phase on stderr\n"
         "  --changes-only       list only the accounts and folders where\n"
         "                       something was added, copied or failed\n"
         "  --jobs N             message copies in flight (1 to 64, default "
         "4)\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out,
                      std::string* error) {
  *out = CommandLine();
  std::set<std::string> seen;
  bool suffix_given = false;
  bool password_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool has_inline_value = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_inline_value = true;
    }
    if (arg == "--help" || arg == "-h") {
      out->help = true;
      continue;
    }
    if (arg == "--version") {
      out->version = true;
      continue;
    }
    if (arg == "--verify") {
      if (has_inline_value && value != "size" && value != "content") {
        *error = "unknown verification: " + value + " (use size or content)";
        return false;
      }
      out->verify =
          value == "content" ? VerifyMode::kContent : VerifyMode::kSize;
      continue;
    }
    static const struct {
      const char* name;
      bool CommandLine::*flag;
    } kFlags[] = {{"--stats", &CommandLine::stats},
                  {"--changes-only", &CommandLine::changes_only},
                  {"--dry-run", &CommandLine::dry_run},
                  {"--sync", &CommandLine::sync},
                  {"--verify-only", &CommandLine::verify_only}};
    bool is_flag = false;
    for (const auto& f : kFlags) {
      if (arg == f.name) {
        out->*f.flag = true;
        is_flag = true;
      }
    }
    if (arg == "--progress" || arg == "--no-progress") {
      out->progress = arg == "--progress" ? Toggle::kOn : Toggle::kOff;
      is_flag = true;
    }
    if (is_flag) {
      if (has_inline_value) {
        *error = "option " + arg + " takes no value";
        return false;
      }
      continue;
    }
    static const std::set<std::string> kValued = {
        "--source",   "--target",   "--output", "--password-mode", "--suffix",
        "--password", "--codepage", "--log",    "--report",        "--jobs"};
    if (kValued.count(arg) == 0) {
      *error = "unknown option: " + args[i];
      return false;
    }
    if (!has_inline_value) {
      if (i + 1 >= args.size()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!seen.insert(arg).second) {
      *error = "option " + arg + " given twice";
      return false;
    }
    if (arg == "--source") {
      out->source_dir = value;
    } else if (arg == "--target") {
      out->target_dir = value;
    } else if (arg == "--output") {
      out->output_dir = value;
    } else if (arg == "--password-mode") {
      if (!ParseMode(value, &out->password_mode)) {
        *error = "unknown password mode: " + value +
                 " (use same, suffix, common or cipher)";
        return false;
      }
    } else if (arg == "--suffix") {
      out->suffix = value;
      suffix_given = true;
    } else if (arg == "--password") {
      out->password = value;
      password_given = true;
    } else if (arg == "--codepage") {
      out->code_page = value;
    } else if (arg == "--log") {
      out->log_file = value;
    } else if (arg == "--report") {
      out->report_file = value;
    } else if (arg == "--jobs") {
      // Digits only: "4x" or "-1" is a typing error, not a number.
      if (value.empty() || value.size() > 2 ||
          value.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(value) < 1 || std::stoi(value) > kMaxJobs) {
        *error = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs);
        return false;
      }
      out->jobs = std::stoi(value);
    }
  }
  if (out->help || out->version) return true;

  if (out->source_dir.empty()) {
    *error = "--source DIR is required";
  } else if (seen.count("--target") == seen.count("--output")) {
    *error = "give exactly one of --target DIR and --output DIR";
  } else if (seen.count("--target") && out->target_dir.empty()) {
    *error = "--target needs a directory";
  } else if (seen.count("--output") && out->output_dir.empty()) {
    *error = "--output needs a directory";
  } else if (suffix_given &&
             out->password_mode != PasswordMode::kUserNamePlusSuffix) {
    *error = "--suffix is used only with --password-mode suffix";
  } else if (password_given &&
             out->password_mode != PasswordMode::kCommonPassword) {
    *error = "--password is used only with --password-mode common";
  } else if (out->password_mode == PasswordMode::kUserNamePlusSuffix &&
             IsBlank(out->suffix)) {
    *error = "--password-mode suffix needs --suffix TEXT";
  } else if (out->password_mode == PasswordMode::kCommonPassword &&
             IsBlank(out->password)) {
    *error = "--password-mode common needs --password TEXT";
  } else if (out->code_page.empty()) {
    *error = "--codepage needs a name";
  } else if (seen.count("--log") && out->log_file.empty()) {
    *error = "--log needs a file name";
  } else if (seen.count("--report") &&
             !HasExtension(out->report_file, ".json") &&
             !HasExtension(out->report_file, ".csv")) {
    *error = "--report needs a file name ending in .json or .csv";
  } else if (out->dry_run &&
             (out->verify != VerifyMode::kNone || out->verify_only)) {
    *error = "--dry-run copies nothing to verify";
  } else if (out->verify_only && out->sync) {
    *error = "--verify-only changes nothing; leave out --sync";
  } else {
    return true;
  }
  return false;
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
    if (secret_next) {
      line += " ***";
    } else if (arg.rfind("--password=", 0) == 0 ||
               arg.rfind("--suffix=", 0) == 0) {
      line += " " + arg.substr(0, arg.find('=') + 1) + "***";
    } else {
      line += " " + quoted(arg);
    }
    // A value is never an option, even when it reads like one.
    secret_next = !secret_next && (arg == "--password" || arg == "--suffix");
  }
  return line;
}

}  // namespace vm
