#ifndef VM_TESTING_RECORDED_RUN_H_
#define VM_TESTING_RECORDED_RUN_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "migrate/run_manifest.h"
#include "testing/mem_installation.h"

namespace vm {

// A manifest's bytes kept in memory.
class StringSink : public ManifestSink {
 public:
  bool Append(std::string_view bytes) override {
    text.append(bytes);
    return true;
  }
  bool Flush() override { return true; }
  std::string text;
};

// Runs a migration on `t` that must succeed and returns its manifest as an
// undo reads it back.
inline RunManifest MigrateRecorded(MemInstallation* t) {
  StringSink sink;
  ManifestHeader header;
  header.target_dir = t->context.target_dir;
  header.code_page = "GBK";
  ManifestWriter writer(&sink, header);
  t->settings.manifest = &writer;
  const RunOutcome outcome =
      MigrationRun(&t->host, t->texts, t->settings, &t->context, &t->stats);
  t->settings.manifest = nullptr;
  EXPECT_TRUE(outcome.succeeded);
  RunManifest manifest;
  int bad_line = 0;
  EXPECT_EQ(ReadManifest(sink.text, &manifest, &bad_line),
            ManifestStatus::kRead);
  return manifest;
}

}  // namespace vm

#endif  // VM_TESTING_RECORDED_RUN_H_
