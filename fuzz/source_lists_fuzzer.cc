// Loads arbitrary domain.ini and popusers.ini bytes with every password
// option and checks what reaches the account step: names that fit their
// fields, well-formed passwords, and every account under a listed domain.
// The same lists with CR line ends instead of LF, or saved as UTF-8 behind
// a byte-order mark, must load to the same result.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"
#include "migrate/source_lists.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"

namespace {

const vm::CodePage& Gbk() {
  static const vm::CodePage* gbk = vm::OpenCodePage("GBK").release();
  FUZZ_CHECK(gbk != nullptr);
  return *gbk;
}

const vm::Texts& GbkTexts() {
  static const vm::Texts* texts = new vm::Texts(vm::MakeTexts(Gbk()));
  return *texts;
}

// Everything a load hands on, as one comparable text.
std::string Loaded(const vm::RecordingHost& host) {
  std::string out;
  for (const vm::SourceDomain& domain : host.domains) {
    out += "D" + domain.name + '\0';
    for (const vm::SourceAccount& account : domain.accounts) {
      out += "A" + account.user_name + '\0' + account.domain + '\0' +
             account.password + '\0';
    }
  }
  for (const std::string& line : host.lines) out += "L" + line + '\0';
  for (const std::string& message : host.messages) out += "M" + message + '\0';
  return out;
}

// The list as another editor would save it: `variant` 1 ends lines with CR
// alone, 2 writes UTF-8 behind a byte-order mark. False when that editor
// could not save this text unchanged in meaning.
bool Resave(int variant, const std::string& text, std::string* out) {
  if (variant == 1) {
    if (text.find('\r') != std::string::npos) return false;
    *out = text;
    for (char& c : *out) c = c == '\n' ? '\r' : c;
    return true;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0 || !Gbk().IsValidAnsi(text)) {
    return false;
  }
  std::string utf8 = Gbk().ToUtf8(text);
  if (Gbk().ToAnsi(utf8) != text) return false;
  *out = "\xEF\xBB\xBF" + utf8;
  return true;
}

bool IsLowerHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vm;
  FuzzedDataProvider in(data, size);
  RecordingHost host;
  RecordingHost resaved_host;
  PasswordOptions passwords;
  passwords.mode =
      static_cast<PasswordMode>(in.ConsumeIntegralInRange<int>(1, 4));
  passwords.suffix = in.ConsumeRandomLengthString(40);
  passwords.common = in.ConsumeRandomLengthString(40);
  // A stale list from an earlier run must not survive the load.
  host.domains.push_back({"stale.example", {}});
  const bool with_domains = in.ConsumeBool();
  const bool with_users = in.ConsumeBool();
  const int variant = in.ConsumeIntegralInRange<int>(0, 2);
  std::string domain_ini = in.ConsumeRandomLengthString(size);
  std::string popusers_ini = in.ConsumeRemainingBytesAsString();

  MemFileSystem fs;
  FUZZ_CHECK(fs.CreateDir("C:\\src", nullptr));
  if (with_domains)
    FUZZ_CHECK(fs.WriteFile("C:\\src\\domain.ini", domain_ini, nullptr));
  if (with_users)
    FUZZ_CHECK(fs.WriteFile("C:\\src\\popusers.ini", popusers_ini, nullptr));

  int refused = 0;
  const bool loaded = LoadSourceLists(&fs, "C:\\src", GbkTexts(), &host,
                                      passwords, &refused, nullptr, &Gbk());
  std::string domains_resaved, users_resaved;
  if (variant != 0 && Resave(variant, domain_ini, &domains_resaved) &&
      Resave(variant, popusers_ini, &users_resaved)) {
    MemFileSystem other;
    FUZZ_CHECK(other.CreateDir("C:\\src", nullptr));
    if (with_domains)
      FUZZ_CHECK(
          other.WriteFile("C:\\src\\domain.ini", domains_resaved, nullptr));
    if (with_users)
      FUZZ_CHECK(
          other.WriteFile("C:\\src\\popusers.ini", users_resaved, nullptr));
    int refused_resaved = 0;
    FUZZ_CHECK(LoadSourceLists(&other, "C:\\src", GbkTexts(), &resaved_host,
                               passwords, &refused_resaved, nullptr,
                               &Gbk()) == loaded);
    FUZZ_CHECK(refused_resaved == refused);
    FUZZ_CHECK(Loaded(resaved_host) == Loaded(host));
  }
  if (!loaded) {
    // A refusal always tells the user why.
    FUZZ_CHECK(host.messages.size() == 1);
    return 0;
  }
  FUZZ_CHECK(with_domains && with_users);
  FUZZ_CHECK(host.messages.empty());
  FUZZ_CHECK(refused >= 0);
  FUZZ_CHECK(host.lines.size() == static_cast<size_t>(refused));
  std::set<std::string> names;
  for (const SourceDomain& domain : host.domains) {
    FUZZ_CHECK(domain.name != "stale.example" ||
               domain_ini.find("stale.example") != std::string::npos);
    for (const SourceAccount& account : domain.accounts) {
      FUZZ_CHECK(account.user_name.size() <= kMaxNameBytes);
      FUZZ_CHECK(account.domain.size() <= kMaxNameBytes);
      FUZZ_CHECK(account.user_name == NameOps().Fold(account.user_name));
      FUZZ_CHECK(account.password.size() == 37);
      FUZZ_CHECK(account.password.compare(0, 5, "{md5}") == 0);
      FUZZ_CHECK(IsLowerHex(account.password.substr(5)));
    }
  }
  return 0;
}
