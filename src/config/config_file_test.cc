#include "config/config_file.h"

#include <gtest/gtest.h>

#include "config/config_test_util.h"

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
};

class ConfigFileTest : public testing::Test {
 protected:
  std::string Text(const ProbeFile& file) {
    return file.document().DocumentText();
  }
  int Reads() { return t_.fs.ReadCount(t_.Path("probe.cfg")); }
  int64_t CachedTime() { return SharedStateFor("probe.cfg").cached_time; }

  MemTarget t_;
};

TEST_F(ConfigFileTest, PathPrefersDataDirectory) {
  EXPECT_EQ(ProbeFile(&t_.context).path(), "C:\\target\\probe.cfg");
  t_.Put("probe.cfg", kGood);
  ASSERT_TRUE(t_.fs.CreateDir(t_.Path("data")));
  EXPECT_EQ(ProbeFile(&t_.context).path(), "C:\\target\\probe.cfg");
  t_.Put("data\\probe.cfg", kGood);
  EXPECT_EQ(ProbeFile(&t_.context).path(), "C:\\target\\data\\probe.cfg");
}

TEST_F(ConfigFileTest, UnchangedFileComesFromTheCache) {
  t_.fs.SetNow(100);
  t_.Put("probe.cfg", kGood);
  ProbeFile first(&t_.context);
  EXPECT_EQ(Text(first), kGood);
  EXPECT_EQ(Reads(), 1);
  EXPECT_EQ(CachedTime(), 100);

  ProbeFile second(&t_.context);
  EXPECT_EQ(Text(second), kGood);
  EXPECT_EQ(Reads(), 1);

  // An older time does not make the file read either.
  t_.fs.SetModifiedTime(t_.Path("probe.cfg"), 50);
  ProbeFile third(&t_.context);
  EXPECT_EQ(Reads(), 1);

  t_.Put("probe.cfg", kOther);
  t_.fs.SetModifiedTime(t_.Path("probe.cfg"), 101);
  ProbeFile fourth(&t_.context);
  EXPECT_EQ(Text(fourth), kOther);
  EXPECT_EQ(Reads(), 2);
  EXPECT_EQ(CachedTime(), 101);
}

TEST_F(ConfigFileTest, MissingOrEmptyFileGivesTheCachedDocument) {
  ProbeFile missing(&t_.context);
  EXPECT_EQ(Text(missing), "");
  EXPECT_FALSE(missing.doc().CheckWellFormed());

  t_.fs.SetNow(100);
  t_.Put("probe.cfg", kGood);
  ProbeFile good(&t_.context);
  t_.Put("probe.cfg", "");
  t_.fs.SetModifiedTime(t_.Path("probe.cfg"), 200);
  ProbeFile empty(&t_.context);
  EXPECT_EQ(Text(empty), kGood);
  EXPECT_EQ(CachedTime(), 100);
}

TEST_F(ConfigFileTest, IllFormedFileIsReadAgainEachTime) {
  const char kBad[] = "<database>\r\n<a>\r\n";
  t_.fs.SetNow(100);
  t_.Put("probe.cfg", kBad);
  ProbeFile first(&t_.context);
  EXPECT_EQ(Text(first), "");  // the earlier, empty, cached document
  EXPECT_EQ(CachedTime(), 0);

  ProbeFile second(&t_.context);
  EXPECT_EQ(Reads(), 2);
  EXPECT_EQ(Text(second), kBad);  // the failed parse, copied from the cache
  EXPECT_FALSE(second.doc().CheckWellFormed());

  // Once repaired, with the same time, the file is taken.
  t_.Put("probe.cfg", kGood);
  t_.fs.SetModifiedTime(t_.Path("probe.cfg"), 100);
  ProbeFile third(&t_.context);
  EXPECT_EQ(Text(third), kGood);
  EXPECT_EQ(CachedTime(), 100);
}

TEST_F(ConfigFileTest, SaveUpdatesCacheButNotItsTime) {
  t_.fs.SetNow(100);
  t_.Put("probe.cfg", kGood);
  ProbeFile store(&t_.context);
  ASSERT_TRUE(store.doc().LoadText(std::string(kOther)));
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
  EXPECT_EQ(CachedTime(), 100);

  // Same second: the saved document comes from the cache.
  int reads = Reads();
  ProbeFile same_second(&t_.context);
  EXPECT_EQ(Text(same_second), kOther);
  EXPECT_EQ(Reads(), reads);

  // Later: the file is read again.
  t_.fs.SetNow(101);
  ASSERT_TRUE(store.Save());
  ProbeFile later(&t_.context);
  EXPECT_EQ(Reads(), reads + 1);
  EXPECT_EQ(Text(later), kOther);
  EXPECT_EQ(CachedTime(), 101);
}

TEST_F(ConfigFileTest, FailedSaveChangesNothing) {
  t_.Put("probe.cfg", kGood);
  ProbeFile store(&t_.context);
  ASSERT_TRUE(store.doc().LoadText(std::string(kOther)));
  t_.fs.FailWritesAfter(10);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kGood);
  EXPECT_EQ(Text(ProbeFile(&t_.context)), kGood);  // cache unchanged
  EXPECT_EQ(Text(store), kOther);                  // document keeps edits

  t_.fs.FailWritesAfter(-1);
  EXPECT_TRUE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
}

TEST_F(ConfigFileTest, EmptyDocumentIsNeverSaved) {
  ProbeFile store(&t_.context);
  EXPECT_FALSE(store.Save());
  EXPECT_FALSE(t_.fs.Exists(t_.Path("probe.cfg")));
}

TEST_F(ConfigFileTest, RefusedReplaceFallsBackToRewriting) {
  t_.Put("probe.cfg", kGood);
  ProbeFile store(&t_.context);
  ASSERT_TRUE(store.doc().LoadText(std::string(kOther)));
  t_.fs.RefuseRename(true);
  EXPECT_TRUE(store.Save());
  EXPECT_EQ(t_.Get("probe.cfg"), kOther);
}

TEST_F(ConfigFileTest, CacheIsNotSharedBetweenTargets) {
  t_.Put("probe.cfg", kGood);
  ProbeFile first(&t_.context);
  ASSERT_TRUE(t_.fs.CreateDir("C:\\other"));
  ASSERT_TRUE(t_.fs.WriteFile("C:\\other\\probe.cfg", kOther, nullptr));
  t_.fs.SetModifiedTime("C:\\other\\probe.cfg", 0);  // not newer than cache
  TargetContext other = t_.context;
  other.target_dir = "C:\\other";
  ProbeFile second(&other);
  EXPECT_EQ(Text(second), kOther);
}

}  // namespace
}  // namespace vm
