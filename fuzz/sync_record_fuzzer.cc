// Reads arbitrary bytes as a target's sync record, which comes from disk
// and may be damaged or edited. Whatever it is given, the reader keeps
// either every entry or none; a record it keeps, written again, is the
// same text, so that a run never trusts a record it would not have written.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "migrate/sync_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vm::SyncRecord record(vm::FileId{7, 42});
  if (!record.Parse(text)) {
    FUZZ_CHECK(record.size() == 0);
    return 0;
  }
  std::string written;
  FUZZ_CHECK(record.Write([&written](std::string_view piece) {
    written += piece;
    return true;
  }));
  // A record of the version before the user list's line is written in the
  // current version, vouching for no user list; any other, as it was.
  std::string expected(text);
  constexpr std::string_view kOlder = "velquor-migrate-sync-record 3\n";
  if (text.starts_with(kOlder)) {
    expected.insert(expected.find('\n', kOlder.size()) + 1, "user-list -\n");
    expected[kOlder.size() - 2] = '4';
  }
  FUZZ_CHECK(written == expected);
  return 0;
}
