// Loads arbitrary domain.ini and popusers.ini bytes with every password
// option and checks what reaches the account step: names that fit their
// fields, well-formed passwords, and every account under a listed domain.

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

const vm::Texts& GbkTexts() {
  static const vm::Texts* texts = [] {
    std::unique_ptr<vm::CodePage> gbk = vm::OpenCodePage("GBK");
    FUZZ_CHECK(gbk != nullptr);
    return new vm::Texts(vm::MakeTexts(*gbk));
  }();
  return *texts;
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
  host.mode = static_cast<PasswordMode>(in.ConsumeIntegralInRange<int>(1, 4));
  host.suffix = in.ConsumeRandomLengthString(40);
  host.common_password = in.ConsumeRandomLengthString(40);
  // A stale list from an earlier run must not survive the load.
  host.domains.push_back({"stale.example", {}});
  const bool with_domains = in.ConsumeBool();
  const bool with_users = in.ConsumeBool();
  std::string domain_ini = in.ConsumeRandomLengthString(size);
  std::string popusers_ini = in.ConsumeRemainingBytesAsString();

  MemFileSystem fs;
  FUZZ_CHECK(fs.CreateDir("C:\\src"));
  if (with_domains)
    FUZZ_CHECK(fs.WriteFile("C:\\src\\domain.ini", domain_ini, nullptr));
  if (with_users)
    FUZZ_CHECK(fs.WriteFile("C:\\src\\popusers.ini", popusers_ini, nullptr));

  int refused = 0;
  const bool loaded =
      LoadSourceLists(&fs, "C:\\src", GbkTexts(), &host, &refused);
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
      FUZZ_CHECK(account.user_name == AsciiLower(account.user_name));
      FUZZ_CHECK(account.password.size() == 37);
      FUZZ_CHECK(account.password.compare(0, 5, "{md5}") == 0);
      FUZZ_CHECK(IsLowerHex(account.password.substr(5)));
    }
  }
  return 0;
}
