#include "xml/xml_text.h"

#include <algorithm>

#include "xml/xml_document.h"

namespace vm {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the reference ("&name;", "&#65;") starting at text[at], or 0
// when the "&" does not start one.
size_t ReferenceLength(std::string_view text, size_t at) {
  size_t i = at + 1;
  if (i >= text.size()) return 0;
  const char first = text[i];
  if (!IsAsciiLetter(first) && first != '#' && first != '_' && first != ':') {
    return 0;
  }
  for (++i; i < text.size(); ++i) {
    const char c = text[i];
    if (!IsAsciiLetter(c) && !IsDigit(c) && c != '_' && c != ':' && c != '-' &&
        c != '.') {
      break;
    }
  }
  return i < text.size() && text[i] == ';' ? i - at + 1 : 0;
}

struct NamedEntity {
  std::string_view name;  // with its ";"
  char character;
};

constexpr NamedEntity kNamedEntities[] = {
    {"lt;", '<'}, {"amp;", '&'}, {"gt;", '>'}, {"apos;", '\''}, {"quot;", '"'},
};

int DigitValue(char c, int base) {
  int value;
  if (IsDigit(c)) {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else {
    return -1;
  }
  return value < base ? value : -1;
}

void AppendUtf8(uint32_t value, std::string* out) {
  auto byte = [out](uint32_t b) { *out += static_cast<char>(b); };
  if (value < 0x80) {
    byte(value);
  } else if (value < 0x800) {
    byte(0xC0 | (value >> 6));
    byte(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    byte(0xE0 | (value >> 12));
    byte(0x80 | ((value >> 6) & 0x3F));
    byte(0x80 | (value & 0x3F));
  } else {
    byte(0xF0 | (value >> 18));
    byte(0x80 | ((value >> 12) & 0x3F));
    byte(0x80 | ((value >> 6) & 0x3F));
    byte(0x80 | (value & 0x3F));
  }
}

// Decodes the numeric reference whose "&#" is at bytes[at]. Returns the
// length of the reference, or 0 when it is to be copied as text: no ";"
// within 8 bytes of the number's start, no leading digit, or a value that
// is no Unicode character (0, a surrogate, above 0x10FFFF).
size_t DecodeNumericReference(std::string_view bytes, size_t at,
                              std::string* out) {
  size_t begin = at + 2;
  int base = 10;
  if (begin < bytes.size() && bytes[begin] == 'x') {
    base = 16;
    ++begin;
  }
  const size_t window_end = std::min(bytes.size(), begin + 8);
  size_t semicolon = begin;
  while (semicolon < window_end && bytes[semicolon] != ';') ++semicolon;
  if (semicolon >= window_end) return 0;
  // Like strtol, the number stops at the first byte that is no digit of the
  // base; unlike it, no sign, space or "0x" prefix is taken.
  uint32_t value = 0;
  for (size_t i = begin; i < semicolon; ++i) {
    const int digit = DigitValue(bytes[i], base);
    if (digit < 0) break;
    value = value * base + digit;  // at most 7 digits: no overflow
  }
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
    return 0;
  }
  AppendUtf8(value, out);
  return semicolon - at + 1;
}

}  // namespace

std::string EncodeEntities(std::string_view text, uint32_t options) {
  const bool quotes = (options & kEscapeQuotes) != 0;
  const bool keep_references = (options & kKeepReferences) != 0;
  std::string out;
  out.reserve(text.size() + text.size() / 10 + 7);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* entity = nullptr;
    switch (c) {
      case '<':
        entity = "&lt;";
        break;
      case '&':
        entity = "&amp;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '\'':
        if (quotes) entity = "&apos;";
        break;
      case '"':
        if (quotes) entity = "&quot;";
        break;
      default:
        break;
    }
    if (entity == nullptr) {
      out += c;
      continue;
    }
    if (c == '&' && keep_references) {
      const size_t length = ReferenceLength(text, i);
      if (length > 0) {
        out.append(text.substr(i, length));
        i += length - 1;
        continue;
      }
    }
    out += entity;
  }
  return out;
}

std::string DecodeEntities(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '&') {
      out += c;
      continue;
    }
    if (i + 1 < bytes.size() && bytes[i + 1] == '#') {
      const size_t length = DecodeNumericReference(bytes, i, &out);
      if (length > 0) {
        i += length - 1;
      } else {
        out += c;
      }
      continue;
    }
    bool matched = false;
    for (const NamedEntity& entity : kNamedEntities) {
      if (bytes.substr(i + 1, entity.name.size()) == entity.name) {
        out += entity.character;
        i += entity.name.size();
        matched = true;
        break;
      }
    }
    if (!matched) out += c;
  }
  return out;
}

std::string WrapInCdata(std::string_view text) {
  static constexpr std::string_view kEnd = "]]>";
  std::string out = "<![CDATA[";
  size_t from = 0;
  for (size_t p = text.find(kEnd); p != std::string_view::npos;
       p = text.find(kEnd, from)) {
    out.append(text.substr(from, p - from));
    out += "]]]]><![CDATA[>";
    from = p + kEnd.size();
  }
  out.append(text.substr(from));
  out += "]]>";
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8, const CodePage& code_page) {
  utf8 = utf8.substr(0, utf8.find('\0'));
  if (utf8.empty()) return {};
  return code_page.ToAnsi(std::string(utf8));
}

}  // namespace vm
