#ifndef VM_TESTS_SUPPORT_RECORDING_HOST_H_
#define VM_TESTS_SUPPORT_RECORDING_HOST_H_

#include <string>
#include <vector>

#include "migrate/run_host.h"

namespace vm {

// A RunHost for tests: keeps the result list like a list box does and
// records every call, in order, as one readable event.
class RecordingHost : public RunHost {
 public:
  int AppendLogLine(const std::string& line) override {
    events.push_back("log " + line);
    lines.push_back(line);
    return static_cast<int>(lines.size()) - 1;
  }
  void RemoveLastLine() override {
    events.push_back("remove");
    if (!lines.empty()) lines.pop_back();
  }
  void SelectLastLine() override {
    events.push_back("select " + std::to_string(lines.size() - 1));
  }
  int LineCount() override { return static_cast<int>(lines.size()); }
  void ResetLog() override {
    events.push_back("reset");
    lines.clear();
  }
  // A notice joins the list, as the dialog shows it; every other kind is
  // a message (its kind kept in `kinds`).
  void ShowMessage(MessageKind kind, const std::string& text) override {
    if (kind == MessageKind::kNotice) {
      AppendLogLine(text);
      SelectLastLine();
      return;
    }
    events.push_back("message " + text);
    messages.push_back(text);
    kinds.push_back(kind);
  }
  SourceDomainList* GetSourceDomains() override { return &domains; }

  // Events that are log lines, without the "log " prefix.
  std::vector<std::string> LoggedLines() const {
    std::vector<std::string> logged;
    for (const std::string& e : events) {
      if (e.rfind("log ", 0) == 0) logged.push_back(e.substr(4));
    }
    return logged;
  }

  SourceDomainList domains;
  std::vector<std::string> lines;  // the list as it stands
  std::vector<std::string> events;
  std::vector<std::string> messages;
  std::vector<MessageKind> kinds;  // of `messages`
};

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_RECORDING_HOST_H_
