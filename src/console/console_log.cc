#include "console/console_log.h"

#include "platform/code_page.h"

namespace vm {

namespace {

// Decodes one UTF-8 sequence at `i`; returns the code point (or the byte on
// a malformed sequence) and advances `i`.
uint32_t NextCodePoint(const std::string& s, size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  int extra = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
  if (extra > 0 && *i + extra >= s.size()) {
    ++*i;
    return c;
  }
  uint32_t cp = extra == 0 ? c : c & (0x3f >> extra);
  for (int k = 1; k <= extra; ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[*i + k]) & 0x3f);
  }
  *i += 1 + extra;
  return cp;
}

bool IsWide(uint32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115f) || (cp >= 0x2e80 && cp <= 0xa4cf) ||
         (cp >= 0xac00 && cp <= 0xd7a3) || (cp >= 0xf900 && cp <= 0xfaff) ||
         (cp >= 0xfe30 && cp <= 0xfe4f) || (cp >= 0xff00 && cp <= 0xff60) ||
         (cp >= 0xffe0 && cp <= 0xffe6) || (cp >= 0x20000 && cp <= 0x3fffd);
}

}  // namespace

int DisplayColumns(const std::string& utf8) {
  int columns = 0;
  size_t i = 0;
  while (i < utf8.size()) columns += IsWide(NextCodePoint(utf8, &i)) ? 2 : 1;
  return columns;
}

ColumnMeasurer::ColumnMeasurer(const CodePage* code_page)
    : code_page_(code_page) {}

bool ColumnMeasurer::Measure(const std::string& line, int* width) {
  *width = DisplayColumns(code_page_->ToUtf8(line));
  return true;
}

ConsoleLog::ConsoleLog(const CodePage* code_page, bool terminal, Writer write,
                       bool keep_lines)
    : code_page_(code_page),
      terminal_(terminal),
      write_(std::move(write)),
      keep_lines_(keep_lines) {}

void ConsoleLog::PrintPending() {
  if (printed_ < Count()) {
    write_(terminal_ ? std::string("\n")
                     : code_page_->ToUtf8(lines_.back()) + "\n");
    printed_ = Count();
  }
  if (keep_lines_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  let_go_ += lines_.size();
  lines_.clear();
}

int ConsoleLog::AddLine(const std::string& line) {
  // The line before the new one stays: print it for good.
  PrintPending();
  int index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    index = static_cast<int>(Count()) - 1;
  }
  if (terminal_) {
    std::string utf8 = code_page_->ToUtf8(line);
    shown_columns_ = DisplayColumns(utf8);
    write_(utf8);
    shown_ = true;
  }
  return index;
}

void ConsoleLog::DeleteLine(int index) {
  if (index < 0 || static_cast<size_t>(index) >= Count()) return;
  // Only the unprinted last line can be taken back; earlier lines are
  // already out and only leave the kept list.
  if (static_cast<size_t>(index) + 1 == Count() && printed_ < Count() &&
      terminal_ && shown_) {
    std::string blank(shown_columns_ + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    write_(blank);
    shown_ = false;
  }
  // A line printed for good leaves the count of those; the line after
  // it, if still pending, stays pending.
  if (static_cast<size_t>(index) < printed_) --printed_;
  std::lock_guard<std::mutex> lock(mutex_);
  if (static_cast<size_t>(index) < let_go_) {
    --let_go_;
  } else {
    lines_.erase(lines_.begin() + (index - let_go_));
  }
}

int ConsoleLog::LineCount() { return static_cast<int>(Count()); }

std::string ConsoleLog::LineText(int index) {
  return index >= 0 && static_cast<size_t>(index) >= let_go_ &&
                 static_cast<size_t>(index) < Count()
             ? lines_[index - let_go_]
             : std::string();
}

void ConsoleLog::Select(int) {}

void ConsoleLog::Reset() {
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
  let_go_ = 0;
  printed_ = 0;
}

void ConsoleLog::SetHorizontalExtent(int) {}

void ConsoleLog::Finish() {
  PrintPending();
  shown_ = false;
}

std::string ConsoleLog::ListText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (const std::string& line : lines_) {
    text += code_page_->ToUtf8(line) + "\n";
  }
  return text;
}

}  // namespace vm
