#ifndef VM_MIGRATE_RUN_HOST_H_
#define VM_MIGRATE_RUN_HOST_H_

#include <string>

#include "migrate/source_lists.h"

namespace vm {

// The kind of a message a run gives: how a front end shows it, never found
// by comparing texts.
enum class MessageKind {
  kInformation,  // the run's closing word: it succeeded, a check passed
  kWarning,      // the user can put it right (a password text to retype)
  kError,        // the run could not go on
  kNotice,       // a passing word on what the run is doing (a wait for
                 // another program), to see at once without answering
};

// The result list, one line per result. AppendLogLine adds a last line and
// returns its index (negative on failure); RemoveLastLine deletes the line
// with index LineCount() - 1; SelectLastLine makes that line current and
// visible; ResetLog empties the list. Texts are ANSI code page bytes.
class LineSink {
 public:
  LineSink() = default;
  LineSink(const LineSink&) = delete;
  LineSink& operator=(const LineSink&) = delete;
  virtual ~LineSink() = default;

  virtual int AppendLogLine(const std::string& line) = 0;
  virtual void RemoveLastLine() = 0;
  virtual void SelectLastLine() = 0;
  virtual int LineCount() = 0;
  virtual void ResetLog() = 0;
};

// The run's messages. The dialog shows a message box (with the icon of the
// kind) and adds a notice to the result list; the console writes each to
// standard error.
class MessageSink {
 public:
  MessageSink() = default;
  MessageSink(const MessageSink&) = delete;
  MessageSink& operator=(const MessageSink&) = delete;
  virtual ~MessageSink() = default;

  // Returns once the message is shown (a message box: dismissed). A notice
  // may also come from a thread that saves the configuration as the
  // program is being ended.
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
};

// What a migration run needs from the front end it runs in: the result
// list, the messages, and the source lists. The run calls these from its
// own thread, one at a time; every call completes before it returns (the
// dialog serves them with synchronous window messages). Which options the
// run has (the password texts among them) is its settings' business; the
// front end's controls are its own.
class RunHost : public LineSink, public MessageSink {
 public:
  // The source lists, owned by the host and kept between runs.
  virtual SourceDomainList* GetSourceDomains() = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_RUN_HOST_H_
