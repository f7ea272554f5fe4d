#include "migrate/pending_marks.h"

#include <system_error>
#include <utility>

#include "migrate/message_names.h"
#include "platform/copy_temporary.h"
#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

namespace {

// One flush of the volume per this many complete mailboxes, or bytes
// copied, and at the end.
constexpr size_t kFlushMailboxes = 1000;
constexpr uint64_t kFlushBytes = uint64_t{512} << 20;

// The text of a mark made for a sync.
constexpr char kSyncMark[] = "sync";

}  // namespace

PendingMarks::PendingMarks(FileSystem* fs, std::string target_mail_dir)
    : fs_(fs), target_mail_dir_(std::move(target_mail_dir)) {}

PendingMarks::~PendingMarks() {
  if (flushing_ != nullptr) flushing_->thread.join();
}

void PendingMarks::MakeStore() {
  if (store_made_) return;
  fs_->CreateDir(target_mail_dir_, nullptr);
  store_made_ = true;
}

void PendingMarks::RemoveLeftCopies(const std::string& box,
                                    const NameOps& names) {
  // Copies lie in the mailbox's folders, one level down.
  std::vector<DirEntry> folders;
  fs_->List(box + "\\*", &folders);
  for (const DirEntry& folder : folders) {
    if (!folder.is_directory || folder.unconvertible_name) continue;
    std::vector<DirEntry> files;
    fs_->List(folder.path + "\\.*", &files);
    for (const DirEntry& file : files) {
      if (!file.is_directory && !file.unconvertible_name &&
          IsCopyTemporaryName(file.name, names)) {
        fs_->RemoveFile(file.path, nullptr);
      }
    }
  }
}

std::string PendingMarks::StagingOf(const std::string& box) const {
  // The box is the store followed by one name; splitting it there needs no
  // look at the name's bytes, which may hold a trail byte 0x5C.
  return target_mail_dir_ + "\\" + kCopyTempInfix + "stage." +
         box.substr(target_mail_dir_.size() + 1);
}

bool PendingMarks::StagingLeft(const std::string& box, const NameOps& names) {
  const std::string staging = StagingOf(box);
  const std::string key =
      names.Fold(staging.substr(target_mail_dir_.size() + 1));
  {
    MutexLock lock(&staging_mutex_);
    if (staging_listed_) return !staging_readable_ || staging_.count(key) != 0;
  }
  // One caller lists the store at a time: the judges of a sync all ask at
  // once, and those that waited find the listing made meanwhile.
  MutexLock listing(&staging_list_mutex_);
  uint64_t generation = 0;
  {
    MutexLock lock(&staging_mutex_);
    if (staging_listed_) return !staging_readable_ || staging_.count(key) != 0;
    generation = staging_generation_;
  }
  // Listed without the lock; a listing older than a mailbox staged since
  // answers this call and is not kept.
  std::unordered_set<std::string> listed;
  std::vector<DirEntry> found;
  const bool readable = fs_->List(StagingOf(target_mail_dir_ + "\\*"), &found);
  for (const DirEntry& entry : found) listed.insert(names.Fold(entry.name));
  const bool left = !readable || listed.count(key) != 0;
  MutexLock lock(&staging_mutex_);
  if (!staging_listed_ && generation == staging_generation_) {
    staging_ = std::move(listed);
    staging_readable_ = readable;
    staging_listed_ = true;
  }
  return left;
}

bool PendingMarks::Mark(const std::string& box, bool sync) {
  return Place(box, sync, !sync && fs_->PublishesDirs() && !fs_->Exists(box),
               false);
}

bool PendingMarks::MarkNew(const std::string& box, bool exists) {
  return Place(box, false, !exists && fs_->PublishesDirs(), true);
}

