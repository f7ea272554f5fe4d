#include "app/command_line.h"

#include <set>

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

}  // namespace

std::string UsageText() {
  return "usage: velquor-migrate --source DIR (--target DIR | --output DIR)\n"
         "                       [--password-mode same|suffix|common|cipher]\n"
         "                       [--suffix TEXT] [--password TEXT]\n"
         "                       [--codepage NAME] [--log FILE] [--stats]\n"
         "                       [--help] [--version]\n"
         "\n"
         "  --source DIR         the Velquor installation directory\n"
         "  --target DIR         an installed Tarnwick (its data\\ and "
         "system.cfg)\n"
         "  --output DIR         an existing folder to write the migrated "
         "files into\n"
         "  --password-mode M    same: password = user name (default)\n"
         "                       suffix: user name + --suffix TEXT\n"
         "                       common: --password TEXT for every user\n"
         "                       cipher: the source's stored cipher text\n"
         "  --codepage NAME      code page of source and target texts "
         "(default GBK)\n"
         "  --log FILE           also write the result list to FILE (UTF-8)\n"
         "  --stats              report the time of each phase on stderr\n";
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
    if (arg == "--stats") {
      out->stats = true;
      continue;
    }
    static const std::set<std::string> kValued = {
        "--source", "--target",   "--output",   "--password-mode",
        "--suffix", "--password", "--codepage", "--log"};
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
  } else if (out->code_page.empty()) {
    *error = "--codepage needs a name";
  } else if (seen.count("--log") && out->log_file.empty()) {
    *error = "--log needs a file name";
  } else {
    return true;
  }
  return false;
}

}  // namespace vm
