#ifndef VM_UTIL_MD5_H_
#define VM_UTIL_MD5_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

// The MD5 digest (RFC 1321) of `bytes` as 32 lowercase hexadecimal digits,
// high nibble first. A password field is "{md5}" + Md5Hex(password).
std::string Md5Hex(std::string_view bytes);

// The same digest over bytes that arrive in pieces, as a copy reads them:
// Update with each piece in order, then Hex once.
class Md5 {
 public:
  void Update(std::string_view bytes);
  std::string Hex();
  // The number of bytes given so far.
  uint64_t size() const { return total_; }

 private:
  uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  unsigned char pending_[64] = {};
  size_t pending_size_ = 0;
  uint64_t total_ = 0;
};

}  // namespace vm

#endif  // VM_UTIL_MD5_H_
