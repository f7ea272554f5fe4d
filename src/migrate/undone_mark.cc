#include "migrate/undone_mark.h"

#include "migrate/record_fields.h"

namespace vm {
namespace {

constexpr std::string_view kWord = "undone ";

// Strips one mark from the end of `*text`; false when it ends in none.
bool StripMark(std::string_view* text, std::string* when) {
  if (text->size() < 2 || text->back() != '\n') return false;
  const std::string_view body = text->substr(0, text->size() - 1);
  const size_t lf = body.rfind('\n');
  if (lf == std::string_view::npos) return false;
  const std::string_view line = body.substr(lf + 1);
  if (line.substr(0, kWord.size()) != kWord ||
      line.find(' ', kWord.size()) != std::string_view::npos ||
      !ParseField(line.substr(kWord.size()), when) || when->empty()) {
    return false;
  }
  // The LF before the mark's line is the mark's own: it ended the run's
  // torn last line, or made the empty line after a whole one.
  *text = text->substr(0, lf);
  return true;
}

}  // namespace

std::string UndoneMark(const std::string& when) {
  std::string line = "\n";
  line += kWord.substr(0, kWord.size() - 1);
  AppendField(&line, when);
  return line + "\n";
}

std::string_view RunBytes(std::string_view text, std::string* when) {
  when->clear();
  std::string at;
  while (StripMark(&text, &at)) *when = at;
  return text;
}

}  // namespace vm
