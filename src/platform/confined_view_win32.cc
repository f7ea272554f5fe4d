#include "platform/confined_view_win32.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/confined_view_impl_win32.h"
#include "platform/confined_walk_win32.h"
#include "platform/file_error_win32.h"
#include "platform/file_handle_win32.h"
#include "platform/file_write_win32.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/path_separator_win32.h"
#include "platform/wide_text_win32.h"
#include "util/thread_annotations.h"

namespace vm {
namespace {

constexpr DWORD kReadBlock = 65536;

}  // namespace

bool ConfinedView::OpenRoots(const std::vector<std::string>& roots,
                             std::string* error) {
  for (const std::string& ansi : roots) {
    std::wstring wide;
    Root root;
    root.ansi = ansi;
    if (ToWidePath(code_page_, ansi, &wide)) root.full = FullForm(wide);
    if (root.full.empty()) {
      Fail(error, ERROR_INVALID_NAME);
      if (error != nullptr) *error += ": " + ansi;
      return false;
    }
    roots_.push_back(std::move(root));
  }
  // Outer roots first, so that each root inside one opens beneath it.
  std::sort(roots_.begin(), roots_.end(), [](const Root& a, const Root& b) {
    return a.full.size() < b.full.size();
  });
  std::vector<std::wstring> parts;
  for (size_t i = 0; i < roots_.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (SplitBeneath(roots_[i].full, roots_[j].full, &parts)) {
        roots_[i].outer = static_cast<int>(j);
      }
    }
  }
  MutexLock lock(&mutex_);
  handles_.assign(roots_.size(), INVALID_HANDLE_VALUE);
  for (size_t i = 0; i < roots_.size(); ++i) {
    if (handles_[i] != INVALID_HANDLE_VALUE) continue;
    const DWORD code = OpenRootLocked(static_cast<int>(i));
    // A root not made yet is opened when it is made.
    if (code != ERROR_SUCCESS && !Gone(code)) {
      Fail(error, code);
      if (error != nullptr) *error += ": " + roots_[i].ansi;
      return false;
    }
  }
  return true;
}

Place ConfinedView::PlaceOf(const std::string& path) const {
  Place place;
  std::wstring wide;
  // A path the code page cannot hold fails on the disk as well.
  if (path.find('\0') != std::string::npos ||
      !ToWide(code_page_, path, &wide) || wide.empty()) {
    return place;
  }
  const std::wstring full = FullForm(wide);
  const std::wstring spelt = SpeltForm(wide);
  const bool parent_part = HasParentPart(wide);
  std::vector<std::wstring> parts;
  for (size_t i = 0; i < roots_.size(); ++i) {
    // Roots are sorted outer first: the last that holds the path is the
    // innermost.
    if (SplitBeneath(full, roots_[i].full, &parts) ||
        (parent_part && SplitBeneath(spelt, roots_[i].full, &parts))) {
      place.root = static_cast<int>(i);
    }
  }
  if (place.root < 0) return place;
  // ".." never leads out of a root, nor into one from elsewhere.
  if (parent_part) {
    place.refusal = ERROR_INVALID_NAME;
    return place;
  }
  SplitBeneath(full, roots_[place.root].full, &place.parts);
  place.full = full;
  return place;
}

