#include "migrate/record_fields.h"

#include <algorithm>
#include <cstdint>

namespace vm {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void AppendField(std::string* line, std::string_view bytes) {
  line->push_back(' ');
  if (bytes.empty()) {
    line->push_back('-');
    return;
  }
  if (bytes == "-") {
    *line += "%2D";
    return;
  }
  for (unsigned char c : bytes) {
    if (c > 0x20 && c < 0x7F && c != '%') {
      line->push_back(static_cast<char>(c));
    } else {
      *line += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
}

// The bytes of one field; false when it is not exactly as AppendField
// writes them.
bool ParseField(std::string_view field, std::string* bytes) {
  bytes->clear();
  if (field == "-") return true;
  if (field == "%2D") {
    *bytes = "-";
    return true;
  }
  if (field.empty()) return false;
  for (size_t i = 0; i < field.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    if (c != '%') {
      if (c <= 0x20 || c >= 0x7F) return false;
      bytes->push_back(static_cast<char>(c));
      continue;
    }
    if (i + 2 >= field.size()) return false;
    const int high = HexValue(field[i + 1]);
    const int low = HexValue(field[i + 2]);
    if (high < 0 || low < 0) return false;
    const unsigned char byte = static_cast<unsigned char>(high * 16 + low);
    // One spelling per byte: what may stand as itself must.
    if (byte > 0x20 && byte < 0x7F && byte != '%') return false;
    bytes->push_back(static_cast<char>(byte));
    i += 2;
  }
  return *bytes != "-";
}

// A decimal number without sign or leading zero, within 64 bits.
bool ParseNumber(std::string_view text, uint64_t* value) {
  if (text.empty() || text.size() > 20 || (text[0] == '0' && text.size() > 1)) {
    return false;
  }
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *value = n;
  return true;
}

// A time as "SECONDS.NANOSECONDS": the seconds as a decimal number, with
// "-" before it when negative (never "-0"), and exactly nine digits of
// nanoseconds.
std::string TimeText(const StampTime& t) {
  std::string nanos = std::to_string(t.nanoseconds);
  return std::to_string(t.seconds) + '.' +
         std::string(9 - std::min<size_t>(9, nanos.size()), '0') + nanos;
}

bool ParseTime(std::string_view text, StampTime* t) {
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || text.size() - dot != 10) return false;
  std::string_view seconds = text.substr(0, dot);
  const bool negative = !seconds.empty() && seconds[0] == '-';
  if (negative) seconds.remove_prefix(1);
  uint64_t magnitude = 0;
  uint64_t nanos = 0;
  const std::string_view fraction = text.substr(dot + 1);
  if (!ParseNumber(seconds, &magnitude) || magnitude > INT64_MAX ||
      (negative && magnitude == 0) ||
      fraction.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  for (char c : fraction) nanos = nanos * 10 + static_cast<uint64_t>(c - '0');
  t->seconds = negative ? -static_cast<int64_t>(magnitude)
                        : static_cast<int64_t>(magnitude);
  t->nanoseconds = static_cast<uint32_t>(nanos);
  return true;
}

bool IsMd5Hex(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
  std::vector<std::string_view> words;
  SplitSpaces(line, &words);
  return words;
}

void SplitSpaces(std::string_view line, std::vector<std::string_view>* words) {
  words->clear();
  size_t at = 0;
  for (;;) {
    const size_t space = line.find(' ', at);
    words->push_back(line.substr(at, space - at));
    if (space == std::string_view::npos) return;
    at = space + 1;
  }
}

}  // namespace vm
