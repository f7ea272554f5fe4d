#include "migrate/manifest_scope.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "util/name_ops.h"

namespace vm {
namespace {

// Catches an undo that trusts a manifest's paths: each row is a folder or
// file line a hostile or damaged manifest could hold, and whether the undo
// may touch it (then under the store as the undo spells the target).
TEST(ManifestScopeTest, OnlyPlainPathsBelowTheRunsStoreAreTouched) {
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  const NameOps names(gbk->LeadBytes());
  const Texts texts = MakeTexts(*gbk);
  struct Row {
    std::string path;
    std::string touched;  // empty: kept as outside the target
  } rows[] = {
      {"/t\\store\\bob\\INBOX\\1.in", "/u\\store\\bob\\INBOX\\1.in"},
      {"/t\\store\\bob", "/u\\store\\bob"},
      // A double-byte name whose second byte is a backslash stays one part.
      {"/t\\store\\\x95\\\\INBOX", "/u\\store\\\x95\\\\INBOX"},
      {"/etc/victim.txt", ""},
      {"/t\\store", ""},
      {"/t\\store2\\bob", ""},
      {"/t\\store\\..\\..\\outside\\x", ""},
      {"/t\\store\\bob\\.\\INBOX", ""},
      {"/t\\store\\\\bob", ""},
      {"/t\\store\\bob/../../x", ""},
      // A manifest writes every separator as a backslash.
      {"\\t\\store\\cy\\INBOX", "/u\\store\\cy\\INBOX"},
      {"\\t\\store\\cy/Sent", "/u\\store\\cy\\Sent"},
      {"/t\\store\\bob\\", ""},
  };
  RunManifest manifest;
  manifest.header.target_dir = "/t";
  ManifestEntry account;
  account.kind = ManifestEntry::Kind::kAccount;
  account.name = "bob";
  manifest.entries.push_back(account);
  for (const Row& row : rows)
    manifest.entries.push_back(DirectoryEntry(row.path));
  // The undo names the same target by another spelling.
  const std::string run_store =
      RecordedStore(manifest, "/u", "/u\\store", names);
  EXPECT_EQ(run_store, "/t\\store");
  const std::vector<UndoItem> outside =
      ScopeManifest(&manifest, run_store, "/u\\store", names, texts);

  std::vector<std::string> touched, kept;
  for (const ManifestEntry& e : manifest.entries) {
    if (e.kind == ManifestEntry::Kind::kDirectory) touched.push_back(e.path);
  }
  for (const UndoItem& item : outside) {
    EXPECT_EQ(item.outcome, UndoOutcome::kKept);
    EXPECT_EQ(item.reason, texts.undo_outside_target);
    kept.push_back(item.what);
  }
  std::vector<std::string> want_touched, want_kept;
  for (const Row& row : rows) {
    (row.touched.empty() ? want_kept : want_touched)
        .push_back(row.touched.empty() ? row.path : row.touched);
  }
  EXPECT_EQ(touched, want_touched);
  EXPECT_EQ(kept, want_kept);
  // Accounts and domains are names, not paths: they stay.
  EXPECT_EQ(manifest.entries.front().kind, ManifestEntry::Kind::kAccount);
}

}  // namespace
}  // namespace vm
