#include "util/md5.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vm {
namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr int kShift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,
                            12, 17, 22, 5,  9,  14, 20, 5,  9,  14, 20, 5,  9,
                            14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16,
                            23, 4,  11, 16, 23, 4,  11, 16, 23, 6,  10, 15, 21,
                            6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a,
    0xa8304613, 0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340,
    0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8,
    0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92,
    0xffeff47d, 0x85845dd1, 0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Runs the four rounds over one 64-byte block.
void Transform(uint32_t state[4], const unsigned char* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(block[4 * i]) |
           static_cast<uint32_t>(block[4 * i + 1]) << 8 |
           static_cast<uint32_t>(block[4 * i + 2]) << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t rotated = RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
    a = d;
    d = c;
    c = b;
    b = b + rotated;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5::Update(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  total_ += size;
  if (pending_size_ > 0) {
    const size_t take = std::min(size, 64 - pending_size_);
    std::memcpy(pending_ + pending_size_, data, take);
    pending_size_ += take;
    data += take;
    size -= take;
    if (pending_size_ < 64) return;
    Transform(state_, pending_);
    pending_size_ = 0;
  }
  const size_t whole = size - size % 64;
  for (size_t i = 0; i < whole; i += 64) Transform(state_, data + i);
  pending_size_ = size - whole;
  if (pending_size_ > 0) std::memcpy(pending_, data + whole, pending_size_);
}

std::string Md5::Hex() {
  // The tail, a 0x80 byte, zeros up to 56 mod 64, and the bit length in
  // little-endian order: one block when the tail is under 56 bytes, else two.
  unsigned char last[128] = {};
  const size_t tail = pending_size_;
  if (tail > 0) std::memcpy(last, pending_, tail);
  last[tail] = 0x80;
  const size_t padded = tail < 56 ? 64 : 128;
  const uint64_t bits = total_ * 8;
  for (int i = 0; i < 8; ++i) {
    last[padded - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  Transform(state_, last);
  if (padded == 128) Transform(state_, last + 64);

  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(32);
  for (uint32_t word : state_) {
    for (int i = 0; i < 4; ++i) {
      unsigned byte = (word >> (8 * i)) & 0xFF;
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 0xF];
    }
  }
  return hex;
}

std::string Md5Hex(std::string_view bytes) {
  Md5 md5;
  md5.Update(bytes);
  return md5.Hex();
}

}  // namespace vm
