#ifndef VM_PLATFORM_CONFINED_VIEW_IMPL_WIN32_H_
#define VM_PLATFORM_CONFINED_VIEW_IMPL_WIN32_H_

// The Windows confined view's class and the places it resolves, kept apart
// from its implementation (confined_view_win32.cc) so that the class can be
// read in one sitting.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/confined_walk_win32.h"
#include "platform/file_error_win32.h"
#include "platform/helpers/file_system_wrapper.h"
#include "util/thread_annotations.h"

namespace vm {

// One folder the view is confined to.
struct Root {
  std::string ansi;   // as it was named
  std::wstring full;  // FullForm of the folder as it was named
  int outer = -1;     // the root it lies in, or -1
};

// Where a path lies against the roots.
struct Place {
  int root = -1;  // the innermost root holding it; -1 outside every root
  std::vector<std::wstring> parts;  // below the root
  std::wstring full;                // FullForm of the path
  DWORD refusal = ERROR_SUCCESS;    // a path that may never be resolved
  size_t Parents() const { return parts.empty() ? 0 : parts.size() - 1; }
};

inline bool Gone(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Every operation on a path beneath a root walks down from the root,
// holding each folder on the way (see confined_walk_win32.h), and acts on
// the entry itself through a handle opened to it as itself where the
// system offers one; where only a call by name exists (ReplaceFileW, the
// listing, a copy's rename), it is made while every folder on the way is
// held and the entry was found to be no link. Paths outside every root go
// to the disk unchanged.
class ConfinedView : public FileSystemWrapper {
 public:
  ConfinedView(FileSystem* disk, UINT code_page)
      : FileSystemWrapper(disk), code_page_(code_page) {}
  ~ConfinedView() override {
    MutexLock lock(&mutex_);
    for (HANDLE handle : handles_) {
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
  }

  // Opens the roots: false, with the reason, for one that cannot be used.
  bool OpenRoots(const std::vector<std::string>& roots, std::string* error);

  bool Exists(const std::string& path) override {
    const Place place = PlaceOf(path);
    if (place.root < 0) return base()->Exists(path);
    HeldFolders held;
    return Reach(place, place.Parents(), &held) == ERROR_SUCCESS &&
           (place.parts.empty() ||
            GetFileAttributesW(place.full.c_str()) != INVALID_FILE_ATTRIBUTES);
  }

  bool ModifiedTime(const std::string& path, int64_t* seconds) override {
    HeldFolders held;
    return Guard(path, &held, nullptr) && base()->ModifiedTime(path, seconds);
  }

  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override {
    contents->clear();
    if (ReadFileBy(
            path,
            [contents](std::string_view piece) {
              contents->append(piece);
              return true;
            },
            error)) {
      return true;
    }
    contents->clear();
    return false;
  }

  bool ReadFileBy(const std::string& path, const PieceWriter& take,
                  std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override {
    return WriteByHandle(path, contents, false, error);
  }
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override {
    return WriteByHandle(path, contents, true, error);
  }
  std::unique_ptr<AppendingFile> OpenAppending(const std::string& path,
                                               std::string* error) override;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override;
  DirMade MakeDir(const std::string& path, std::string* error) override;

  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    HeldFolders held;
    if (!GuardCopy(from, to, &held, error)) return CopyResult::kFailed;
    return base()->CopyNew(from, to, error);
  }
  CopyResult CopyNewRecorded(const std::string& from, const std::string& to,
                             std::string* error, CopiedFile* copied) override {
    *copied = CopiedFile{};
    HeldFolders held;
    if (!GuardCopy(from, to, &held, error)) return CopyResult::kFailed;
    return base()->CopyNewRecorded(from, to, error, copied);
  }
  CopyResult CopyStaged(const std::string& from, const std::string& to,
                        std::string* error, CopiedFile* copied) override {
    if (copied != nullptr) *copied = CopiedFile{};
    HeldFolders held;
    if (!GuardCopy(from, to, &held, error)) return CopyResult::kFailed;
    return base()->CopyStaged(from, to, error, copied);
  }

  bool StampOf(const std::string& path, FileStamp* stamp) override {
    HeldFolders held;
    return Guard(path, &held, nullptr) && base()->StampOf(path, stamp);
  }
  bool StatusOf(const std::string& path, EntryStatus* status) override {
    HeldFolders held;
    return Guard(path, &held, nullptr) && base()->StatusOf(path, status);
  }
  // The folder's chain is walked and held once; its entries are then
  // looked at by the disk's listing of it, which gives no status to a
  // link. A name that is more than one entry goes by StatusOf, guarded.
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override;
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override;
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  bool SyncVolume(const std::string& path, std::string* error) override {
    HeldFolders held;
    return Guard(path, &held, error) && base()->SyncVolume(path, error);
  }
  bool RemoveFile(const std::string& path, std::string* error) override {
    return Remove(path, false, error);
  }
  bool RemoveEmptyDir(const std::string& path, std::string* error) override {
    return Remove(path, true, error);
  }
  bool CanRead(const std::string& path) override {
    HeldFolders held;
    return Guard(path, &held, nullptr) && base()->CanRead(path);
  }
  bool CanWrite(const std::string& path) override {
    HeldFolders held;
    return Guard(path, &held, nullptr) && base()->CanWrite(path);
  }
  // Prefetch and CopiesShareBlocks do nothing on this disk, and Locate
  // follows links by its contract (it tells where a path leads, so that a
  // record is never written through one into the target): all three go
  // to the disk as they are.

 private:
  Place PlaceOf(const std::string& path) const;
  // PublishDir (`folder`) and RenameNew: one rename that never replaces.
  PublishResult Rename(const std::string& from, const std::string& to,
                       bool folder, std::string* error);
  DWORD EnsureRoot(int index) EXCLUDES(mutex_);
  DWORD OpenRootLocked(int index) REQUIRES(mutex_);
  DWORD WalkToRootParentLocked(int index, HeldFolders* held) REQUIRES(mutex_);
  DWORD Reach(const Place& place, size_t count, HeldFolders* held);
  bool Guard(const std::string& path, HeldFolders* held, std::string* error);
  bool GuardCopy(const std::string& from, const std::string& to,
                 HeldFolders* held, std::string* error);
  bool WriteByHandle(const std::string& path, const std::string& contents,
                     bool append, std::string* error);
  DirMade MakeRoot(int index, std::string* error) EXCLUDES(mutex_);
  bool Remove(const std::string& path, bool folder, std::string* error);
  DWORD RemoveRoot(int index) EXCLUDES(mutex_);

  bool Fail(std::string* error, DWORD code) const {
    SetWin32Error(code_page_, error, code);
    return false;
  }

  const UINT code_page_;
  std::vector<Root> roots_;  // set by OpenRoots, then only read
  Mutex mutex_;
  // Each root's handle, held without delete sharing while the view lives
  // so that the folder cannot be renamed away; invalid while it does not
  // exist.
  std::vector<HANDLE> handles_ GUARDED_BY(mutex_);
};

}  // namespace vm

#endif  // VM_PLATFORM_CONFINED_VIEW_IMPL_WIN32_H_
