#ifndef VM_APP_CONSOLE_LOG_H_
#define VM_APP_CONSOLE_LOG_H_

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "console/progress_log.h"

namespace vm {

class CodePage;

// Display columns of an ANSI line as a console shows it: each character
// of the UTF-8 form takes one column, East Asian wide characters two.
class ColumnMeasurer : public TextMeasurer {
 public:
  explicit ColumnMeasurer(const CodePage* code_page);
  bool Measure(const std::string& line, int* width) override;

 private:
  const CodePage* code_page_;
};

// Display columns of UTF-8 text.
int DisplayColumns(const std::string& utf8);

// The result list of the console front end. Lines are kept (the final list
// is written to --log at the end) and printed through `write`, in UTF-8:
//
// - On a terminal the newest line is shown at once without a line end, and
//   a line that is removed is wiped off and replaced by the next one.
// - Otherwise a line is printed only once a later line shows it stays, so
//   the output is exactly the final list.
//
// Finish() prints what is still pending; call it once at the end. One
// thread writes the list; ListText may be called from any thread.
class ConsoleLog : public LogView {
 public:
  using Writer = std::function<void(const std::string& utf8)>;
  ConsoleLog(const CodePage* code_page, bool terminal, Writer write);

  int AddLine(const std::string& line) override;
  void DeleteLine(int index) override;
  int LineCount() override;
  std::string LineText(int index) override;
  void Select(int index) override;
  void Reset() override;
  void SetHorizontalExtent(int extent) override;

  void Finish();
  // The final list in UTF-8, one line each, LF line ends.
  std::string ListText() const;

 private:
  const CodePage* code_page_;
  bool terminal_;
  Writer write_;
  // Guards lines_ only: the writer is called without it, so a reader of
  // the list never waits for a blocked output.
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;  // ANSI
  size_t printed_ = 0;  // lines printed for good (with their line end)
  bool shown_ = false;  // terminal: lines_.back() is shown, unfinished
  int shown_columns_ = 0;
};

}  // namespace vm

#endif  // VM_APP_CONSOLE_LOG_H_