DWORD ConfinedView::EnsureRoot(int index) {
  MutexLock lock(&mutex_);
  if (handles_[index] != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  return OpenRootLocked(index);
}

// The folders between a root and the root it lies in are walked as any
// path beneath that root; a root in no other is opened as it is named
// (the folders above it are the administrator's).
DWORD ConfinedView::WalkToRootParentLocked(int index, HeldFolders* held) {
  const Root& root = roots_[index];
  if (root.outer < 0) return ERROR_SUCCESS;
  if (handles_[root.outer] == INVALID_HANDLE_VALUE) {
    const DWORD code = OpenRootLocked(root.outer);
    if (code != ERROR_SUCCESS) return code;
  }
  std::vector<std::wstring> parts;
  SplitBeneath(root.full, roots_[root.outer].full, &parts);
  return WalkDown(roots_[root.outer].full, parts,
                  parts.empty() ? 0 : parts.size() - 1, held);
}

DWORD ConfinedView::OpenRootLocked(int index) {
  HeldFolders held;
  const DWORD code = WalkToRootParentLocked(index, &held);
  if (code != ERROR_SUCCESS) return code;
  return OpenFolderHeld(roots_[index].full, &handles_[index]);
}

DWORD ConfinedView::Reach(const Place& place, size_t count, HeldFolders* held) {
  if (place.refusal != ERROR_SUCCESS) return place.refusal;
  const DWORD code = EnsureRoot(place.root);
  if (code != ERROR_SUCCESS) return code;
  return WalkDown(roots_[place.root].full, place.parts, count, held);
}

// Holds every folder on the way to `path` and makes sure that the entry
// itself, when there, is no link; true for a path outside every root.
bool ConfinedView::Guard(const std::string& path, HeldFolders* held,
                         std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) return true;
  DWORD code = Reach(place, place.Parents(), held);
  if (code == ERROR_SUCCESS && !place.parts.empty()) {
    bool exists = false;
    DWORD attributes = 0;
    code = InspectEntry(place.full, &exists, &attributes);
  }
  return code == ERROR_SUCCESS || Fail(error, code);
}

void ConfinedView::StatusesIn(
    const std::string& dir, const std::vector<std::string>& names,
    std::vector<std::optional<EntryStatus>>* statuses) {
  const Place folder = PlaceOf(dir);
  if (folder.root < 0) return base()->StatusesIn(dir, names, statuses);
  statuses->assign(names.size(), std::nullopt);
  HeldFolders held;
  if (Reach(folder, folder.parts.size(), &held) != ERROR_SUCCESS) return;
  std::vector<std::string> inside;  // names of one entry of the folder
  std::vector<size_t> at;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string path = dir + "\\" + names[i];
    const Place place = PlaceOf(path);
    if (place.root == folder.root && place.refusal == ERROR_SUCCESS &&
        place.parts.size() == folder.parts.size() + 1 &&
        std::equal(folder.parts.begin(), folder.parts.end(),
                   place.parts.begin())) {
      inside.push_back(names[i]);
      at.push_back(i);
    } else if (EntryStatus status; StatusOf(path, &status)) {
      (*statuses)[i] = status;
    }
  }
  // The folder is held: the disk's listing of it is a listing of this one.
  std::vector<std::optional<EntryStatus>> found;
  base()->StatusesIn(dir, inside, &found);
  for (size_t k = 0; k < at.size(); ++k) (*statuses)[at[k]] = found[k];
}

// A copy's target is a new name: when a link is there, the copy fails
// rather than telling of an existing file.
bool ConfinedView::GuardCopy(const std::string& from, const std::string& to,
                             HeldFolders* held, std::string* error) {
  return Guard(from, held, error) && Guard(to, held, error);
}

bool ConfinedView::ReadFileBy(const std::string& path, const PieceWriter& take,
                              std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) return base()->ReadFileBy(path, take, error);
  HeldFolders held;
  DWORD code = Reach(place, place.Parents(), &held);
  if (code != ERROR_SUCCESS) return Fail(error, code);
  // Delete sharing is kept: the bytes come through this handle whatever
  // becomes of the name, and the mail server may replace the file.
  FileHandle file(CreateFileW(
      place.full.c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr));
  if (!file.valid()) return Fail(error, GetLastError());
  DWORD attributes = 0;
  code = RefuseLink(file.get(), place.full, &attributes);
  if (code != ERROR_SUCCESS) return Fail(error, code);
  std::string block(kReadBlock, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), block.data(), kReadBlock, &got, nullptr)) {
      return Fail(error, GetLastError());
    }
    if (got == 0) return true;
    if (!take(std::string_view(block.data(), got))) return false;
  }
}

