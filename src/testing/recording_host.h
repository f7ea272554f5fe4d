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
  void SetStartCaption(const std::string& caption) override {
    events.push_back("caption " + caption);
  }
  void EnableStart(bool enabled) override {
    events.push_back(enabled ? "enable" : "disable");
  }
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
  PasswordMode GetPasswordMode() override { return mode; }
  std::string SuffixText() override {
    ++edit_reads;
    return suffix;
  }
  std::string CommonPasswordText() override {
    ++edit_reads;
    return common_password;
  }
  void ShowMessage(const std::string& text) override {
    events.push_back("message " + text);
    messages.push_back(text);
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

  PasswordMode mode = PasswordMode::kSameAsUserName;
  std::string suffix;
  std::string common_password;
  int edit_reads = 0;
  SourceDomainList domains;
  std::vector<std::string> lines;  // the list as it stands
  std::vector<std::string> events;
  std::vector<std::string> messages;
};

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_RECORDING_HOST_H_
