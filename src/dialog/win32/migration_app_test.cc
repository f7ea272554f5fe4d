#include "dialog/win32/migration_app.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/registry.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

class FakeRegistry : public Registry {
 public:
  // A key present with no values is `keys_[key]` empty.
  std::map<std::string, std::map<std::string, std::string>> keys_;

  bool ReadString(const std::string& key, const std::string& value,
                  std::string* result, bool* found) override {
    result->clear();
    *found = false;
    auto k = keys_.find(key);
    if (k == keys_.end()) return false;
    auto v = k->second.find(value);
    if (v != k->second.end()) {
      *result = v->second;
      *found = true;
    }
    return true;
  }
};

// Records what start-up asked of the windows, in order.
class RecordingShell : public StartUpShell {
 public:
  std::vector<std::string> events_;
  bool pick_result_ = false;
  std::string picked_folder_;
  std::string initial_;
  AppState dialog_state_;

  void ShowMessage(const std::string& text) override {
    events_.push_back("message:" + text);
  }
  bool PickFolder(std::string* folder, const std::string& initial) override {
    events_.push_back("pick");
    initial_ = initial;
    if (pick_result_) *folder = picked_folder_;
    return pick_result_;
  }
  void RunMainDialog(const AppState& state) override {
    events_.push_back("dialog");
    dialog_state_ = state;
  }
};

// The disk as start-up sees it: the target's view (none when `refuse`)
// writes to the same files, and every replace asked of the disk itself is
// counted.
class ViewedDisk : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    ++unconfined_writes;
    return base()->ReplaceContents(path, contents, error);
  }
  std::unique_ptr<FileSystem> Confined(const std::vector<std::string>&,
                                       std::string* error) override {
    if (!refuse) return std::make_unique<FileSystemWrapper>(base());
    *error = "a link";
    return nullptr;
  }
  int unconfined_writes = 0;
  bool refuse = false;
};

constexpr char kUtf8Charset[] =
    "<database>\r\n<charset>UTF-8</charset>\r\n</database>";

