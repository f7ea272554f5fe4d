// velquor-migrate: the command-line front end. Everything but the process
// plumbing is in RunConsole.

#include "config/shared_config_states.h"
#include "console/console_app.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/run_lock.h"

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread holds them back too.
  vm::HoldInterrupts();
  vm::IgnoreWriteSignals();
  vm::ConsoleIo io;
  // An interrupt stops the run as the dialog's stop button does: it ends
  // after the account it is at, with the stores saved and its records
  // written; a second interrupt ends the process at once.
  io.on_interrupt = [](std::function<int()> handler) {
    vm::OnInterrupt(std::move(handler));
  };
  vm::SharedConfigStates config_states;
  io.config_states = &config_states;
  io.out = [](const std::string& text) { return vm::WriteStdout(text); };
  io.err = [](const std::string& text) { return vm::WriteStderr(text); };
  io.out_is_terminal = vm::StdoutIsTerminal();
  io.err_is_terminal = vm::StderrIsTerminal();
  io.open_file_system = [](const std::string& code_page) {
    return vm::NewDiskFileSystem(code_page);
  };
  io.open_run_lock = vm::OpenRunLock;
  return vm::RunConsole(vm::CommandLineArguments(argc, argv), io);
}
