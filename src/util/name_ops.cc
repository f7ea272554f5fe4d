#include "util/name_ops.h"

#include "util/ascii.h"

namespace vm {

NameOps::NameOps() {
  for (int c = 0; c < 256; ++c) lead_[c] = c >= 0x81 && c <= 0xFE;
}

NameOps::NameOps(const LeadByteTable& lead_bytes) : lead_(lead_bytes) {}

bool NameOps::HasLeadBytes() const {
  for (bool lead : lead_) {
    if (lead) return true;
  }
  return false;
}

std::string NameOps::Fold(std::string_view name) const {
  std::string folded(name);
  for (size_t i = 0; i < folded.size(); i += CharLength(folded, i)) {
    folded[i] = AsciiLower(folded[i]);
  }
  return folded;
}

bool NameOps::EqualsIgnoringCase(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  // Equal bytes up to i mean both names split into the same characters.
  for (size_t i = 0; i < a.size();) {
    size_t length = CharLength(a, i);
    if (length == 2) {
      if (a.compare(i, 2, b, i, 2) != 0) return false;
    } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
    i += length;
  }
  return true;
}

size_t NameOps::Find(std::string_view name, char c, size_t from) const {
  for (size_t i = from; i < name.size(); i += CharLength(name, i)) {
    if (name[i] == c && CharLength(name, i) == 1) return i;
  }
  return std::string_view::npos;
}

}  // namespace vm
