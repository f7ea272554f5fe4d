#ifndef VM_APP_CONSOLE_SETUP_H_
#define VM_APP_CONSOLE_SETUP_H_

#include <memory>
#include <string>

#include "console/command_line.h"
#include "migrate/texts.h"
#include "session/startup.h"

namespace vm {

class CodePage;
class FileSystem;
struct ConsoleIo;

// Everything start-up settles before anything is written.
struct ConsoleSetup {
  CommandLine options;
  std::unique_ptr<CodePage> code_page;
  std::unique_ptr<FileSystem> disk;
  Texts texts;
  AppState state;                // trimmed, with both mail stores
  std::string untrimmed_target;  // the skeletons are written through it
  std::string shown_target;      // --target or --output as given
  bool make_output = false;      // --output is made once checks pass
  VerifyMode verify = VerifyMode::kNone;  // RunSettings::verify
};

// Checks the parsed command line and both installations, as the dialog
// program's start-up does, writing nothing: the texts against the code
// page, the folders, the paths the run would write (by identity: a log,
// report, output or mail store inside an installation is a usage error),
// the locks, the source lists and an installed target. Returns the exit
// status when the program ends here, with its message on stderr; else -1
// with *setup filled.
int PrepareConsoleRun(const CommandLine& options, const ConsoleIo& io,
                      ConsoleSetup* setup);

// The usage error's two lines on stderr; returns kExitUsage.
int UsageError(const ConsoleIo& io, const std::string& reason);

}  // namespace vm

#endif  // VM_APP_CONSOLE_SETUP_H_
