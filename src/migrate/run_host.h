#ifndef VM_MIGRATE_RUN_HOST_H_
#define VM_MIGRATE_RUN_HOST_H_

#include <string>

#include "migrate/source_lists.h"

namespace vm {

// What a migration run needs from the window (or console) it runs in. The
// run calls these from its own thread, one at a time; every call completes
// before it returns (the dialog serves them with synchronous window
// messages). All texts are ANSI code page bytes.
class RunHost {
 public:
  RunHost() = default;
  RunHost(const RunHost&) = delete;
  RunHost& operator=(const RunHost&) = delete;
  virtual ~RunHost() = default;

  // The button that starts a run: its caption and whether it takes a click.
  virtual void SetStartCaption(const std::string& caption) = 0;
  virtual void EnableStart(bool enabled) = 0;

  // The result list, one line per result. AppendLogLine adds a last line and
  // returns its index (negative on failure); RemoveLastLine deletes the
  // line with index LineCount() - 1; SelectLastLine makes that line current
  // and visible; ResetLog empties the list.
  virtual int AppendLogLine(const std::string& line) = 0;
  virtual void RemoveLastLine() = 0;
  virtual void SelectLastLine() = 0;
  virtual int LineCount() = 0;
  virtual void ResetLog() = 0;

  // How migrated accounts get their passwords, and the texts of the suffix
  // and of the common password, untrimmed, as the user typed them.
  virtual PasswordMode GetPasswordMode() = 0;
  virtual std::string SuffixText() = 0;
  virtual std::string CommonPasswordText() = 0;

  // A modal message box with an OK button only; returns when dismissed.
  virtual void ShowMessage(const std::string& text) = 0;

  // A passing word on what the run is doing, for the user to see at once
  // without answering it (a wait for another program, for one). The dialog
  // adds it to the result list; the console writes it to standard error.
  // Unlike the other calls it may also come from a thread that saves the
  // configuration as the program is being ended.
  virtual void ShowNotice(const std::string& text) {
    AppendLogLine(text);
    SelectLastLine();
  }

  // The source lists, owned by the host and kept between runs.
  virtual SourceDomainList* GetSourceDomains() = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_RUN_HOST_H_
