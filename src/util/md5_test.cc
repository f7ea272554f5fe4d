#include "util/md5.h"

#include <string>

#include "gtest/gtest.h"

namespace vm {
namespace {

struct DigestCase {
  std::string input;
  const char* hex;
};

TEST(Md5HexTest, MatchesTheReferenceSuite) {
  const DigestCase kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567"
       "8901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Md5Hex(c.input), c.hex) << "input: " << c.input;
  }
}

// Lengths around the padding boundaries: a tail of 55 bytes still fits the
// length in its block, 56..63 need a second block, 64 starts a new one.
TEST(Md5HexTest, PaddingBoundaries) {
  const struct {
    size_t length;
    const char* hex;
  } kCases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},
      {56, "3b0c8ac703f828b04c6c197006d17218"},
      {57, "652b906d60af96844ebd21b674f35e93"},
      {63, "b06521f39153d618550606be297466d5"},
      {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},
      {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
      {128, "e510683b3f5ffe4093d021808bc6ff70"},
      {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Md5Hex(std::string(c.length, 'a')), c.hex)
        << "length " << c.length;
  }
}

TEST(Md5HexTest, DigestsEveryByteIncludingNulAndHighBytes) {
  EXPECT_EQ(Md5Hex(std::string("a\0b\xff", 4)),
            "0dd4df5b5be53b9566c53387ec9a7bac");
}

}  // namespace
}  // namespace vm
