#ifndef VM_APP_CONSOLE_LOG_H_
#define VM_APP_CONSOLE_LOG_H_

#include <deque>
#include <functional>
#include <mutex>
#include <string>

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

// The result list of the console front end. Lines are printed through
// `write`, in UTF-8:
//
// - On a terminal the newest line is shown at once without a line end, and
//   a line that is removed is wiped off and replaced by the next one.
// - Otherwise a line is printed only once a later line shows it stays, so
//   the output is exactly the final list.
//
// With `keep_lines` every line stays for ListText (the --log file takes
// the final list at the end); without, a line printed for good is let go,
// so a run of very many accounts does not hold its list: LineCount still
// counts every line, and LineText of a line let go is empty.
//
// Finish() prints what is still pending; call it once at the end. One
// thread writes the list; ListText may be called from any thread.
class ConsoleLog : public LogView {
 public:
  using Writer = std::function<void(const std::string& utf8)>;
  ConsoleLog(const CodePage* code_page, bool terminal, Writer write,
             bool keep_lines = true);

  int AddLine(const std::string& line) override;
  void DeleteLine(int index) override;
  int LineCount() override;
  std::string LineText(int index) override;
  void Select(int index) override;
  void Reset() override;
  void SetHorizontalExtent(int extent) override;

  void Finish();
  // The final list in UTF-8, one line each, LF line ends (of the lines
  // kept).
  std::string ListText() const;

 private:
  size_t Count() const { return let_go_ + lines_.size(); }
  // The line printed for good before the new one: writes its end.
  void PrintPending();

  const CodePage* code_page_;
  bool terminal_;
  Writer write_;
  bool keep_lines_;
  // Guards lines_ and let_go_ only: the writer is called without it, so a
  // reader of the list never waits for a blocked output.
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;  // ANSI; the lines from let_go_ on
  size_t let_go_ = 0;              // lines printed for good and no longer kept
  size_t printed_ = 0;  // lines printed for good (with their line end)
  bool shown_ = false;  // terminal: lines_.back() is shown, unfinished
  int shown_columns_ = 0;
};

}  // namespace vm

#endif  // VM_APP_CONSOLE_LOG_H_
