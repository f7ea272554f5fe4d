#include "util/md5.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vm {
namespace {

// The sine-derived constants of RFC 1321, one per step.
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

inline uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// The four round functions, in forms with one operation fewer than the
// textbook ones (same values).
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One step: `a` takes the mix of the other three, the word `m`, the step's
// constant `k`, rotated by `s`.
template <uint32_t (*Round)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t m,
                 uint32_t k, int s) {
  a = b + RotateLeft(a + Round(b, c, d) + m + k, s);
}

// Runs the four rounds over one 64-byte block, four steps at a time so
// that the words rotate through the variables instead of being moved.
// Round r takes word (start + stride * step) mod 16 at each step.
void Transform(uint32_t state[4], const unsigned char* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(block[4 * i]) |
           static_cast<uint32_t>(block[4 * i + 1]) << 8 |
           static_cast<uint32_t>(block[4 * i + 2]) << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 16; i += 4) {
    Step<F>(a, b, c, d, m[i], kSine[i], 7);
    Step<F>(d, a, b, c, m[i + 1], kSine[i + 1], 12);
    Step<F>(c, d, a, b, m[i + 2], kSine[i + 2], 17);
    Step<F>(b, c, d, a, m[i + 3], kSine[i + 3], 22);
  }
  for (int i = 16; i < 32; i += 4) {
    Step<G>(a, b, c, d, m[(5 * i + 1) & 15], kSine[i], 5);
    Step<G>(d, a, b, c, m[(5 * i + 6) & 15], kSine[i + 1], 9);
    Step<G>(c, d, a, b, m[(5 * i + 11) & 15], kSine[i + 2], 14);
    Step<G>(b, c, d, a, m[(5 * i + 16) & 15], kSine[i + 3], 20);
  }
  for (int i = 32; i < 48; i += 4) {
    Step<H>(a, b, c, d, m[(3 * i + 5) & 15], kSine[i], 4);
    Step<H>(d, a, b, c, m[(3 * i + 8) & 15], kSine[i + 1], 11);
    Step<H>(c, d, a, b, m[(3 * i + 11) & 15], kSine[i + 2], 16);
    Step<H>(b, c, d, a, m[(3 * i + 14) & 15], kSine[i + 3], 23);
  }
  for (int i = 48; i < 64; i += 4) {
    Step<I>(a, b, c, d, m[(7 * i) & 15], kSine[i], 6);
    Step<I>(d, a, b, c, m[(7 * i + 7) & 15], kSine[i + 1], 10);
    Step<I>(c, d, a, b, m[(7 * i + 14) & 15], kSine[i + 2], 15);
    Step<I>(b, c, d, a, m[(7 * i + 21) & 15], kSine[i + 3], 21);
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
