#ifndef VM_PLATFORM_CONSOLE_H_
#define VM_PLATFORM_CONSOLE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// The console of the command-line front end. Texts are UTF-8.

// True when standard output is an interactive terminal (a console window),
// so an in-progress line may be shown and then overwritten.
bool StdoutIsTerminal();
bool StderrIsTerminal();

// The width in columns of the terminal standard error shows on, read anew
// at each call (the window may be resized); 0 when it is no terminal or
// the width is unknown.
int StderrColumns();

// Makes writes fail with an error where POSIX would end the process with a
// signal: a write to a closed pipe (SIGPIPE), so a run whose output reader
// went away still finishes its migration, and a write past the file size
// limit (SIGXFSZ, `ulimit -f`), which is then a failed write like any other.
void IgnoreWriteSignals();

// Holds back the signals OnInterrupt takes (POSIX), from the very start of
// the program until it installs its handler, which then takes one that came
// meanwhile: a Ctrl-C while the run is being set up stops it instead of
// ending the process midway. A program that ends before installing one
// ends as it would have anyway. On Windows the console's events keep their
// default action until OnInterrupt.
void HoldInterrupts();

// Calls `handler` once, on a thread of its own, when the user or the system
// ends the program (Ctrl-C, SIGINT, SIGTERM, SIGHUP; on Windows the console's
// Ctrl-C, Ctrl-Break, close, log-off and shut-down events), then ends the
// process with the status it returns. A second such event while the handler
// runs ends the process at once, with status 130. Call it before any other
// thread starts: on POSIX the signals are blocked in the calling thread and
// in every thread it starts afterwards, and only the handler's threads take
// them. Where no thread can be started for the handler, the signals keep
// their default action.
void OnInterrupt(std::function<int()> handler);

// Writes the bytes to standard output or standard error and flushes them.
// False when the write failed (for instance a closed pipe).
bool WriteStdout(std::string_view utf8);
bool WriteStderr(std::string_view utf8);

// The program's arguments after the program name, as UTF-8 (Windows reads
// the wide command line, whatever the console's code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace vm

#endif  // VM_PLATFORM_CONSOLE_H_
