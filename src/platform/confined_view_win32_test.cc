// The view confined to a target's folders, on the real disk: links placed
// where a run expects folders and files, "..", roots not made yet, and a
// folder renamed while an operation uses a path through it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/file_error.h"
#include "platform/file_system.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

// Under Wine, the Unix name of `path` (its folder must exist); empty
// elsewhere.
std::wstring UnixName(const fs::path& path) {
  using Convert = char* (*)(const wchar_t*);
  auto convert =
      reinterpret_cast<Convert>(reinterpret_cast<void*>(GetProcAddress(
          GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return std::wstring();
  char* name = convert(path.parent_path().c_str());
  std::wstring unix_name =
      fs::path(name).wstring() + L"/" + path.filename().wstring();
  HeapFree(GetProcessHeap(), 0, name);
  return unix_name;
}

// Runs a Unix program, as Wine lets a Windows program do, and waits until
// `done` holds: Wine's process handle for a Unix program may be signalled
// before the program has finished.
void RunUnix(const wchar_t* program, std::wstring command,
             const std::function<bool()>& done) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  ASSERT_TRUE(CreateProcessW(program, command.data(), nullptr, nullptr, FALSE,
                             0, nullptr, nullptr, &startup, &process));
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  for (int i = 0; i < 1000 && !done(); ++i) Sleep(10);
}

bool IsLink(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Makes `link` a symbolic link to the folder `target`. Wine makes no
// Windows link (CreateSymbolicLinkW reports success and makes nothing;
// FSCTL_SET_REPARSE_POINT fails), so there the link is a Unix one, which
// Wine shows by name as a reparse point when it leads to a folder. False
// when no link can be made.
bool MakeFolderLink(const fs::path& link, const fs::path& target) {
  if (UnixName(link).empty()) {
    CreateSymbolicLinkW(link.c_str(), target.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY |
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  } else {
    RunUnix(
        L"Z:\\bin\\ln",
        L"/bin/ln -s \"" + UnixName(target) + L"\" \"" + UnixName(link) + L"\"",
        [&] { return IsLink(link); });
  }
  return IsLink(link);
}

// Removes the tree without following its links (Windows code under Wine
// would take a Unix link for a folder and empty its target).
void RemoveTree(const fs::path& top) {
  if (!fs::exists(top)) return;  // no program left running behind
  if (UnixName(top).empty()) {
    fs::remove_all(top);
  } else {
    RunUnix(L"Z:\\bin\\rm", L"/bin/rm -rf \"" + UnixName(top) + L"\"",
            [&] { return !fs::exists(top); });
  }
}

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

class ConfinedViewTest : public testing::Test {
 protected:
  void SetUp() override {
    top_ = fs::temp_directory_path() /
           ("vm_confined_" + std::to_string(GetCurrentProcessId()));
    RemoveTree(top_);
    Put(top_ / "outside" / "victim.txt", "victim");
    Put(top_ / "outside" / "sub" / "x.in", "x");
    Put(top_ / "source.in", "message");
    fs::create_directories(top_ / "T" / "data");
    Put(top_ / "T" / "store" / "ann" / "INBOX" / "3.in", "mine");
  }
  void TearDown() override { RemoveTree(top_); }

  std::string At(const std::string& relative) const {
    return top_.string() + "\\" + relative;
  }
  std::unique_ptr<FileSystem> View(std::string* error = nullptr) {
    return disk_->Confined({At("T\\data"), At("T\\store")}, error);
  }
  // Every file outside the target with its bytes.
  std::map<std::string, std::string> Outside() const {
    std::map<std::string, std::string> files;
    for (const auto& entry :
         fs::recursive_directory_iterator(top_ / "outside")) {
      std::ifstream in(entry.path(), std::ios::binary);
      files[entry.path().string()] = std::string(
          std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
  }

  fs::path top_;
  std::unique_ptr<FileSystem> disk_ = NewDiskFileSystem();
};

// A link at a mailbox, a folder in it, a message name, a staging name or
// the folder of the run records (where a mirror's holding folder goes):
// no operation follows, removes or renames it, moves a file through it or
// into it, each says it is a link, and nothing outside changes.
TEST_F(ConfinedViewTest, LinkBeneathARootIsNeverFollowed) {
  for (const char* placed :
       {"T\\store\\.vmtmp.stage.ann", "T\\store\\bob", "T\\store\\ann\\Sent",
        "T\\store\\ann\\INBOX\\1.in", "T\\data\\velquor-migrate-runs"}) {
    if (!MakeFolderLink(At(placed), top_ / "outside")) {
      GTEST_SKIP() << "no link can be made here";
    }
    const auto before = Outside();
    auto view = View();
    ASSERT_NE(view, nullptr);
    const std::string link = At(placed);
    std::string upper = link;  // another spelling of the same path
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    std::string e[15], contents;
    const bool done[] = {
        view->RemoveFile(link, &e[0]),
        view->RemoveEmptyDir(link, &e[1]),
        view->RemoveFile(upper + "\\VICTIM.TXT", &e[2]),
        view->MakeDir(link + "\\new", &e[3]) != DirMade::kFailed,
        view->WriteFile(link + "\\victim.txt", "over", &e[4]),
        view->AppendFile(link + "\\victim.txt", "more", &e[5]),
        view->ReplaceContents(link + "\\victim.txt", "new", &e[6]),
        view->CopyNew(At("source.in"), link + "\\2.in", &e[7]) !=
            CopyResult::kFailed,
        view->CopyNew(At("source.in"), link, &e[8]) != CopyResult::kFailed,
        view->PublishDir(link, At("T\\store\\carl"), &e[9]) !=
            PublishResult::kFailed,
        view->ReadFile(link + "\\victim.txt", &contents, &e[10]),
        view->SyncVolume(link + "\\sub\\x.in", &e[11]),
        // A mirror's move into its holding folder: from through the link,
        // and to a holding path through it.
        view->RenameNew(link + "\\victim.txt", At("T\\data\\held.in"),
                        &e[12]) != PublishResult::kFailed,
        view->RenameNew(At("T\\store\\ann\\INBOX\\3.in"), link + "\\held.in",
                        &e[13]) != PublishResult::kFailed,
        view->OpenAppending(link + "\\victim.txt", &e[14]) != nullptr,
    };
    for (size_t i = 0; i < std::size(done); ++i) {
      EXPECT_FALSE(done[i]) << placed << " #" << i;
      EXPECT_EQ(ParseFileError(e[i]).kind, FileErrorKind::kIsLink)
          << placed << " #" << i << " " << e[i];
    }
    std::vector<DirEntry> entries;
    EXPECT_FALSE(view->List(link + "\\*", &entries)) << placed;
    EXPECT_FALSE(view->Exists(link + "\\victim.txt")) << placed;
    EXPECT_TRUE(view->Exists(link)) << placed;  // there, as itself
    // Looked up with its folder's other entries, a link has no status,
    // and nothing has one through it.
    const size_t cut = link.rfind('\\');
    std::vector<std::optional<EntryStatus>> found;
    view->StatusesIn(link.substr(0, cut), {"x", link.substr(cut + 1)}, &found);
    EXPECT_TRUE(found.size() == 2 && !found[0] && !found[1]) << placed;
    view->StatusesIn(link, {"victim.txt", "sub"}, &found);
    EXPECT_TRUE(found.size() == 2 && !found[0] && !found[1]) << placed;
    view->StatusesIn(At("T\\store\\ann"), {"INBOX", "..\\ann\\INBOX"}, &found);
    // ".." never resolves in the view.
    EXPECT_TRUE(found.size() == 2 && found[0] && found[0]->is_directory &&
                !found[1])
        << placed;
    EXPECT_EQ(Outside(), before) << placed;
    EXPECT_FALSE(fs::exists(top_ / "T" / "store" / "carl")) << placed;
    EXPECT_FALSE(fs::exists(top_ / "T" / "data" / "held.in")) << placed;
    EXPECT_TRUE(fs::exists(top_ / "T" / "store" / "ann" / "INBOX" / "3.in"))
        << placed;
  }
}

// A root that is a link, named alone or inside another root, is refused.
TEST_F(ConfinedViewTest, RootThatIsALinkIsRefused) {
  fs::remove_all(top_ / "T" / "store");
  if (!MakeFolderLink(At("T\\store"), top_ / "outside")) {
    GTEST_SKIP() << "no link can be made here";
  }
  for (const auto& roots :
       {std::vector<std::string>{At("T\\store")},
        std::vector<std::string>{At("T"), At("T\\store")}}) {
    std::string error;
    EXPECT_EQ(disk_->Confined(roots, &error), nullptr) << roots.back();
    EXPECT_EQ(ParseFileError(error).kind, FileErrorKind::kIsLink)
        << roots.back() << " " << error;
  }
}

// ".." never leaves a root or enters one, even where it would land inside;
// paths outside every root behave as on the disk.
TEST_F(ConfinedViewTest, ParentPartsFailAndOutsidePathsPassThrough) {
  auto view = View();
  ASSERT_NE(view, nullptr);
  for (const char* path :
       {"T\\store\\..\\..\\outside\\victim.txt", "T\\store\\ann\\..\\x.txt",
        "outside\\..\\T\\store\\x.txt"}) {
    std::string error;
    EXPECT_FALSE(view->WriteFile(At(path), "x", &error)) << path;
    EXPECT_FALSE(view->RemoveFile(At(path), &error)) << path;
    EXPECT_NE(error, "") << path;
  }
  EXPECT_EQ(Outside().size(), 3u);  // two files and a folder
  EXPECT_FALSE(fs::exists(top_ / "T" / "store" / "x.txt"));
  EXPECT_FALSE(fs::exists(top_ / "T" / "store" / "ann" / "x.txt"));
  EXPECT_TRUE(view->WriteFile(At("outside\\new.txt"), "n", nullptr));
  EXPECT_TRUE(view->RemoveFile(At("outside\\victim.txt"), nullptr));
  EXPECT_FALSE(fs::exists(top_ / "outside" / "victim.txt"));
}

// A mail store not made yet shows nothing beneath it until the view makes
// it; then it is used as any root.
TEST_F(ConfinedViewTest, RootMadeByTheView) {
  fs::remove_all(top_ / "T" / "store");
  auto view = View();
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(view->Exists(At("T\\store")));
  EXPECT_FALSE(view->WriteFile(At("T\\store\\a.txt"), "a", nullptr));
  EXPECT_EQ(view->MakeDir(At("T\\store\\ann"), nullptr), DirMade::kFailed);
  EXPECT_EQ(view->MakeDir(At("T\\store"), nullptr), DirMade::kMade);
  EXPECT_EQ(view->MakeDir(At("T\\store"), nullptr), DirMade::kExisted);
  EXPECT_EQ(view->MakeDir(At("T\\store\\ann"), nullptr), DirMade::kMade);
  EXPECT_TRUE(view->WriteFile(At("T\\store\\ann\\a.txt"), "a", nullptr));
  // Held as a root, the store cannot be renamed away.
  EXPECT_FALSE(MoveFileExW((top_ / "T" / "store").c_str(),
                           (top_ / "T" / "moved").c_str(), 0));
}

// While an operation uses a path, no folder on it can be renamed (and a
// link put in its place): the reader renames the mailbox in the middle of
// its read.
TEST_F(ConfinedViewTest, FolderOnTheWayIsHeldDuringTheOperation) {
  Put(top_ / "T" / "store" / "ann" / "INBOX" / "1.in", "m");
  auto view = View();
  ASSERT_NE(view, nullptr);
  const fs::path mailbox = top_ / "T" / "store" / "ann";
  BOOL renamed = TRUE;
  std::string error;
  EXPECT_TRUE(view->ReadFileBy(
      At("T\\store\\ann\\INBOX\\1.in"),
      [&](std::string_view) {
        renamed = MoveFileExW(mailbox.c_str(),
                              (top_ / "T" / "store" / "eve").c_str(), 0);
        return true;
      },
      &error))
      << error;
  EXPECT_FALSE(renamed);
  EXPECT_TRUE(
      MoveFileExW(mailbox.c_str(), (top_ / "T" / "store" / "eve").c_str(), 0));
}

}  // namespace
}  // namespace vm
