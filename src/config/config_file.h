#ifndef VM_CONFIG_CONFIG_FILE_H_
#define VM_CONFIG_CONFIG_FILE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/added_items.h"
#include "config/shared_config_states.h"
#include "platform/file_error.h"
#include "util/thread_annotations.h"
#include "xml/xml_document.h"

namespace vm {

class FileSystem;
struct TargetContext;

// How long additions may wait in memory before a store saves them, in
// milliseconds of run time (Clock::MonotonicMillis), at the least. A save
// that took long (a flush behind a volume busy with copies) makes the wait
// kSaveCostFactor times its own time, up to kMaxGroupCommitMillis, so that
// saving takes no more than about a tenth of the run.
inline constexpr int64_t kGroupCommitMillis = 250;
inline constexpr int64_t kSaveCostFactor = 9;
inline constexpr int64_t kMaxGroupCommitMillis = 5000;

// The largest file text the shared cache keeps a parse of, in bytes. A
// larger file (the user list of a big server) is held once, by its store.
inline constexpr size_t kCachedTextLimit = 1 << 20;

// The whole content of the file; empty when it cannot be read.
std::string ReadFileText(FileSystem* fs, const std::string& path);

// Replaces the content of the file with `text`, never leaving it half
// written (see FileSystem::ReplaceContents). True when the file was written;
// else *error (when given) says why, as FileSystem errors do.
bool WriteFileText(FileSystem* fs, const std::string& path,
                   const std::string& text, std::string* error = nullptr);

// Why a save of a configuration file failed.
enum class SaveFailure {
  kNone,
  kNothingLoaded,  // the store holds no document: the file was never read
  kLockTimeout,    // the file's lock was not had in time (or the wait ended)
  kUnreadable,     // another writer changed the file; it cannot be read
  kUnmergeable,    // another writer changed the file into one that does not
                   // parse, or that the additions cannot be merged into
  kWrite,          // writing failed; `file` says why
  kRecord,         // what the save was to write could not be recorded
                   // first; `file` says why
};

struct SaveError {
  SaveFailure failure = SaveFailure::kNone;
  FileError file;  // with kWrite, kUnreadable and kRecord
};

// The first child of `parent` called `name`; 0 when there is none.
int32_t FirstChildNamed(const XmlDocument& doc, int32_t parent,
                        std::string_view name);

// The list element `name` under the root `database`; 0 when either is
// missing.
int32_t FindList(const XmlDocument& doc, std::string_view name);

// The common base of the stores of the target's XML configuration files.
// It settles the file's path, holds the store's working document, and loads
// and saves the file through the file's shared state.
//
// The stores add items to the document in memory and save them together
// (group commit): SaveIfDue at most every kGroupCommitMillis, SavePending
// at the end of a step, and the destructor saves what is left. A save
// holds the named lock for one read-merge-write: when the file on disk is
// no longer the text this store loaded or last wrote, another writer
// changed it; the store parses it again and lets the derived store apply
// its pending additions to that fresh document (Merge), so nothing the
// other writer added is lost. A file that vanished, became unreadable or
// no longer parses is never written over: the save fails.
class ConfigFile {
 public:
  virtual ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  // Refreshes the document: from the shared cached parse when the file is
  // not newer than it and the cached parse is well-formed, else by reading
  // and parsing the file. A missing, empty or ill-formed file leaves the
  // document as the copy of the cached parse. Pending additions are
  // dropped.
  void Load() EXCLUDES(mutex_);

  // Writes the document to the file under the file lock (merging as above)
  // through a temporary file that replaces the old one. False (the file
  // unchanged) when the document is empty, the lock could not be had (see
  // NamedLock), the file changed and cannot be merged, or any part of
  // writing failed. After a failed save the
  // additions stay pending: a later save writes them when it can (their
  // callers have reported them and marked their mail pending meanwhile).
  bool Save() EXCLUDES(mutex_);
  // Save when additions are pending; true when there are none.
  bool SavePending() EXCLUDES(mutex_);
  // SavePending once the group-commit wait has passed since the last save;
  // true when nothing was saved or the save succeeded.
  bool SaveIfDue() EXCLUDES(mutex_);
  bool HasPending() const EXCLUDES(mutex_);

  // Called before every write of the file, with the file's lock and the
  // store held, with the additions the write is about to put in, their
  // bytes as they will be in the file (after any merge). The write goes
  // ahead only when it returns true (else the save fails with kRecord and
  // the additions stay pending; *error may say why, as FileSystem errors
  // do): a run records what it adds before the server can see it. It must
  // take no lock but leaves.
  using WriteAhead = std::function<bool(const std::vector<SavedAddition>&,
                                        std::string* error)>;
  void SetWriteAhead(WriteAhead write_ahead) EXCLUDES(mutex_);

