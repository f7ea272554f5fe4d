#include "util/shown_text.h"

namespace vm {

std::string ShownText(std::string_view text, bool keep_line_ends) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control = byte < 0x20 || byte == 0x7F;
    if (!control || (keep_line_ends && c == '\n')) {
      shown.push_back(c);
      continue;
    }
    shown += "\\u00";
    shown.push_back(kHex[byte >> 4]);
    shown.push_back(kHex[byte & 0xF]);
  }
  return shown;
}

}  // namespace vm