bool PendingMarks::Place(const std::string& box, bool sync, bool stage,
                         bool leave_mark) {
  MakeStore();
  last_made_.clear();
  last_staged_ = false;
  mark_left_ = false;
  if (stage) {
    const std::string staging = StagingOf(box);
    {
      MutexLock lock(&staging_mutex_);
      staging_listed_ = false;
      ++staging_generation_;
    }
    DirMade made = fs_->MakeDir(staging, nullptr);
    // One left behind is no mailbox's: it goes.
    if (made == DirMade::kExisted && Discard(staging)) {
      made = fs_->MakeDir(staging, nullptr);
    }
    if (made == DirMade::kMade &&
        (leave_mark ||
         fs_->WriteFile(staging + "\\" + kFileName, "", nullptr))) {
      last_made_ = box;
      last_created_ = true;
      last_staged_ = true;
      mark_left_ = leave_mark;
      return true;
    }
    // Made in place then, as where it cannot be staged.
    if (made == DirMade::kMade) Discard(staging);
  }
  const DirMade made = fs_->MakeDir(box, nullptr);
  if (made == DirMade::kFailed ||
      !fs_->WriteFile(box + "\\" + kFileName, sync ? kSyncMark : "", nullptr)) {
    return false;
  }
  last_made_ = box;
  last_created_ = made == DirMade::kMade;
  return true;
}

bool PendingMarks::TakeOverStaging(const std::string& box) {
  const std::string staging = StagingOf(box);
  if (!fs_->Exists(staging)) return true;
  if (fs_->Exists(box)) {
    // Marked in place before the staging folder, and its mark, go.
    const std::string mark = box + "\\" + kFileName;
    return (fs_->Exists(mark) || fs_->WriteFile(mark, "", nullptr)) &&
           Discard(staging);
  }
  return Discard(staging) && Mark(box, false);
}

bool PendingMarks::Discard(const std::string& staging) {
  std::vector<DirEntry> entries;
  if (!fs_->List(staging + "\\*", &entries)) return !fs_->Exists(staging);
  bool ok = true;
  for (const DirEntry& entry : entries) {
    if (!entry.is_directory) {
      ok = fs_->RemoveFile(entry.path, nullptr) && ok;
      continue;
    }
    std::vector<DirEntry> files;
    ok = fs_->List(entry.path + "\\*", &files) && ok;
    for (const DirEntry& file : files) {
      ok = !file.is_directory && fs_->RemoveFile(file.path, nullptr) && ok;
    }
    ok = fs_->RemoveEmptyDir(entry.path, nullptr) && ok;
  }
  return fs_->RemoveEmptyDir(staging, nullptr) && ok;
}

bool PendingMarks::IsMarked(const std::string& box, bool* sync) {
  const std::string mark = box + "\\" + kFileName;
  if (fs_->Exists(mark)) {
    if (sync != nullptr) {
      std::string text;
      *sync = fs_->ReadFile(mark, &text, nullptr) && text == kSyncMark;
    }
    return true;
  }
  // Looked for also where nothing is staged (a dry run): a real run
  // would find it.
  if (!fs_->Exists(StagingOf(box))) return false;
  if (sync != nullptr) *sync = false;
  return true;
}

void PendingMarks::Clear(const std::string& box) {
  fs_->RemoveFile(box + "\\" + kFileName, nullptr);
  const std::string staging = StagingOf(box);
  if (fs_->Exists(staging)) Discard(staging);
}

bool PendingMarks::AddComplete(const std::string& box, uint64_t bytes) {
  unflushed_.push_back(box);
  unflushed_bytes_ += bytes;
  return unflushed_.size() >= kFlushMailboxes ||
         unflushed_bytes_ >= kFlushBytes;
}

void PendingMarks::StartFlush() {
  if (unflushed_.empty()) return;
  auto flush = std::make_unique<Flush>();
  flush->outcome.boxes = std::move(unflushed_);
  unflushed_.clear();
  unflushed_bytes_ = 0;
  // A message counts as copied only once it would survive a power cut:
  // the marks go after the flush. A staged mailbox was published before
  // it came here, so its files are flushed with its name. The run goes on
  // meanwhile.
  auto work = [this, raw = &flush->outcome] {
    raw->ok = fs_->SyncVolume(target_mail_dir_, &raw->error);
    if (!raw->ok) return;
    for (const std::string& box : raw->boxes) {
      fs_->RemoveFile(box + "\\" + kFileName, nullptr);
    }
  };
  try {
    flush->thread = std::thread(work);
  } catch (const std::system_error&) {
    work();  // no room for a thread: the run waits for the flush instead
  }
  flushing_ = std::move(flush);
}

PendingMarks::Outcome PendingMarks::Collect() {
  if (flushing_ == nullptr) return Outcome{{}, true, ""};
  if (flushing_->thread.joinable()) flushing_->thread.join();
  Outcome outcome = std::move(flushing_->outcome);
  flushing_.reset();
  return outcome;
}

}  // namespace vm
