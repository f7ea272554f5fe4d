#include "config/config_file.h"

#include <gtest/gtest.h>

#include "tests/support/mem_target.h"

namespace vm {
namespace {

const char kGood[] = "<database>\r\n<a>1</a>\r\n</database>";
const char kOther[] = "<database>\r\n<a>2</a>\r\n</database>";

// A store of a file of its own, with its document open to the test.
class ProbeFile : public ConfigFile {
 public:
  explicit ProbeFile(TargetContext* context)
      : ConfigFile(context, "probe.cfg", "\\data\\probe.cfg", "\\probe.cfg") {}
  XmlDocument& doc() { return document_; }
  std::string Text() const { return document_.DocumentText(); }
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

TEST_F(ConfigFileTest, FailedSaveChangesNothing) {
  t_.Put("probe.cfg", kGood);
  ProbeFile store(&t_.context);
  ASSERT_TRUE(store.doc().LoadText(std::string(kOther)));
  t_.fs.FailWritesAfter(10);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kGood);
  EXPECT_EQ(ProbeFile(&t_.context).Text(), kGood);  // cache unchanged
  EXPECT_EQ(store.Text(), kOther);                  // document keeps edits
  t_.fs.FailWritesAfter(-1);
  t_.fs.RefuseRename(true);  // a refused replace falls back to rewriting
  EXPECT_TRUE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
  ProbeFile empty(&t_.context);
  empty.doc().LoadText("");
  EXPECT_FALSE(empty.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
}

}  // namespace
}  // namespace vm
