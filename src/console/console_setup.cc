#include "console/console_setup.h"

#include <utility>
#include <vector>

#include "config/shared_config_states.h"
#include "console/console_app.h"
#include "migrate/source_lists.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "session/record_paths.h"

namespace vm {

namespace {

// True when the code page keeps ASCII as it is, as every path and list
// of the installations needs.
bool IsAsciiCompatible(const CodePage& code_page) {
  std::string ascii;
  for (char c = 0x20; c < 0x7f; ++c) ascii += c;
  ascii += "\t\r\n";
  return code_page.ToAnsi(ascii) == ascii && code_page.ToUtf8(ascii) == ascii;
}

// True when the code page holds every character of `utf8`.
bool Representable(const CodePage& code_page, const std::string& utf8) {
  return code_page.ToUtf8(code_page.ToAnsi(utf8)) == utf8;
}

// The directory part of a path as given on the command line ("." for a
// bare name); empty for a root.
std::string ParentOf(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
    path.pop_back();
  }
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

// Why the texts of the options cannot be used in the code page; empty
// when they can.
std::string CheckOptionTexts(const CommandLine& options,
                             const CodePage& code_page) {
  // A text the code page cannot hold would be replaced by some other
  // text: a wrong digest for every account, or another file.
  const std::pair<const char*, const std::string*> kTexts[] = {
      {"--source", &options.source_dir}, {"--target", &options.target_dir},
      {"--output", &options.output_dir}, {"--suffix", &options.suffix},
      {"--password", &options.password}, {"--log", &options.log_file},
      {"--report", &options.report_file}};
  for (const auto& [name, text] : kTexts) {
    if (!Representable(code_page, *text)) {
      return std::string("the text of ") + name + " has characters code page " +
             options.code_page + " cannot hold";
    }
  }
  // The run would refuse it after start-up, with every account unmigrated.
  const std::pair<const char*, const std::string*> kPasswordTexts[] = {
      {"--suffix", &options.suffix}, {"--password", &options.password}};
  for (const auto& [name, text] : kPasswordTexts) {
    if (TrimWhiteSpace(code_page.ToAnsi(*text)).size() >
        kMaxPasswordTextBytes) {
      return std::string("the text of ") + name + " is longer than " +
             std::to_string(kMaxPasswordTextBytes) + " bytes in code page " +
             options.code_page;
    }
  }
  return "";
}

// Why the run would write where it must not; empty when it would not. Every
// comparison is by identity, so links and other spellings count too.
std::string CheckPaths(FileSystem* disk, const CommandLine& options,
                       const AppState& state, const CodePage& code_page) {
  const std::string target_option = state.target_installed
                                        ? "--target " + options.target_dir
                                        : "--output " + options.output_dir;
  switch (FindPathOverlap(disk, state)) {
    case PathOverlap::kTargetInSource:
      return target_option + " lies inside the source installation " +
             options.source_dir;
    case PathOverlap::kMailStoreInSource:
      return "the mail store " + code_page.ToUtf8(state.target_mail_dir) +
             " and the source installation " + options.source_dir + " overlap";
    case PathOverlap::kNone:
      break;
  }
  return RecordFilesProblem(
      disk, code_page, state,
      {{"--log", options.log_file}, {"--report", options.report_file}}, "");
}

}  // namespace

int UsageError(const ConsoleIo& io, const std::string& reason) {
  io.err("velquor-migrate: " + reason + "\nTry 'velquor-migrate --help'.\n");
  return kExitUsage;
}

int PrepareConsoleRun(const CommandLine& parsed, const ConsoleIo& io,
                      ConsoleSetup* p) {
  p->options = parsed;
  const CommandLine& options = p->options;
  p->code_page = OpenCodePage(options.code_page);
  const CodePage* code_page = p->code_page.get();
  if (code_page && !IsAsciiCompatible(*code_page)) {
    return UsageError(io, "code page " + options.code_page +
                              " does not keep ASCII as it is; use one that "
                              "does, such as GBK or UTF-8");
  }
  if (code_page) p->disk = io.open_file_system(options.code_page);
  FileSystem* disk = p->disk.get();
  if (!code_page || !disk) {
    return UsageError(io, "unknown code page: " + options.code_page);
  }
  // The result list joins the program's texts and the source's names in
  // one code page; one that cannot hold the texts would show them as "?".
  bool texts_held = false;
  p->texts = MakeTexts(*code_page, &texts_held);
  if (!texts_held) {
    return UsageError(io, "code page " + options.code_page +
                              " cannot hold the program's Chinese texts; use "
                              "one that can, such as GBK or UTF-8");
  }
  std::string reason = CheckOptionTexts(options, *code_page);
  if (!reason.empty()) return UsageError(io, reason);
  // --verify-only alone checks sizes.
  p->verify = options.verify_only && options.verify == VerifyMode::kNone
                  ? VerifyMode::kSize
                  : options.verify;

  // Everything past the command line is ANSI, like the dialog's texts.
  AppState& state = p->state;
  state.source_dir = code_page->ToAnsi(options.source_dir);
  state.target_installed = !options.target_dir.empty();
  p->shown_target =
      state.target_installed ? options.target_dir : options.output_dir;
  state.target_dir = code_page->ToAnsi(p->shown_target);
  if (!IsDirectory(disk, state.source_dir)) {
    return UsageError(io, "source directory not found or not readable: " +
                              options.source_dir);
  }
  // The output folder is made, as mkdir would, when its parent exists.
  p->make_output =
      !state.target_installed && !IsDirectory(disk, state.target_dir) &&
      IsDirectory(disk, code_page->ToAnsi(ParentOf(options.output_dir)));
  if (!p->make_output && !IsDirectory(disk, state.target_dir)) {
    return UsageError(
        io, std::string(state.target_installed ? "target" : "output") +
                " directory not found or not readable: " + p->shown_target);
  }

  // As the dialog program starts: trimmed directories and the mail stores,
  // then the checks.
  // The skeletons are written through the session's view of the target,
  // which resolves no "..": their folder too is absolute and normalized.
  p->untrimmed_target = disk->AbsolutePath(state.target_dir);
  SettleDirectories(disk, *code_page, &state);
  reason = CheckPaths(disk, options, state, *code_page);
  if (!reason.empty()) return UsageError(io, reason);
  // Without the machine-wide locks the run would write the target's files
  // unguarded.
  std::string lock_error;
  if (!io.config_states->LocksUsable(&lock_error)) {
    io.err("velquor-migrate: " + lock_error + "\n");
    return kExitFailure;
  }
  std::string message;
  if (!CheckInstallations(disk, state, p->texts, &message)) {
    io.err(code_page->ToUtf8(message) + "\n");
    return kExitFailure;
  }
  return -1;
}

}  // namespace vm
