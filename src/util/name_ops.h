#ifndef VM_UTIL_NAME_OPS_H_
#define VM_UTIL_NAME_OPS_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vm {

// For each byte of an ANSI code page, whether it starts a two-byte
// character whose second byte may be an ASCII byte (see CodePage).
using LeadByteTable = std::array<bool, 256>;

// The operations on names (users, domains, folders) in the run's ANSI code
// page. The second byte of a double-byte character may be "@", "\", "|" or
// an ASCII capital, so every operation steps over it: only ASCII capitals
// standing alone are folded and only a byte standing alone is found. A lead
// byte at the very end of a name stands alone.
class NameOps {
 public:
  // GBK (code page 936), the default ANSI code page: 0x81-0xFE lead.
  NameOps();
  explicit NameOps(const LeadByteTable& lead_bytes);

  bool IsLeadByte(unsigned char c) const { return lead_[c]; }
  bool HasLeadBytes() const;

  // Bytes of the character at name[i]: 2 for a lead byte with a byte after
  // it, else 1.
  size_t CharLength(std::string_view name, size_t i) const {
    return IsLeadByte(static_cast<unsigned char>(name[i])) &&
                   i + 1 < name.size()
               ? 2
               : 1;
  }

  // The name with ASCII capitals lower-cased; also the key under which a
  // name is hashed, so two names are one key exactly when they compare
  // equal ignoring case.
  std::string Fold(std::string_view name) const;
  bool EqualsIgnoringCase(std::string_view a, std::string_view b) const;

  // The position of the first `c` standing alone at or after `from` (which
  // must start a character); npos when there is none.
  size_t Find(std::string_view name, char c, size_t from = 0) const;

 private:
  LeadByteTable lead_;
};

}  // namespace vm

#endif  // VM_UTIL_NAME_OPS_H_
