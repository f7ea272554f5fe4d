#include "util/md5.h"

#include <string>

#include "gtest/gtest.h"

namespace vm {
namespace {

// Reference digests, plus lengths around the padding boundaries: a tail of
// 55 bytes still holds the length in its block, 56..63 need a second block.
TEST(Md5HexTest, ReferenceDigests) {
  const struct {
    std::string input;
    const char* hex;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {std::string("a\0b\xff", 4), "0dd4df5b5be53b9566c53387ec9a7bac"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
      {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Md5Hex(c.input), c.hex) << "length " << c.input.size();
    // Fed in pieces that straddle the 64-byte blocks, as a copy reads.
    for (size_t piece : {1, 7, 63, 65}) {
      Md5 md5;
      for (size_t at = 0; at < c.input.size(); at += piece) {
        md5.Update(std::string_view(c.input).substr(at, piece));
      }
      EXPECT_EQ(md5.Hex(), c.hex)
          << "length " << c.input.size() << " by " << piece;
    }
  }
}

}  // namespace
}  // namespace vm