bool ConfinedView::WriteByHandle(const std::string& path,
                                 const std::string& contents, bool append,
                                 std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) {
    return append ? base()->AppendFile(path, contents, error)
                  : base()->WriteFile(path, contents, error);
  }
  HeldFolders held;
  DWORD code = Reach(place, place.Parents(), &held);
  if (code != ERROR_SUCCESS) return Fail(error, code);
  // Appending without FILE_WRITE_DATA puts every write at the end, wherever
  // another writer left it; an existing file is opened as itself, so a
  // link is refused before a byte is written.
  FileHandle file(CreateFileW(
      place.full.c_str(),
      FILE_READ_ATTRIBUTES | (append ? FILE_APPEND_DATA : GENERIC_WRITE),
      FILE_SHARE_READ | (append ? FILE_SHARE_WRITE : 0), nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return Fail(error, GetLastError());
  DWORD attributes = 0;
  code = RefuseLink(file.get(), place.full, &attributes);
  if (code != ERROR_SUCCESS) return Fail(error, code);
  if (!append && !SetEndOfFile(file.get())) return Fail(error, GetLastError());
  if (!WriteAll(file.get(), contents) || !file.Close()) {
    return Fail(error, GetLastError());
  }
  return true;
}

namespace {

class HandleAppender : public AppendingFile {
 public:
  HandleAppender(HANDLE file, UINT code_page)
      : file_(file), code_page_(code_page) {}
  bool Append(const std::string& contents, std::string* error) override {
    if (WriteAll(file_.get(), contents)) return true;
    SetWin32Error(code_page_, error, GetLastError());
    return false;
  }

 private:
  FileHandle file_;
  const UINT code_page_;
};

}  // namespace

// The file is opened as itself, beneath the held folders; from then on
// the handle is the file, whatever becomes of the folders. Delete sharing
// lets the administrator remove or move it while it is open.
std::unique_ptr<AppendingFile> ConfinedView::OpenAppending(
    const std::string& path, std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) return base()->OpenAppending(path, error);
  HeldFolders held;
  DWORD code = Reach(place, place.Parents(), &held);
  if (code == ERROR_SUCCESS) {
    FileHandle file(CreateFileW(
        place.full.c_str(), FILE_READ_ATTRIBUTES | FILE_APPEND_DATA,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    DWORD attributes = 0;
    code = file.valid() ? RefuseLink(file.get(), place.full, &attributes)
                        : GetLastError();
    if (code == ERROR_SUCCESS) {
      return std::make_unique<HandleAppender>(file.Release(), code_page_);
    }
  }
  Fail(error, code);
  return nullptr;
}

// The replace itself is the disk's (ReplaceFileW keeps the replaced file's
// security descriptor), made while the folders on the way are held, once
// neither the file nor its temporary name is a link.
bool ConfinedView::ReplaceContents(const std::string& path,
                                   const std::string& contents,
                                   std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) return base()->ReplaceContents(path, contents, error);
  HeldFolders held;
  if (!Guard(path, &held, error)) return false;
  bool exists = false;
  DWORD attributes = 0;
  const DWORD code =
      InspectEntry(ReplaceTemporaryFor(place.full), &exists, &attributes);
  if (code != ERROR_SUCCESS) return Fail(error, code);
  return base()->ReplaceContents(path, contents, error);
}

DirMade ConfinedView::MakeDir(const std::string& path, std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) return base()->MakeDir(path, error);
  if (place.refusal == ERROR_SUCCESS && place.parts.empty()) {
    return MakeRoot(place.root, error);
  }
  HeldFolders held;
  DWORD code = Reach(place, place.Parents(), &held);
  if (code == ERROR_SUCCESS) {
    if (CreateDirectoryW(place.full.c_str(), nullptr)) return DirMade::kMade;
    code = GetLastError();
    bool exists = false;
    DWORD attributes = 0;
    const DWORD found = InspectEntry(place.full, &exists, &attributes);
    if (found != ERROR_SUCCESS) code = found;
    if (found == ERROR_SUCCESS && exists &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return DirMade::kExisted;
    }
  }
  Fail(error, code);
  return DirMade::kFailed;
}

// The root is made beneath the root it lies in, if any, and opened.
DirMade ConfinedView::MakeRoot(int index, std::string* error) {
  MutexLock lock(&mutex_);
  if (handles_[index] != INVALID_HANDLE_VALUE) return DirMade::kExisted;
  HeldFolders held;
  DWORD code = WalkToRootParentLocked(index, &held);
  bool made = false;
  if (code == ERROR_SUCCESS) {
    made = CreateDirectoryW(roots_[index].full.c_str(), nullptr) != 0;
    if (!made && GetLastError() != ERROR_ALREADY_EXISTS) code = GetLastError();
  }
  if (code == ERROR_SUCCESS) code = OpenRootLocked(index);
  if (code == ERROR_SUCCESS) return made ? DirMade::kMade : DirMade::kExisted;
  Fail(error, code);
  return DirMade::kFailed;
}

