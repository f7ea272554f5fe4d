// Passwords that follow the source in a mirror pass, the accounts and
// domains gone from it, and the undo of such a pass, against the real run
// and stores over an in-memory installation.

#include "migrate/password_follow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/undo_choices.h"
#include "migrate/undo_run.h"
#include "platform/helpers/file_system_wrapper.h"
#include "testing/golden.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

using testing::HasSubstr;
using testing::Not;

// Counts the saves of userauth.cfg.
class SaveCounter : public FileSystemWrapper {
 public:
  explicit SaveCounter(FileSystem* base) : FileSystemWrapper(base) {}
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    if (path.ends_with("userauth.cfg")) ++saves;
    return FileSystemWrapper::ReplaceContents(path, contents, error);
  }
  int saves = 0;
};

// ann, bob, cy and dan in a.com, eve in b.com; the second field is the
// source's password.
constexpr char kDomains[] = "a.com\r\nb.com\r\n";
constexpr char kUsers[] =
    "ann\tp1\ta.com\r\nbob\tq1\ta.com\r\ncy\tr1\ta.com\r\ndan\ts1\ta.com\r\n"
    "eve\tt1\tb.com\r\n";
// Since: ann's and cy's passwords changed, dan and b.com (with eve) went.
constexpr char kUsersLater[] =
    "ann\tp2\ta.com\r\nbob\tq1\ta.com\r\ncy\tr2\ta.com\r\n";

// A target migrated once from kUsers, each run recording its manifest in
// the target's run records, as a run without a report of its own does.
class MirroredTarget {
 public:
  MirroredTarget() {
    t.settings.passwords.mode = PasswordMode::kSourceCipherText;
    t.fs.CreateDir(t.settings.target_mail_dir, nullptr);
    Source(kDomains, kUsers);
    EXPECT_TRUE(Pass(false).succeeded) << t.ResultList();
  }

  void Source(const std::string& domains, const std::string& users) {
    t.PutSource("domain.ini", domains);
    t.PutSource("popusers.ini", users);
  }

  RunOutcome Pass(bool mirror, FileSystem* fs = nullptr) {
    t.NewRun();
    const std::string folder = RunRecordsFolder(&t.fs, MemTarget::kDir);
    t.fs.MakeDir(folder, nullptr);
    ManifestHeader header;
    header.target_dir = MemTarget::kDir;
    header.code_page = "GBK";
    FileLocation where;
    EXPECT_TRUE(t.fs.Locate(MemTarget::kDir, &where));
    header.data_folder = where.chain.front();
    manifest = folder + "\\" + std::to_string(++passes) + ".manifest";
    AppendingFileSink sink(&t.fs, manifest);
    ManifestWriter writer(&sink, header);
    t.settings.manifest = &writer;
    t.settings.mirror = mirror;
    t.settings.sync = mirror || t.settings.sync;
    t.context.fs = fs != nullptr ? fs : &t.fs;
    const RunOutcome outcome =
        MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats);
    t.context.fs = &t.fs;
    EXPECT_TRUE(writer.Flush());
    t.settings.manifest = nullptr;
    return outcome;
  }

  // The last pass's manifest; without its password confirmations, as a
  // kill after the save but before their flush leaves it.
  RunManifest Manifest(bool confirmed = true) {
    RunManifest read;
    int bad_line = 0;
    EXPECT_EQ(ReadManifest(t.Read(manifest), &read, &bad_line),
              ManifestStatus::kRead);
    std::erase_if(read.entries, [confirmed](const ManifestEntry& e) {
      return !confirmed && e.kind == ManifestEntry::Kind::kPassword &&
             e.step == ManifestEntry::Step::kSaved;
    });
    return read;
  }

  int PasswordRecords() {
    int count = 0;
    for (const ManifestEntry& e : Manifest().entries) {
      count += e.kind == ManifestEntry::Kind::kPassword;
    }
    return count;
  }

  // The undo of `m`'s lines, UTF-8.
  std::string Undo(const RunManifest& m) {
    t.NewRun();
    const UndoResult result = UndoRun(m, &t.context, t.settings.target_mail_dir,
                                      t.texts, false, nullptr);
    std::string text;
    for (const UndoItem& item : result.items) {
      text += t.code_page->ToUtf8(UndoLine(t.texts, item, false)) + "\n";
    }
    return text;
  }

  // An administrator's edit of one user's item (its name field gets a
  // full name after it).
  void Edit(const std::string& user) {
    std::string text = t.Get("userauth.cfg");
    const std::string name = "<name>" + user + "</name>";
    text.replace(text.find(name), name.size(),
                 name + "\r\n<fullname>" + user + "</fullname>");
    t.Put("userauth.cfg", text);
  }

  MemInstallation t;
  int passes = 0;
  std::string manifest;
};

