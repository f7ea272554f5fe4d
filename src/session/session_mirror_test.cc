#include "session/session_mirror.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "migrate/record_fields.h"
#include "migrate/run_manifest.h"
#include "session/run_session.h"
#include "session/undo_session.h"
#include "testing/golden.h"
#include "testing/mem_installation.h"
#include "util/md5.h"

namespace vm {
namespace {

constexpr const char* kUsers[] = {
    "u0", "u1", "u2", "u3", "v0@b.com", "v1@b.com", "v2@b.com", "w0@b.com"};

class SessionMirrorTest : public testing::Test {
 protected:
  SessionMirrorTest() {
    t_.PutSource("domain.ini", "a.com\r\nb.com\r\n");
    std::string users;
    for (const std::string user : kUsers) {
      users += user + (user[0] == 'u' ? "\tc\ta.com\r\n" : "\tc\tx\tb.com\r\n");
      const std::string box = "mail\\" + user + "\\";
      t_.PutSource(box + "1.in", user + " in");
      t_.PutSource(box + "2.sed", user + " sent");
      t_.PutSource(box + "Folders.ini", "Work\r\n");
      t_.PutSource(box + "3.0", user + " work");
    }
    t_.PutSource("popusers.ini", users);
    env_.disk = &t_.fs;
    env_.code_page = t_.code_page.get();
    env_.texts = &t_.texts;
    env_.clock = &t_.clock;
    env_.steady_seconds = [] { return 0.0; };
    env_.state = {"C:\\src", "C:\\t", "C:\\src\\mail", "C:\\t\\store", true};
    env_.record_dirs = {"C:\\records"};
    env_.version = "1.0.0";
    env_.code_page_name = "GBK";
    env_.config_states = t_.states.get();
  }

