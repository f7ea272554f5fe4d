#include "util/name_ops.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/code_page.h"

namespace vm {
namespace {

// GBK names whose second bytes are "B", "F", "@", "\" and "|".
const char kZhangJun[] = "\xD5\xC5\xAC\x42";           // 张珺
const char kZhuRongji[] = "\xD6\xEC\xE9\x46\xBB\xF9";  // 朱镕基
const char kGardener[] = "\x88\x40\xB6\xA1";           // 園丁
const char kBackslashTrail[] = "\x81\x5C";             // 乗
const char kBarTrail[] = "\x81\x7C";                   // 亅

TEST(NameOpsTest, TrailBytesAreNeitherFoldedNorFound) {
  const NameOps gbk;
  const std::string zhang = kZhangJun, zhu = kZhuRongji, garden = kGardener;
  struct Case {
    std::string name, folded;
    size_t at, backslash, bar;
  } cases[] = {
      {"Bob@X.com", "bob@x.com", 3, std::string::npos, std::string::npos},
      {zhang + "A@B", zhang + "a@b", 5, std::string::npos, std::string::npos},
      {zhu, zhu, std::string::npos, std::string::npos, std::string::npos},
      {garden + "@" + garden, garden + "@" + garden, 4, std::string::npos,
       std::string::npos},
      {std::string(kBackslashTrail) + "\\" + kBarTrail + "|",
       std::string(kBackslashTrail) + "\\" + kBarTrail + "|", std::string::npos,
       2, 5},
      // A lead byte at the end stands alone.
      {"A\x88", "a\x88", std::string::npos, std::string::npos,
       std::string::npos},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gbk.Fold(c.name), c.folded) << c.name;
    EXPECT_EQ(gbk.Find(c.name, '@'), c.at) << c.name;
    EXPECT_EQ(gbk.Find(c.name, '\\'), c.backslash) << c.name;
    EXPECT_EQ(gbk.Find(c.name, '|'), c.bar) << c.name;
  }
  // 张珺 and 张琤 differ only in a trail byte's case.
  EXPECT_FALSE(gbk.EqualsIgnoringCase(kZhangJun, "\xD5\xC5\xAC\x62"));
  EXPECT_TRUE(gbk.EqualsIgnoringCase(zhang + "AB", zhang + "ab"));

  // Without lead bytes (UTF-8) every capital is folded.
  const NameOps plain{LeadByteTable{}};
  EXPECT_EQ(plain.Fold(kZhangJun), "\xD5\xC5\xAC\x62");
  EXPECT_EQ(plain.Find(kGardener, '@'), 1u);
}

TEST(NameOpsTest, LeadBytesOfThePlatformCodePages) {
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  std::unique_ptr<CodePage> utf8 = OpenCodePage("UTF-8");
  ASSERT_TRUE(gbk && utf8);
  LeadByteTable gbk_leads = gbk->LeadBytes();
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(gbk_leads[c], c >= 0x81 && c <= 0xFE) << c;
  }
  EXPECT_FALSE(NameOps(utf8->LeadBytes()).HasLeadBytes());
}

// ASCII capitals lower-cased in UTF-8, where no byte of a multi-byte
// character is ASCII.
std::string ReferenceFold(const CodePage& cp, const std::string& ansi) {
  std::string utf8 = cp.ToUtf8(ansi);
  for (char& c : utf8) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return cp.ToAnsi(utf8);
}

TEST(NameOpsTest, AgreesWithDecodingOnRandomGbkNames) {
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  ASSERT_NE(gbk, nullptr);
  const NameOps ops(gbk->LeadBytes());
  std::mt19937 random(11);
  const std::string kTrails = "@AZMaz\\|~";
  auto random_name = [&] {
    std::string name;
    for (int n = random() % 6; n >= 0; --n) {
      if (random() % 3 == 0) {
        name += "aB@\\|"[random() % 5];
        continue;
      }
      std::string pair(1, static_cast<char>(0x81 + random() % 0x7E));
      pair += random() % 2 ? kTrails[random() % kTrails.size()]
                           : static_cast<char>(0x80 + random() % 0x7F);
      if (gbk->IsValidAnsi(pair)) name += pair;
    }
    return name;
  };
  for (int round = 0; round < 2000; ++round) {
    std::string a = random_name();
    std::string b = random() % 2 ? ReferenceFold(*gbk, a) : random_name();
    ASSERT_EQ(ops.Fold(a), ReferenceFold(*gbk, a)) << a;
    ASSERT_EQ(ops.EqualsIgnoringCase(a, b),
              ReferenceFold(*gbk, a) == ReferenceFold(*gbk, b))
        << a << " " << b;
    std::string utf8 = gbk->ToUtf8(a);
    size_t at = utf8.find('@');
    ASSERT_EQ(ops.Find(a, '@'), at == std::string::npos
                                    ? at
                                    : gbk->ToAnsi(utf8.substr(0, at)).size())
        << a;
  }
}

}  // namespace
}  // namespace vm
