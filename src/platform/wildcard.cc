#include "platform/wildcard.h"

#include <cstddef>

#include "util/ascii.h"

namespace vm {
namespace {

// Bytes of the character at s[pos]: for an ANSI string as `names` splits
// it, else (null `names`) as UTF-8; never beyond the end.
size_t CharLength(std::string_view s, size_t pos, const NameOps* names) {
  if (names != nullptr) return names->CharLength(s, pos);
  unsigned char c = static_cast<unsigned char>(s[pos]);
  size_t len = 1;
  if (c >= 0xC0) len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  return pos + len <= s.size() ? len : s.size() - pos;
}

bool SameChar(std::string_view a, size_t a_pos, size_t a_len,
              std::string_view b, size_t b_pos, size_t b_len) {
  if (a_len != b_len) return false;
  // Only single-byte characters fold: the second byte of a double-byte
  // character may look like an ASCII letter without being one.
  if (a_len == 1) return AsciiLower(a[a_pos]) == AsciiLower(b[b_pos]);
  for (size_t i = 0; i < a_len; ++i) {
    if (a[a_pos + i] != b[b_pos + i]) return false;
  }
  return true;
}

// True when the rest of the pattern is ".*" followed only by stars: such a
// tail also matches the end of a name.
bool IsDotStarTail(std::string_view pattern, size_t p) {
  if (p + 1 >= pattern.size() || pattern[p] != '.' || pattern[p + 1] != '*') {
    return false;
  }
  for (size_t i = p + 2; i < pattern.size(); ++i) {
    if (pattern[i] != '*') return false;
  }
  return true;
}

bool Match(std::string_view pattern, std::string_view name,
           const NameOps* encoding) {
  // Iterative matching with one backtrack point for the last '*': linear
  // in practice and never recursive, whatever the pattern.
  size_t p = 0, n = 0;
  size_t star_p = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    size_t n_len = CharLength(name, n, encoding);
    if (p < pattern.size()) {
      if (pattern[p] == '*') {
        star_p = p++;
        star_n = n;
        continue;
      }
      size_t p_len = CharLength(pattern, p, encoding);
      if ((pattern[p] == '?' && p_len == 1) ||
          SameChar(pattern, p, p_len, name, n, n_len)) {
        p += p_len;
        n += n_len;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    p = star_p + 1;
    star_n += CharLength(name, star_n, encoding);
    n = star_n;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size() || IsDotStarTail(pattern, p);
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name,
                   const NameOps& names) {
  return Match(pattern, name, &names);
}

bool WildcardMatchUtf8(std::string_view pattern, std::string_view name) {
  return Match(pattern, name, nullptr);
}

}  // namespace vm
