#include "config/config_file.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/helpers/file_system_wrapper.h"
#include "testing/mem_target.h"

namespace vm {
namespace {

const char kGood[] = "<database>\r\n<a>1</a>\r\n</database>";
const char kOther[] = "<database>\r\n<a>2</a>\r\n</database>";

// A store of a file of its own, with its document open to the test.
class ProbeFile : public ConfigFile {
 public:
  explicit ProbeFile(TargetContext* context)
      : ConfigFile(context, "probe.cfg", "\\data\\probe.cfg", "\\probe.cfg") {}
  // The test uses the store from one thread only.
  XmlDocument& doc() NO_THREAD_SAFETY_ANALYSIS { return document_; }
  void Add() {
    MutexLock guard(&mutex_);
    NoteAddition();
  }
  std::string Text() const {
    MutexLock guard(&mutex_);
    return document_.DocumentText();
  }
};

class ConfigFileTest : public testing::Test {
 protected:
  int Reads() { return t_.mem.ReadCount(t_.Path("probe.cfg")); }
  int64_t CachedTime() { return t_.states->For("probe.cfg").cached_time; }

  MemTarget t_;
};

TEST_F(ConfigFileTest, PathPrefersDataDirectory) {
  EXPECT_EQ(ProbeFile(&t_.context).path(), "C:\\t\\probe.cfg");
  ASSERT_TRUE(t_.fs.CreateDir(t_.Path("data"), nullptr));
  t_.Put("data\\probe.cfg", kGood);
  EXPECT_EQ(ProbeFile(&t_.context).path(), "C:\\t\\data\\probe.cfg");
}

TEST_F(ConfigFileTest, FileIsReadOnlyWhenNewerThanTheCache) {
  t_.mem.SetNow(100);
  t_.Put("probe.cfg", kGood);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kGood);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kGood);
  EXPECT_EQ(Reads(), 1);
  t_.Put("probe.cfg", kOther);
  t_.mem.SetModifiedTime(t_.Path("probe.cfg"), 50);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kGood);
  t_.mem.SetModifiedTime(t_.Path("probe.cfg"), 101);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kOther);
  EXPECT_EQ(CachedTime(), 101);
  // An empty file gives the cached document.
  t_.Put("probe.cfg", "");
  t_.mem.SetModifiedTime(t_.Path("probe.cfg"), 200);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kOther);
  // Another target has caches of its own.
  ASSERT_TRUE(t_.fs.CreateDir("C:\\other", nullptr));
  ASSERT_TRUE(t_.fs.WriteFile("C:\\other\\probe.cfg", kGood, nullptr));
  t_.mem.SetModifiedTime("C:\\other\\probe.cfg", 0);
  TargetContext other = t_.context;
  other.target_dir = "C:\\other";
  EXPECT_EQ(ProbeFile(&other).Text(), kGood);
}

// A file over the cache limit is held by its store alone, so each store
// reads it; the store knows its saved text only by size and digest, and
// still sees a change by another writer that keeps the size.
TEST_F(ConfigFileTest, LargeFileIsNotCachedAndSameSizeChangesAreSeen) {
  t_.mem.SetNow(100);
  const std::string big = "<database>\r\n<a>1</a>\r\n" +
                          std::string(kCachedTextLimit, ' ') + "</database>";
  t_.Put("probe.cfg", big);
  ProbeFile first(&t_.context);
  ProbeFile second(&t_.context);
  EXPECT_EQ(Reads(), 2);
  EXPECT_EQ(second.Text(), big);
  std::string changed = big;
  changed[changed.find('1')] = '2';
  t_.Put("probe.cfg", changed);
  first.Add();
  EXPECT_FALSE(first.Save());
  EXPECT_EQ(first.last_save_error().failure, SaveFailure::kUnmergeable);
  EXPECT_EQ(ReadFileText(&t_.fs, t_.Path("probe.cfg")), changed);
}

TEST_F(ConfigFileTest, IllFormedFileIsReadAgainEachTime) {
  const char kBad[] = "<database>\r\n<a>\r\n";
  t_.mem.SetNow(100);
  t_.Put("probe.cfg", kBad);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), "");  // the cached empty one
  ProbeFile second(&t_.context);
  EXPECT_EQ(Reads(), 2);
  EXPECT_FALSE(second.doc().CheckWellFormed());
  t_.Put("probe.cfg", kGood);
  t_.mem.SetModifiedTime(t_.Path("probe.cfg"), 100);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kGood);
}