class MigrationAppTest : public testing::Test {
 protected:
  void SetUp() override {
    code_page_ = OpenCodePage("");
    ASSERT_NE(code_page_, nullptr);
    texts_.source_not_found = "source-not-found";
    texts_.target_not_found = "target-not-found";
    texts_.no_temporary_folder = "no-folder";
    texts_.target_too_old = "too-old";
    texts_.domain_ini_missing = "no-domain.ini";
    texts_.target_dir_missing = "no-target:";
    texts_.system_config_missing = "no-system.cfg:";
    texts_.target_in_source = "target-in-source";
    texts_.mail_store_overlaps_source = "store-in-source";
    texts_.target_unsafe = "unsafe";
    ASSERT_TRUE(fs_.CreateDir("C:\\Velquor", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\Velquor\\bin", nullptr));
    ASSERT_TRUE(fs_.WriteFile("C:\\Velquor\\bin\\domain.ini", "", nullptr));
    ASSERT_TRUE(fs_.WriteFile("C:\\Velquor\\bin\\popusers.ini", "", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\Tarnwick", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\Tarnwick\\data", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\Temp", nullptr));
  }

  void InstallSource() {
    registry_.keys_[kSourceServiceKey][kSourceImageValue] =
        "C:\\Velquor\\bin\\server.exe";
  }
  void InstallTarget(const std::string& prog_path) {
    registry_.keys_[kTargetServerKey][kTargetProgValue] = prog_path;
  }

  bool StartUp() {
    MigrationApp app(&registry_, &disk_, *code_page_, texts_, &shell_);
    bool result = app.StartUp();
    state_ = app.state();
    return result;
  }

  std::string Read(const std::string& path) {
    std::string text;
    fs_.ReadFile(path, &text, nullptr);
    return text;
  }

  FakeRegistry registry_;
  MemFileSystem fs_;
  ViewedDisk disk_{&fs_};
  std::unique_ptr<CodePage> code_page_;
  Texts texts_;
  RecordingShell shell_;
  AppState state_;
};

TEST_F(MigrationAppTest, MissingSourceKeyEndsBeforeTouchingAnything) {
  InstallTarget("C:\\Tarnwick");
  EXPECT_FALSE(StartUp());
  EXPECT_EQ(shell_.events_,
            std::vector<std::string>{"message:source-not-found"});
  EXPECT_FALSE(fs_.Exists("C:\\Tarnwick\\data\\domain.cfg"));
  EXPECT_FALSE(fs_.Exists("C:\\Tarnwick\\domain.cfg"));
}

// The service is read in the control set the system runs on first; the
// first control set answers only when that has no image path.
TEST_F(MigrationAppTest, CurrentControlSetIsReadBeforeControlSet001) {
  const std::string current = "C:\\Velquor\\bin\\server.exe";
  const std::string first = "D:\\Old\\server.exe";
  const struct {
    bool current_key;
    const char* current_value;  // null: the key has no ImagePath
    const char* expected_dir;
  } kCases[] = {
      {true, current.c_str(), "C:\\Velquor\\bin"},
      {true, nullptr, "D:\\Old"},
      {false, nullptr, "D:\\Old"},
  };
  for (const auto& c : kCases) {
    registry_.keys_.clear();
    shell_.events_.clear();
    InstallTarget("C:\\Tarnwick");
    registry_.keys_[kSourceServiceFallbackKey][kSourceImageValue] = first;
    if (c.current_key) registry_.keys_[kSourceServiceKey];
    if (c.current_value != nullptr) {
      registry_.keys_[kSourceServiceKey][kSourceImageValue] = c.current_value;
    }
    StartUp();
    EXPECT_EQ(state_.source_dir, c.expected_dir) << c.current_key;
  }
}

TEST_F(MigrationAppTest, InstalledTargetGetsSkeletonsAndTrimmedDirectories) {
  InstallSource();
  // A trailing backslash, as administrators leave it: the files go through
  // the untrimmed value, the directories are trimmed.
  InstallTarget("C:\\Tarnwick\\");
  ASSERT_TRUE(
      fs_.WriteFile("C:\\Tarnwick\\data\\system.cfg", kUtf8Charset, nullptr));
  ASSERT_TRUE(fs_.WriteFile("C:\\Tarnwick\\data\\userauth.cfg", "", nullptr));

  EXPECT_FALSE(StartUp());
  ASSERT_EQ(shell_.events_, std::vector<std::string>{"dialog"});
  const AppState& shown = shell_.dialog_state_;
  EXPECT_EQ(shown.source_dir, "C:\\Velquor\\bin");
  EXPECT_EQ(shown.source_mail_dir, "C:\\Velquor\\bin\\mail");
  EXPECT_EQ(shown.target_dir, "C:\\Tarnwick");
  EXPECT_EQ(shown.target_mail_dir, "C:\\Tarnwick\\store");
  EXPECT_TRUE(shown.target_installed);

  // The skeletons' bytes are StartupFilesTest's; here only their place.
  EXPECT_TRUE(fs_.Exists("C:\\Tarnwick\\data\\domain.cfg"));
  EXPECT_TRUE(fs_.Exists("C:\\Tarnwick\\data\\mailgroup.cfg"));
  // An existing file stays as it is, even empty.
  EXPECT_EQ(Read("C:\\Tarnwick\\data\\userauth.cfg"), "");
  EXPECT_FALSE(fs_.Exists("C:\\Tarnwick\\domain.cfg"));
  // Like every change to the target, the skeletons go through its view.
  EXPECT_EQ(disk_.unconfined_writes, 0);
}

// Every check comes before anything is written, and each message says
// what is wrong: no skeleton is left in a target that start-up refuses,
// nor under "\data" of the drive when ProgPath could not be read.
TEST_F(MigrationAppTest, RefusedStartUpWritesNothing) {
  const struct {
    const char* what;
    std::string prog_path;
    std::string system_cfg;  // written directly in each target folder
    std::string remove;      // a file taken away
    std::string message;
  } kCases[] = {
      {"too old", "C:\\Tarnwick", "<database><charset>gbk</charset></database>",
       "", "message:too-old"},
      {"no system.cfg", "C:\\Tarnwick", "", "",
       "message:no-system.cfg:C:\\Tarnwick\\data\\system.cfg"},
      {"no domain.ini", "C:\\Tarnwick", kUtf8Charset,
       "C:\\Velquor\\bin\\domain.ini", "message:no-domain.ini"},
      {"unreadable ProgPath", "", kUtf8Charset, "", "message:no-target:"},
      {"target inside the source", "C:\\Velquor\\bin\\t", kUtf8Charset, "",
       "message:target-in-source"},
      {"no view of the target", "C:\\Tarnwick", kUtf8Charset, "",
       "message:unsafe: a link"},
  };
  const std::string kTargets[] = {"C:\\Tarnwick", "C:\\Velquor\\bin\\t"};
  for (const auto& c : kCases) {
    for (const std::string& dir : kTargets) {
      fs_.RemoveFile(dir + "\\system.cfg", nullptr);
    }
    SetUp();
    ASSERT_TRUE(fs_.CreateDir("C:\\Velquor\\bin\\t", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\Velquor\\bin\\t\\data", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\data", nullptr));
    for (const std::string& dir : kTargets) {
      if (c.system_cfg.empty()) continue;
      ASSERT_TRUE(fs_.WriteFile(dir + "\\system.cfg", c.system_cfg, nullptr));
    }
    if (!c.remove.empty()) {
      ASSERT_TRUE(fs_.RemoveFile(c.remove, nullptr));
    }
    InstallSource();
    InstallTarget(c.prog_path);
    shell_.events_.clear();
    disk_.refuse = std::string(c.what) == "no view of the target";
    EXPECT_FALSE(StartUp());
    EXPECT_EQ(shell_.events_, std::vector<std::string>{c.message}) << c.what;
    for (const char* dir : {"C:\\Tarnwick\\data", "C:\\Velquor\\bin\\t\\data",
                            "C:\\data", "\\data"}) {
      EXPECT_FALSE(fs_.Exists(std::string(dir) + "\\domain.cfg")) << c.what;
    }
  }
}

TEST_F(MigrationAppTest, CancelledFolderPickerEndsWithItsMessage) {
  InstallSource();
  shell_.pick_result_ = false;
  EXPECT_FALSE(StartUp());
  EXPECT_EQ(shell_.events_,
            (std::vector<std::string>{"message:target-not-found", "pick",
                                      "message:no-folder"}));
  // The browser opens on the program's own file.
  ASSERT_GT(shell_.initial_.size(), 4u);
  EXPECT_EQ(shell_.initial_.substr(shell_.initial_.size() - 4), ".exe");
  EXPECT_FALSE(fs_.Exists("C:\\Temp\\domain.cfg"));
}

TEST_F(MigrationAppTest, TemporaryFolderTakesTheFilesDirectly) {
  InstallSource();
  shell_.pick_result_ = true;
  shell_.picked_folder_ = "C:\\Temp\\";
  EXPECT_FALSE(StartUp());
  ASSERT_EQ(shell_.events_, (std::vector<std::string>{
                                "message:target-not-found", "pick", "dialog"}));
  const AppState& shown = shell_.dialog_state_;
  EXPECT_FALSE(shown.target_installed);
  EXPECT_EQ(shown.target_dir, "C:\\Temp");
  EXPECT_EQ(shown.target_mail_dir, "C:\\Temp\\store");
  for (const char* name : {"domain.cfg", "userauth.cfg", "mailgroup.cfg"}) {
    EXPECT_TRUE(fs_.Exists(std::string("C:\\Temp\\") + name)) << name;
    EXPECT_FALSE(fs_.Exists(std::string("C:\\Temp\\data\\") + name)) << name;
  }
}

}  // namespace
}  // namespace vm
