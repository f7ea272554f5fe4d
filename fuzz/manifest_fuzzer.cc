// Reads arbitrary bytes as a run manifest. Whatever it is given, the reader
// answers with one of its three results, and a damaged line number within
// the text; what it accepts, written again, reads back as the same records,
// and a manifest of the current version is in the one spelling the writer
// gives, so writing it gives back the text up to its last whole line (an
// undo's marks after it aside).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "migrate/run_manifest.h"
#include "migrate/undone_mark.h"

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
  // An undo's marks after the run's bytes are no part of the run: the LF
  // before each is the mark's own, so the run's last line may be torn.
  std::string undone;
  const std::string_view run = vm::RunBytes(text, &undone);
  FUZZ_CHECK(manifest.undone == undone);
  const size_t whole = run.rfind('\n') + 1;
  FUZZ_CHECK(manifest.torn_tail == (whole != run.size()));
  // What the writer writes reads back as the same records, whatever the
  // version read (older ones name no code page and may write "/").
  vm::RunManifest again;
  FUZZ_CHECK(vm::ReadManifest(sink.text, &again, &bad_line) ==
             vm::ManifestStatus::kRead);
  FUZZ_CHECK(again.entries.size() == manifest.entries.size());
  for (size_t i = 0; i < again.entries.size(); ++i) {
    FUZZ_CHECK(again.entries[i].kind == manifest.entries[i].kind);
    FUZZ_CHECK(again.entries[i].name == manifest.entries[i].name);
  }
  // A manifest of the current version whose paths use the writer's one
  // separator is in the one spelling the writer gives: writing it gives
  // back its text up to its last whole line. (A "/" an editor wrote is
  // read as a separator and written back as "\\".)
  const std::string current =
      "velquor-migrate-manifest " + std::to_string(vm::kManifestVersion) + "\n";
  bool slash = false;
  for (const vm::ManifestEntry& entry : manifest.entries) {
    slash = slash || entry.path.find('/') != std::string::npos ||
            entry.held.find('/') != std::string::npos;
  }
  if (!slash && text.substr(0, current.size()) == current) {
    FUZZ_CHECK(sink.text == run.substr(0, whole));
  }
  return 0;
}