bool ConfinedView::Remove(const std::string& path, bool folder,
                          std::string* error) {
  const Place place = PlaceOf(path);
  if (place.root < 0) {
    return folder ? base()->RemoveEmptyDir(path, error)
                  : base()->RemoveFile(path, error);
  }
  DWORD code = ERROR_SUCCESS;
  if (place.refusal == ERROR_SUCCESS && place.parts.empty()) {
    code = folder ? RemoveRoot(place.root) : ERROR_ACCESS_DENIED;
  } else {
    HeldFolders held;
    code = Reach(place, place.Parents(), &held);
    // Nothing on the way: nothing to remove.
    if (Gone(code)) return true;
    if (code == ERROR_SUCCESS) code = RemoveByHandle(place.full, folder);
  }
  return code == ERROR_SUCCESS || Fail(error, code);
}

// The view lets go of the root for its removal, and takes it again when
// the removal fails.
DWORD ConfinedView::RemoveRoot(int index) {
  MutexLock lock(&mutex_);
  HeldFolders held;
  DWORD code = WalkToRootParentLocked(index, &held);
  if (Gone(code)) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  if (handles_[index] != INVALID_HANDLE_VALUE) CloseHandle(handles_[index]);
  handles_[index] = INVALID_HANDLE_VALUE;
  code = RemoveByHandle(roots_[index].full, true);
  if (code != ERROR_SUCCESS) OpenRootLocked(index);
  return code;
}

PublishResult ConfinedView::PublishDir(const std::string& from,
                                       const std::string& to,
                                       std::string* error) {
  return Rename(from, to, true, error);
}

PublishResult ConfinedView::RenameNew(const std::string& from,
                                      const std::string& to,
                                      std::string* error) {
  return Rename(from, to, false, error);
}

PublishResult ConfinedView::Rename(const std::string& from,
                                   const std::string& to, bool folder,
                                   std::string* error) {
  const Place source = PlaceOf(from);
  const Place target = PlaceOf(to);
  if (source.root < 0 && target.root < 0) {
    return folder ? base()->PublishDir(from, to, error)
                  : base()->RenameNew(from, to, error);
  }
  DWORD code = ERROR_ACCESS_DENIED;  // a rename into or out of the roots
  HeldFolders held;
  if (source.root >= 0 && target.root >= 0 && !source.parts.empty() &&
      !target.parts.empty()) {
    code = Reach(source, source.Parents(), &held);
    if (code == ERROR_SUCCESS) code = Reach(target, target.Parents(), &held);
  }
  bool exists = false;
  DWORD attributes = 0;
  if (code == ERROR_SUCCESS)
    code = InspectEntry(target.full, &exists, &attributes);
  if (code == ERROR_SUCCESS && exists) code = ERROR_ALREADY_EXISTS;
  if (code == ERROR_SUCCESS)
    code = RenameByHandle(source.full, target.full, folder);
  if (code == ERROR_SUCCESS) return PublishResult::kPublished;
  Fail(error, code);
  return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
             ? PublishResult::kTargetExists
             : PublishResult::kFailed;
}

bool ConfinedView::List(const std::string& pattern,
                        std::vector<DirEntry>* entries) {
  entries->clear();
  const size_t separator = LastSeparator(code_page_, pattern);
  const Place place = separator == std::string::npos
                          ? Place{}
                          : PlaceOf(pattern.substr(0, separator));
  if (place.root < 0) return base()->List(pattern, entries);
  // The folder listed is held too, so that the listing is of it.
  HeldFolders held;
  return Reach(place, place.parts.size(), &held) == ERROR_SUCCESS &&
         base()->List(pattern, entries);
}

std::unique_ptr<FileSystem> NewConfinedView(
    FileSystem* disk, unsigned int code_page,
    const std::vector<std::string>& roots, std::string* error) {
  auto view = std::make_unique<ConfinedView>(disk, code_page);
  if (!view->OpenRoots(roots, error)) return nullptr;
  return view;
}

}  // namespace vm
