// Reads arbitrary bytes as a run manifest. Whatever it is given, the reader
// answers with one of its three results, and a damaged line number within
// the text; a manifest it accepts is in the one spelling the writer gives,
// so writing what was read gives back the text up to its last whole line
// (but for the version number, which is the one written now).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "migrate/run_manifest.h"

namespace {

class StringSink : public vm::ManifestSink {
 public:
  bool Append(std::string_view bytes) override {
    text += bytes;
    return true;
  }
  bool Flush() override { return true; }
  std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vm::RunManifest manifest;
  int bad_line = 0;
  const vm::ManifestStatus status =
      vm::ReadManifest(text, &manifest, &bad_line);
  size_t lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  if (status != vm::ManifestStatus::kRead) {
    FUZZ_CHECK(bad_line >= 1 && static_cast<size_t>(bad_line) <= lines + 1);
    FUZZ_CHECK(manifest.entries.empty());
    return 0;
  }
  StringSink sink;
  vm::ManifestWriter writer(&sink, manifest.header);
  for (const vm::ManifestEntry& entry : manifest.entries) writer.Add(entry);
  FUZZ_CHECK(writer.Flush());
  // The writer writes the current version; a version-1 manifest reads as
  // the same records.
  const size_t whole = text.rfind('\n') + 1;
  const size_t first = text.find('\n');
  FUZZ_CHECK(sink.text.substr(sink.text.find('\n')) ==
             text.substr(first, whole - first));
  FUZZ_CHECK(manifest.torn_tail == (whole != text.size()));
  return 0;
}