// Only an untouched item whose password changed is rewritten, in its
// password field alone; an edited one is listed and left; an unchanged
// one is not touched; what the source lost is listed and stays. The undo
// gives back the file byte for byte, and the next pass (two runs on one
// target) rewrites it again; a pass after that has nothing to do and does
// not save.
TEST(PasswordFollowTest, MirrorPassRewritesOnlyUntouchedItems) {
  MirroredTarget m;
  m.Source("a.com\r\n", kUsersLater);
  m.Edit("cy");
  const std::string before = m.t.Get("userauth.cfg");
  ASSERT_TRUE(m.Pass(true).succeeded) << m.t.ResultList();
  EXPECT_EQ(m.t.Get("userauth.cfg"), Golden("migrate/userauth_mirrored.cfg"));
  const std::string list = m.t.ResultList();
  for (const char* line :
       {"已同步源中修改的密码:ann@a.com\n",
        "帐户 cy@a.com 的密码在目标中已被修改，未同步\n",
        "源中已不存在的帐户:dan@a.com\n", "源中已不存在的帐户:eve@b.com\n",
        "源中已不存在的域名:b.com\n"}) {
    EXPECT_THAT(list, HasSubstr(line));
  }
  EXPECT_THAT(list, Not(HasSubstr("密码:bob@a.com")));
  EXPECT_THAT(list, Not(HasSubstr("{md5}")));
  EXPECT_EQ(m.t.stats.passwords_followed, 1);
  EXPECT_EQ(m.t.stats.passwords_kept, 1);
  EXPECT_EQ(m.t.stats.gone_accounts, 2);
  EXPECT_EQ(m.t.stats.gone_domains, 1);
  EXPECT_TRUE(m.t.fs.Exists(m.t.Path("velquor-migrate-runs\\1.manifest")));

  EXPECT_EQ(m.Undo(m.Manifest()), "已恢复原密码:ann@a.com\n");
  EXPECT_EQ(m.t.Get("userauth.cfg"), before);
  ASSERT_TRUE(m.Pass(true).succeeded);
  EXPECT_EQ(m.t.Get("userauth.cfg"), Golden("migrate/userauth_mirrored.cfg"));

  SaveCounter counter(&m.t.fs);
  ASSERT_TRUE(m.Pass(true, &counter).succeeded);
  EXPECT_EQ(counter.saves, 0);
  EXPECT_EQ(m.t.stats.passwords_followed, 0);
  EXPECT_EQ(m.t.stats.passwords_kept, 1);
  EXPECT_EQ(m.PasswordRecords(), 0);
}

// Without --mirror, or when the run does not make passwords from the
// source's own (a sync with the default option), nothing is rewritten.
TEST(PasswordFollowTest, OnlyAMirrorOfSourcePasswordsRewrites) {
  for (const bool mirror : {false, true}) {
    MirroredTarget m;
    m.Source(kDomains, kUsersLater);
    if (mirror) m.t.settings.passwords.mode = PasswordMode::kSameAsUserName;
    const std::string before = m.t.Get("userauth.cfg");
    m.t.settings.sync = true;
    ASSERT_TRUE(m.Pass(mirror).succeeded);
    EXPECT_EQ(m.t.Get("userauth.cfg"), before) << mirror;
    EXPECT_EQ(m.t.stats.passwords_followed, 0);
  }
}

