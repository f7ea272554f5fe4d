#ifndef VM_APP_PROGRESS_LOG_H_
#define VM_APP_PROGRESS_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vm {

// The list a ProgressLog writes into: the dialog's list box, or the
// console's line list. Lines are ANSI bytes, kept in insertion order.
class LogView {
 public:
  virtual ~LogView() = default;
  // Adds a last line; returns its index, or a negative error code.
  virtual int AddLine(const std::string& line) = 0;
  virtual void DeleteLine(int index) = 0;
  virtual int LineCount() = 0;
  virtual std::string LineText(int index) = 0;
  virtual void Select(int index) = 0;
  virtual void Reset() = 0;
  // The scrollable width, in the measurer's units.
  virtual void SetHorizontalExtent(int extent) = 0;
};

// Measures the displayed width of a line: pixels of the list box's device
// context, or display columns of a console.
class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // False when nothing can be measured now (no device context).
  virtual bool Measure(const std::string& line, int* width) = 0;
};

// The result list. The horizontal extent always covers the widest line in
// the list. Widths are kept per line with the running maximum of the lines
// before, so appending, removing the last line and clearing all cost
// constant time, however long the log grows; only a line that could not be
// measured when it was added forces one full re-measure later.
class ProgressLog {
 public:
  ProgressLog(LogView* view, TextMeasurer* measurer);

  // Adds `line` as the new last line and refreshes the extent. Returns the
  // view's result (the new line's index or its error code).
  int AppendLogLine(const std::string& line);
  // Deletes the last line. The extent is refreshed by the next append.
  void RemoveLastLine();
  // Makes the last line the current, visible one.
  void SelectLastLine();
  int LineCount();
  // Empties the list; the extent becomes 0 with the next append.
  void Reset();

 private:
  // Sets the extent to the widest line; re-measures every line only when
  // some line is still unmeasured.
  void RefreshHorizontalExtent();

  LogView* view_;
  TextMeasurer* measurer_;
  // prefix_max_[i]: the widest of lines 0..i, or -1 when one of them could
  // not be measured.
  std::vector<int32_t> prefix_max_;
};

}  // namespace vm

#endif  // VM_APP_PROGRESS_LOG_H_
