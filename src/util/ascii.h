#ifndef VM_UTIL_ASCII_H_
#define VM_UTIL_ASCII_H_

#include <string>
#include <string_view>

namespace vm {

// Letter case of names that are ASCII by their nature: option names, file
// extensions, element names, charset names. Only the letters A-Z fold,
// every other byte stays as it is. Names of users and domains may hold
// double-byte characters whose second byte looks like a letter: they
// compare through NameOps instead.

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The C library's white space: blank, tab, line feed, vertical tab, form
// feed, carriage return.
inline bool IsAsciiSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// `text` without the white space at its ends.
inline std::string_view TrimAsciiSpace(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsAsciiSpace(text[begin])) ++begin;
  size_t end = text.size();
  while (end > begin && IsAsciiSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

inline std::string AsciiLowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

inline bool EndsWithIgnoringAsciiCase(std::string_view text,
                                      std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsIgnoringAsciiCase(text.substr(text.size() - suffix.size()),
                                 suffix);
}

// Calls fn(line) for each line of `text` ended by LF or CR LF, the line
// end removed (a CR alone stays in its line, as in the server's index
// files); a final line end adds no empty line. fn returns false to stop.
template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!fn(line)) return;
    start = end + 1;
  }
}

// As ForEachLine, but CR alone ends a line too, as in lists made by
// editors on every system; fn returns nothing.
template <typename Fn>
void ForEachLineOfAnyEnd(std::string_view text, Fn fn) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    fn(text.substr(start, end - start));
    start = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') {
      ++start;
    }
  }
}

}  // namespace vm

#endif  // VM_UTIL_ASCII_H_
