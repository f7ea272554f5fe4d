#include "migrate/read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/mem_file_system.h"

namespace vm {
namespace {

// Tells which directories were listed, and lets a test wait for them.
class ListingFileSystem : public MemFileSystem {
 public:
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    bool ok = MemFileSystem::List(pattern, entries);
    std::lock_guard<std::mutex> lock(mutex_);
    listed_.insert(pattern.substr(0, pattern.rfind('\\')));
    changed_.notify_all();
    return ok;
  }
  void Prefetch(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    prefetched_.insert(path);
  }
  // False when the read-ahead stalls instead of reaching `count`.
  bool WaitForListed(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60),
                             [&] { return listed_.size() >= count; });
  }
  std::set<std::string> listed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return listed_;
  }
  std::set<std::string> prefetched() {
    std::lock_guard<std::mutex> lock(mutex_);
    return prefetched_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::string> listed_;
  std::set<std::string> prefetched_;
};

// Reads stay within the window past the run's place, and bring in the
// indexes but not the messages; those are only asked to be prefetched, when
// the copies read them, and nothing else is: not an index, an empty
// message, a folder, a file that is no message or a box the target has.
// Asked to, it lists the target mailboxes of the boxes it reads, with their
// folders, and no other.
TEST(ReadAheadTest, ReadsIndexesWithinTheWindowOfTheRun) {
  for (bool messages : {false, true}) {
    ReadAhead::Options options;
    options.window = 4;
    options.threads = 2;
    options.messages = messages;
    options.list_targets = !messages;
    ListingFileSystem fs;
    std::vector<std::string> names, boxes;
    std::set<std::string> expected;
    ASSERT_TRUE(fs.CreateDir("C:\\m", nullptr));
    for (int i = 0; i < 20; ++i) {
      names.push_back("u" + std::to_string(100 + i));
      boxes.push_back("C:\\m\\" + names.back());
      ASSERT_TRUE(fs.CreateDir(boxes.back(), nullptr));
      // Read before the run came: the first window; after it passed the
      // tenth: the window from there (the boxes it passed are not read).
      if (i < 4 || (i >= 10 && i < 14)) expected.insert(boxes.back());
    }
    ASSERT_TRUE(fs.WriteFile(boxes[0] + "\\__r_in.ini", "index", nullptr));
    for (const char* name : {"1.in", "2.SED", "3.7", "4.in", "notes.txt"}) {
      ASSERT_TRUE(fs.WriteFile(boxes[0] + "\\" + name,
                               name[0] == '4' ? "" : "message", nullptr));
    }
    ASSERT_TRUE(fs.CreateDir(boxes[0] + "\\5.in", nullptr));
    ASSERT_TRUE(fs.WriteFile(boxes[19] + "\\6.in", "message", nullptr));
    ASSERT_TRUE(fs.WriteFile(boxes[12] + "\\7.in", "message", nullptr));
    ASSERT_TRUE(fs.WriteFile(boxes[13] + "\\8.in", "message", nullptr));
    ASSERT_TRUE(fs.CreateDir("C:\\t", nullptr));
    for (int i : {1, 13, 16}) {
      const std::string target = "C:\\t\\u" + std::to_string(100 + i);
      options.targets[i] = target;
      for (const std::string& dir : {target, target + "\\INBOX"}) {
        ASSERT_TRUE(fs.CreateDir(dir, nullptr));
        if (i != 16 && options.list_targets) expected.insert(dir);
      }
      ASSERT_TRUE(fs.WriteFile(target + "\\INBOX\\1.in", "m", nullptr));
      ASSERT_TRUE(fs.WriteFile(target + "\\notes.txt", "n", nullptr));
    }
    {
      ReadAhead ahead(&fs, "C:\\m", names, options);
      ASSERT_TRUE(fs.WaitForListed(options.list_targets ? 6 : 4));
      ahead.Reached(boxes[10]);
      ahead.Reached(boxes[3]);  // never back
      ahead.Reached("C:\\m\\other");
      ahead.Reached("C:\\n\\u115");  // a name of its, in another folder
      ASSERT_TRUE(fs.WaitForListed(options.list_targets ? 12 : 8));
      // The listing of a box ahead is handed over once; none is kept for a
      // box the run has passed or one never read.
      MailboxListing listing;
      for (int i = 0; i < 6000 && !ahead.Take(boxes[12], &listing); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_TRUE(listing.listed);
      ASSERT_EQ(listing.entries.size(), 1u);
      EXPECT_EQ(listing.entries[0].path, boxes[12] + "\\7.in");
      EXPECT_FALSE(ahead.Take(boxes[12], &listing));
      EXPECT_FALSE(ahead.Take(boxes[3], &listing));
      EXPECT_FALSE(ahead.Take(boxes[19], &listing));
      EXPECT_EQ(listing.target, nullptr);  // u112's: the target has none
      // Asked to, a box the target has comes with its mailbox's listing.
      ASSERT_TRUE(ahead.Take(boxes[13], &listing));
      ASSERT_EQ(listing.target != nullptr, options.list_targets);
      if (listing.target != nullptr) {
        const TargetListing& target = *listing.target;
        EXPECT_EQ(target.box, "C:\\t\\u113");
        ASSERT_EQ(target.entries.size(), 2u);
        ASSERT_EQ(target.folders.size(), 2u);
        const size_t inbox = target.entries[0].name == "INBOX" ? 0 : 1;
        EXPECT_FALSE(target.folders[1 - inbox].has_value());
        ASSERT_TRUE(target.folders[inbox].has_value());
        ASSERT_EQ(target.folders[inbox]->size(), 1u);
        EXPECT_EQ((*target.folders[inbox])[0].path, "C:\\t\\u113\\INBOX\\1.in");
      }
    }
    EXPECT_EQ(fs.listed(), expected);
    EXPECT_EQ(fs.ReadCount(boxes[0] + "\\__r_in.ini"), 1);
    EXPECT_EQ(fs.ReadCount(boxes[0] + "\\1.in"), 0);
    const std::set<std::string> prefetched = {
        boxes[0] + "\\1.in", boxes[0] + "\\2.SED", boxes[0] + "\\3.7",
        boxes[12] + "\\7.in"};
    EXPECT_EQ(fs.prefetched(), messages ? prefetched : std::set<std::string>());
  }
}

}  // namespace
}  // namespace vm
