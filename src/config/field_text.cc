#include "config/field_text.h"

#include <limits>

namespace vm {

int64_t ParseDecimal64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsAsciiSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number, whose range is the larger one.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (value < (kMin + digit) / 10) {
      saturated = true;
      value = kMin;
    } else if (!saturated) {
      value = value * 10 - digit;
    }
  }
  if (negative) return value;
  if (value == kMin) return std::numeric_limits<int64_t>::max();
  return -value;
}

int32_t ParseDecimal32(std::string_view text) {
  int64_t value = ParseDecimal64(text);
  if (value > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

}  // namespace vm
