#ifndef VM_UTIL_VARINT_H_
#define VM_UTIL_VARINT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace vm {

// Numbers kept in memory in as few bytes as they need: seven bits a byte,
// the lowest first; the high bit says another byte follows.

inline void PutVarint(std::string* out, uint64_t value) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

// Reads the number at `in + *at` and moves *at past it. Only for bytes this
// process wrote with PutVarint: nothing is checked.
inline uint64_t GetVarint(const char* in, size_t* at) {
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(in[(*at)++]);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return value;
  }
}

}  // namespace vm

#endif  // VM_UTIL_VARINT_H_