  const SessionResult& Run(SessionKind kind, bool mirror) {
    SessionOptions options;
    options.kind = kind;
    options.sync = true;
    options.mirror = mirror;
    t_.host.lines.clear();
    sessions_.push_back(std::make_unique<RunSession>(env_, options, nullptr));
    return sessions_.back()->Run(&t_.host);
  }
  // Every file below `dir`, "path=contents", sorted.
  std::string Tree(const std::string& dir) {
    std::vector<std::string> lines;
    std::vector<std::string> todo{dir};
    while (!todo.empty()) {
      const std::string at = todo.back();
      todo.pop_back();
      std::vector<DirEntry> entries;
      t_.fs.List(at + "\\*", &entries);
      for (const DirEntry& e : entries) {
        if (e.is_directory) todo.push_back(e.path);
        if (!e.is_directory) lines.push_back(e.path + "=" + t_.Read(e.path));
      }
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
  size_t Count(const std::string& part) {
    const std::string list = t_.ResultList();
    size_t n = 0;
    for (size_t at = 0; (at = list.find(part, at)) != std::string::npos; ++at) {
      ++n;
    }
    return n;
  }
  void RemoveSource(const std::string& name) {
    EXPECT_TRUE(t_.fs.RemoveFile("C:\\src\\mail\\" + name, nullptr)) << name;
  }

  // One account per kind of change (see the test below).
  void ChangeSource() {
    const std::string store = "C:\\t\\store\\";
    RemoveSource("u0\\1.in");
    RemoveSource("u1\\1.in");
    t_.PutSource("mail\\u1\\1.del", "u1 in");
    RemoveSource("u2\\1.in");
    t_.PutSource("mail\\u2\\1.0", "u2 in, edited");
    RemoveSource("u3\\1.in");
    t_.fs.FailPath("C:\\src\\mail\\u3");
    for (const char* user : {"v0@b.com", "v1@b.com"}) {
      t_.PutSource(std::string("mail\\") + user + "\\Folders.ini", "");
      RemoveSource(std::string(user) + "\\3.0");
    }
    t_.fs.WriteFile(store + "v1@b.com\\Work\\9.0", "foreign", nullptr);
    RemoveSource("v2@b.com\\1.in");
    t_.fs.WriteFile(store + "v2@b.com\\INBOX\\1.in", "edited on target",
                    nullptr);
    for (const char* name : {"1.in", "2.sed", "3.0", "Folders.ini"}) {
      RemoveSource(std::string("w0@b.com\\") + name);
    }
    ASSERT_TRUE(t_.fs.RemoveEmptyDir("C:\\src\\mail\\w0@b.com", nullptr));
  }

  MemInstallation t_;
  SessionEnvironment env_;
  std::vector<std::unique_ptr<RunSession>> sessions_;
};

// One account per kind of change between two passes, several to a domain:
// deleted, moved to Trash, moved to Work and changed, folder deleted (with
// and without another program's file in the target's copy), a target copy
// changed after the run, a source mailbox that cannot be listed, one that
// is gone. The preview counts what the pass then takes out; the pass takes
// out exactly the tool's unchanged copies whose source is gone, a second
// pass finds nothing more, and the undo gives back the target as it was.
TEST_F(SessionMirrorTest, TakesOutOnlyItsOwnGoneFilesAndTheUndoPutsThemBack) {
  ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
  const std::string store = "C:\\t\\store\\";
  ChangeSource();
  const std::string before = Tree("C:\\t\\store");

  Run(SessionKind::kPreview, true);
  EXPECT_EQ(Count("同步删除和移动将移走的邮件: 5 封，字节数: 41\n"), 1u)
      << t_.ResultList();
  EXPECT_EQ(Tree("C:\\t\\store"), before);

  Run(SessionKind::kMigrate, true);
  EXPECT_EQ(Tree("C:\\t\\store"), Golden("session/mirror_after.txt"));
  EXPECT_FALSE(t_.fs.Exists(store + "v0@b.com\\Work"));
  EXPECT_EQ(Count("         收件箱移走 1 封（源中已删除）\n"), 3u)
      << t_.ResultList();
  EXPECT_EQ(Count("         Work文件夹移走 1 封（源中已删除）\n"), 2u);
  EXPECT_EQ(
      Count("         收件箱保留 1 封（源中已删除，但不是本工具复制的原样）\n"),
      1u);
  EXPECT_EQ(Count("源中已没有该帐户的邮箱，未移走任何邮件:"), 1u);

  // Nothing new: nothing more goes.
  Run(SessionKind::kMigrate, true);
  EXPECT_EQ(Tree("C:\\t\\store"), Golden("session/mirror_after.txt"));
  EXPECT_EQ(Count("封（源中已删除）"), 0u) << t_.ResultList();

  // The runs: the migration, the mirror pass, the empty pass.
  const std::string runs = "C:\\t\\velquor-migrate-runs\\";
  std::vector<DirEntry> manifests;
  t_.fs.List(runs + "*.manifest", &manifests);
  ASSERT_EQ(manifests.size(), 3u);
  RunManifest pass;
  int bad_line = 0;
  ASSERT_EQ(ReadManifest(t_.Read(runs + "20231114T221320Z-2.manifest"), &pass,
                         &bad_line),
            ManifestStatus::kRead);
  UndoRequest undo;
  undo.disk = &t_.fs;
  undo.code_page = t_.code_page.get();
  undo.texts = &t_.texts;
  undo.config_states = t_.states.get();
  undo.target_dir = "C:\\t";
  const UndoResult undone = RunUndo(undo, pass);
  EXPECT_TRUE(undone.complete());
  EXPECT_EQ(Tree("C:\\t\\store"), before);
  EXPECT_FALSE(t_.fs.Exists(runs + "20231114T221320Z.held"));
}

// A manifest deleted after the index was written proves nothing: its
// part of the index must not be taken, though every other part stands
// and the manifest read since is small beside the index.
TEST_F(SessionMirrorTest, ManifestGoneSinceTheIndexProvesNothing) {
  ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
  ASSERT_TRUE(Run(SessionKind::kMigrate, true).clean);
  ChangeSource();
  std::vector<DirEntry> manifests;
  t_.fs.List("C:\\t\\velquor-migrate-runs\\*.manifest", &manifests);
  ASSERT_EQ(manifests.size(), 2u);
  // The first run's: "<start>.manifest", before the pass's "<start>-2".
  const DirEntry& first = manifests[0].name.find('-') == std::string::npos
                              ? manifests[0]
                              : manifests[1];
  ASSERT_TRUE(t_.fs.RemoveFile(first.path, nullptr));
  Run(SessionKind::kMigrate, true);
  EXPECT_EQ(Count("封（源中已删除）"), 0u) << t_.ResultList();
  EXPECT_EQ(Count("不是本工具复制的原样"), 6u);
}

// A copy the target lost and a later sync made again from a source file
// changed meanwhile has a record of each copy, and only the last proves
// the file. The manifests are read by name ("<start>-2", "<start>-3",
// then "<start>"): u0's proving record comes first, v0's in the middle.
TEST_F(SessionMirrorTest, ALaterRecordProvesWhatAnEarlierOneNoLongerDoes) {
  auto recopy = [this](const std::string& user, const std::string& text) {
    ASSERT_TRUE(
        t_.fs.RemoveFile("C:\\t\\store\\" + user + "\\INBOX\\1.in", nullptr));
    t_.PutSource("mail\\" + user + "\\1.in", text);
  };
  ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
  recopy("u0", "u0 in, longer now");
  recopy("v0@b.com", "v0 in, longer now");
  ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
  recopy("v0@b.com", "v0 in, longer again");
  ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
  RemoveSource("u0\\1.in");
  RemoveSource("v0@b.com\\1.in");
  Run(SessionKind::kMigrate, true);
  EXPECT_EQ(Count("封（源中已删除）"), 2u) << t_.ResultList();
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\u0\\INBOX\\1.in"));
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\v0@b.com\\INBOX\\1.in"));
}

// The index of the proofs (ProofIndex) as a pass may find it after an
// earlier mirror pass wrote it. Whatever it holds, the pass takes out what
// the manifests prove and nothing else, so the target ends as without an
// index. A forged line (proving another program's file, by its true
// stamp) in an index whose digest was not made for it, or in another
// target's index, must not take that file out; a manifest written after
// the index (a sync that copied 5.in, since deleted on the source) must
// take its file out, unless that manifest is damaged at its end: then it
// proves none of its records; a cut index must not be taken in part.
enum class IndexState {
  kCurrent,
  kMissing,
  kCut,
  kForged,
  kForeign,
  kStale,
  kStaleDamaged
};

class ProofIndexTest : public SessionMirrorTest,
                       public testing::WithParamInterface<IndexState> {};

TEST_P(ProofIndexTest, PassTakesOutWhatTheManifestsProve) {
  const std::string index = "C:\\t\\velquor-migrate-runs\\proof-index";
  ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
  ASSERT_TRUE(Run(SessionKind::kMigrate, true).clean);
  ASSERT_TRUE(t_.fs.Exists(index));
  const bool damaged = GetParam() == IndexState::kStaleDamaged;
  if (GetParam() == IndexState::kStale || damaged) {
    t_.PutSource("mail\\u0\\5.in", "u0 new");
    ASSERT_TRUE(Run(SessionKind::kMigrate, false).clean);
    RemoveSource("u0\\5.in");
  }
  if (damaged) {
    // The sync's manifest, the one that records 5.in.
    std::vector<DirEntry> manifests;
    t_.fs.List("C:\\t\\velquor-migrate-runs\\*.manifest", &manifests);
    int found = 0;
    for (const DirEntry& m : manifests) {
      const std::string text = t_.Read(m.path);
      if (text.find("\\5.in") == std::string::npos) continue;
      ++found;
      ASSERT_TRUE(t_.fs.WriteFile(m.path, text + "garbled\n", nullptr));
    }
    ASSERT_EQ(found, 1);
  }
  ChangeSource();
  std::string text = t_.Read(index);
  const std::string foreign = "C:\\t\\store\\v1@b.com\\Work\\9.0";
  FileStamp stamp;
  ASSERT_TRUE(t_.fs.StampOf(foreign, &stamp));
  const std::string forged =
      "file-stamp c:\\t\\store\\v1@b.com\\work\\9.0 " +
      std::to_string(stamp.size) + " " + std::to_string(stamp.file) + " " +
      TimeText(stamp.modified) + " " + TimeText(stamp.changed) + "\n";
  const size_t end = text.rfind("end ");
  switch (GetParam()) {
    case IndexState::kMissing:
      ASSERT_TRUE(t_.fs.RemoveFile(index, nullptr));
      break;
    case IndexState::kCut:
      text.resize(text.size() / 2);
      break;
    case IndexState::kForged:
      text.insert(end, forged);
      break;
    case IndexState::kForeign:
      text = text.substr(0, end) + forged;
      text.insert(text.find("\ndata-folder ") + 13, "9");
      text += "end " + Md5Hex(text) + "\n";
      break;
    default:
      break;
  }
  if (GetParam() != IndexState::kMissing) {
    ASSERT_TRUE(t_.fs.WriteFile(index, text, nullptr));
  }
  Run(SessionKind::kMigrate, true);
  std::string tree = Tree("C:\\t\\store");
  const std::string kept = "C:\\t\\store\\u0\\INBOX\\5.in=u0 new\n";
  const size_t at = tree.find(kept);
  EXPECT_EQ(at != std::string::npos, damaged) << tree;
  if (at != std::string::npos) tree.erase(at, kept.size());
  EXPECT_EQ(tree, Golden("session/mirror_after.txt"));
  EXPECT_EQ(t_.Read(index).find("\\work\\9.0 "), std::string::npos);
}

std::string RowName(const testing::TestParamInfo<IndexState>& row) {
  constexpr const char* kNames[] = {"Current",     "Missing", "Cut",
                                    "Forged",      "Foreign", "Stale",
                                    "StaleDamaged"};
  return kNames[static_cast<int>(row.param)];
}

INSTANTIATE_TEST_SUITE_P(
    States, ProofIndexTest,
    testing::Values(IndexState::kCurrent, IndexState::kMissing,
                    IndexState::kCut, IndexState::kForged, IndexState::kForeign,
                    IndexState::kStale, IndexState::kStaleDamaged),
    RowName);

}  // namespace
}  // namespace vm