// The undo of a pass puts back only what is still as the pass left it,
// also after a kill between the record and the save, or between the save
// and its confirmation; a record that would write more is refused.
TEST(PasswordFollowTest, UndoRestoresOnlyWhatThePassLeft) {
  const struct {
    const char* name;
    bool confirmed;  // the manifest holds the save's confirmation
    bool saved;      // the save was made
    bool edited;     // ann's item changed after the pass
    bool forged;     // the record's item before holds more than a password
    const char* line;
  } kCases[] = {
      {"untouched", true, true, false, false, "已恢复原密码:ann@a.com\n"},
      {"edited", true, true, true, false,
       "已保留:ann@a.com（运行后该项已被改动）\n"},
      {"killed before the save", false, false, false, false,
       "运行中断前未修改密码，无需恢复:ann@a.com\n"},
      {"killed before the confirmation", false, true, false, false,
       "已恢复原密码:ann@a.com\n"},
      {"forged", true, true, false, true,
       "已保留:ann@a.com（运行清单中的该记录不只是修改密码，不能据此恢复）\n"},
  };
  for (const auto& c : kCases) {
    MirroredTarget m;
    m.Source(kDomains, "ann\tp2\ta.com\r\nbob\tq1\ta.com\r\n");
    const std::string before = m.t.Get("userauth.cfg");
    ASSERT_TRUE(m.Pass(true).succeeded);
    ASSERT_EQ(m.PasswordRecords(), 2) << c.name;
    RunManifest manifest = m.Manifest(c.confirmed);
    for (ManifestEntry& e : manifest.entries) {
      if (c.forged && e.kind == ManifestEntry::Kind::kPassword &&
          e.step == ManifestEntry::Step::kIntent) {
        e.item.element.insert(e.item.element.find("<mailquota>"),
                              "<authtype>9</authtype>\r\n");
      }
    }
    if (!c.saved) m.t.Put("userauth.cfg", before);
    if (c.edited) m.Edit("ann");
    const std::string left = m.t.Get("userauth.cfg");
    EXPECT_EQ(m.Undo(manifest), c.line) << c.name;
    const bool restored = c.saved && !c.edited && !c.forged;
    EXPECT_EQ(m.t.Get("userauth.cfg"), restored ? before : left) << c.name;
  }
}

// The store's save re-checks a rewrite against the file another writer
// changed meanwhile: the other writer's user is kept beside the rewrite,
// and an item the other writer changed is left as that writer made it.
TEST(PasswordFollowTest, RewriteIsMergedWithAnotherWritersSave) {
  const std::string ann =
      "<item>\r\n<name>ann</name>\r\n<domain>a.com</domain>\r\n<password>a</"
      "password>\r\n</item>";
  const std::string ann2 =
      "<item>\r\n<name>ann</name>\r\n<domain>a.com</domain>\r\n<password>b</"
      "password>\r\n</item>";
  const std::string head = "<database>\r\n<user>\r\n";
  const std::string tail = "\r\n</user>\r\n</database>";
  const std::string bob = "\r\n<item>\r\n<name>bob</name>\r\n</item>";
  const struct {
    std::string other;  // the file as the other writer left it
    std::string saved;  // as the save leaves it
    ReplacementOutcome outcome;
  } kCases[] = {
      {head + ann + bob + tail, head + ann2 + bob + tail,
       ReplacementOutcome::kReplaced},
      {head +
           "<item>\r\n<name>ann</name>\r\n<domain>a.com</"
           "domain>\r\n<password>c</password>\r\n</item>" +
           tail,
       head +
           "<item>\r\n<name>ann</name>\r\n<domain>a.com</"
           "domain>\r\n<password>c</password>\r\n</item>" +
           tail,
       ReplacementOutcome::kChanged},
  };
  for (const auto& c : kCases) {
    MemTarget t;
    t.Put("userauth.cfg", head + ann + tail);
    UserStore users(&t.context);
    const auto found = users.FindUsers({{"ann", "a.com"}, {"bob", "a.com"}});
    ASSERT_EQ(found[0].item, ann);
    EXPECT_EQ(found[0].password, "a");
    EXPECT_EQ(found[1].item, "");
    EXPECT_EQ(WithPassword(ann, "b"), ann2);
    EXPECT_EQ(users.ReplaceUsers({{ann, ann2}}),
              std::vector<ReplacementOutcome>{ReplacementOutcome::kReplaced});
    t.Put("userauth.cfg", c.other);
    ASSERT_TRUE(users.SavePending());
    EXPECT_EQ(users.TakeSavedReplacements(),
              std::vector<ReplacementOutcome>{c.outcome});
    EXPECT_EQ(t.Get("userauth.cfg"), c.saved);
  }
}

}  // namespace
}  // namespace vm