TEST_F(ConfigFileTest, SaveUpdatesTheCacheButNotItsTime) {
  t_.mem.SetNow(100);
  t_.Put("probe.cfg", kGood);
  ProbeFile store(&t_.context);
  ASSERT_TRUE(store.doc().LoadText(std::string(kOther)));
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
  EXPECT_EQ(CachedTime(), 100);
  const int reads = Reads();
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kOther);
  EXPECT_EQ(Reads(), reads);
  t_.mem.SetNow(101);
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kOther);
  EXPECT_EQ(Reads(), reads + 2);  // the save's look at the file, the load
}

// Each failed save changes nothing and says why.
TEST_F(ConfigFileTest, FailedSaveChangesNothingAndSaysWhy) {
  t_.Put("probe.cfg", kGood);
  ProbeFile store(&t_.context);
  ASSERT_TRUE(store.doc().LoadText(std::string(kOther)));
  auto why = [&store] {
    const SaveError e = store.last_save_error();
    return std::make_pair(e.failure, e.file.kind);
  };
  t_.fs.FailWritesAfter(10);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(why(),
            std::make_pair(SaveFailure::kWrite, FileErrorKind::kNoSpace));
  EXPECT_EQ(t_.Get("probe.cfg"), kGood);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kGood);  // cache unchanged
  EXPECT_EQ(store.Text(), kOther);                  // document keeps edits
  t_.fs.FailWritesAfter(-1);
  t_.fs.RefuseRename(true);  // a refused replace falls back to rewriting
  EXPECT_TRUE(store.Save());
  EXPECT_EQ(why().first, SaveFailure::kNone);
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
  t_.fs.RefuseRename(false);
  // Changed by another writer: into a file that does not parse, or into
  // one that cannot be read to merge with.
  t_.Put("probe.cfg", "<database>\r\n<a>");
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(why().first, SaveFailure::kUnmergeable);
  t_.fs.FailPath(t_.Path("probe.cfg"));
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(why(), std::make_pair(SaveFailure::kUnreadable,
                                  FileErrorKind::kPermission));
  // The file's lock not had: the wait was ended (as a timeout ends it).
  t_.states->For("probe.cfg").named_lock.InterruptWaits();
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(why().first, SaveFailure::kLockTimeout);
  ProbeFile empty(&t_.context);
  empty.doc().LoadText("");
  EXPECT_FALSE(empty.Save());
  EXPECT_EQ(empty.last_save_error().failure, SaveFailure::kNothingLoaded);
}

// A run clock in milliseconds that each save moves on by what it costs.
class SlowSaves : public FileSystemWrapper, public Clock {
 public:
  explicit SlowSaves(FileSystem* base) : FileSystemWrapper(base) {}
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    now_ms += save_ms;
    return FileSystemWrapper::ReplaceContents(path, contents, error);
  }
  int64_t NowSeconds() const override { return now_ms / 1000; }
  int64_t MonotonicMicros() const override { return now_ms * 1000; }
  int64_t now_ms = 1000;
  int64_t save_ms = 0;
};

// A slow save (a flush behind a volume busy with copies) makes the next
// wait nine times its time, never less than the group-commit time nor more
// than its limit; a quick one brings the wait back.
TEST_F(ConfigFileTest, GroupCommitWaitGrowsWithTheSaveTime) {
  t_.Put("probe.cfg", kGood);
  SlowSaves slow(&t_.fs);
  TargetContext context = t_.context;
  context.fs = &slow;
  context.clock = &slow;
  ProbeFile store(&context);
  struct Step {
    int64_t at_ms, save_ms;
    bool saved;
  } steps[] = {
      {1250, 100, true},   // 250 after the load; ends at 1350: next waits 900
      {1650, 10, false},   // 300 after
      {2249, 10, false},   // 899 after
      {2250, 10, true},    // ends at 2260: the next waits 250
      {2450, 10, false},   // 190 after
      {2510, 1000, true},  // ends at 3510: the wait stops at 5000
      {8509, 10, false},  {8510, 10, true},
  };
  for (const Step& step : steps) {
    slow.now_ms = step.at_ms;
    slow.save_ms = step.save_ms;
    store.Add();
    EXPECT_TRUE(store.SaveIfDue());
    EXPECT_EQ(store.HasPending(), !step.saved) << step.at_ms;
  }
}

}  // namespace
}  // namespace vm