  // Why the last save failed; kNone after one that succeeded.
  SaveError last_save_error() const EXCLUDES(mutex_);

  // The size and MD5 digest of the text this store last loaded or wrote,
  // when the document is still that text (nothing pending, the last save
  // not failed) and it is not empty; else false.
  bool SavedText(uint64_t* size, std::string* digest) const EXCLUDES(mutex_);

  // Whether the store holds the text it loaded, never having written the
  // file nor holding anything pending.
  bool Untouched() const EXCLUDES(mutex_);

  const std::string& path() const { return path_; }
  // The working document, unlocked: for tests and benchmarks, which use
  // the store from one thread only.
  const XmlDocument& document() const NO_THREAD_SAFETY_ANALYSIS {
    return document_;
  }

 protected:
  // The path is ChoosePath's. Loads at once.
  ConfigFile(TargetContext* context, const std::string& file_name,
             const std::string& preferred, const std::string& fallback);

  // target_dir + `preferred` when something exists there, else target_dir
  // + `fallback` (untested).
  static std::string ChoosePath(TargetContext* context,
                                const std::string& preferred,
                                const std::string& fallback);

  // Called at the end of every Load after construction, for a store that
  // keeps something derived from the document. (During construction the
  // derived store is not built yet; it calls this itself.)
  virtual void Loaded() REQUIRES(mutex_) {}

  // The derived store added one item to the document.
  void NoteAddition() REQUIRES(mutex_) { ++pending_; }
  // The derived store took items out of the document (see PendingRemovals);
  // saved, and merged, as additions are.
  void NoteRemoval() REQUIRES(mutex_) { ++pending_; }
  // The derived store gave items other bytes (see PendingReplacements).
  void NoteEdit() REQUIRES(mutex_) { ++pending_; }
  // Makes `fresh`, the file as another writer left it, the document, with
  // the pending additions that it does not have yet applied to it. False
  // when that cannot be done; this base cannot merge arbitrary edits.
  virtual bool Merge(XmlDocument* fresh) REQUIRES(mutex_);
  // After a successful save: the pending additions are in the file.
  virtual void PendingSaved() REQUIRES(mutex_) {}
  // The pending additions the document holds an item of, as a save is
  // about to write them.
  virtual std::vector<SavedAddition> AboutToWriteLocked() const
      REQUIRES(mutex_) {
    return {};
  }

  // Saves what is pending, once; the derived destructor calls it while its
  // own members still exist.
  void Close() EXCLUDES(mutex_);

  // Held by every public operation of the stores, which lock it once and
  // work through ...Locked functions (and the hooks above) that require it.
  mutable Mutex mutex_;
  TargetContext* context_;
  XmlDocument document_ GUARDED_BY(mutex_);

 private:
  void LoadDocumentLocked() REQUIRES(mutex_);
  bool SaveLocked() REQUIRES(mutex_);
  bool SavePendingLocked() REQUIRES(mutex_);
  // Saves under the file lock; the failure when it could not.
  SaveError WriteMergedLocked() REQUIRES(mutex_);
  // Whether the shared cached parse is of this store's file; called with
  // the cache lock held.
  bool SameFile() const;
  // Makes `document` (null: none) the shared cached parse of this store's
  // file, parsed or saved at `time`; a file over kCachedTextLimit bytes
  // leaves the cache empty.
  void KeepInCache(const XmlDocument* document, int64_t time);
  // Notes the document's text as the file's content this store loaded or
  // wrote.
  void NoteSavedLocked() REQUIRES(mutex_);
  // Whether the file's content now differs from what was noted. Sets
  // *readable to whether the file could be read (a changed file that could
  // not be read says why in *error).
  bool FileChangedLocked(bool* readable, std::string* error) const
      REQUIRES(mutex_);

  std::string path_;  // settled by the constructor
  SharedConfigState* shared_;
  // The file as this store loaded or wrote it, by size and MD5 digest: a
  // store of a large file keeps no second copy of its text.
  size_t saved_size_ GUARDED_BY(mutex_) = 0;
  std::string saved_digest_ GUARDED_BY(mutex_);
  SaveError save_error_ GUARDED_BY(mutex_);  // of the last save
  int pending_ GUARDED_BY(mutex_) = 0;
  bool wrote_ GUARDED_BY(mutex_) = false;  // a save succeeded
  int64_t last_save_ms_ GUARDED_BY(mutex_) = 0;
  int64_t last_save_cost_ms_ GUARDED_BY(mutex_) = 0;
  bool open_ GUARDED_BY(mutex_) = true;
  WriteAhead write_ahead_ GUARDED_BY(mutex_);
};

}  // namespace vm

#endif  // VM_CONFIG_CONFIG_FILE_H_
