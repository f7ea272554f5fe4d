#include "config/config_file.h"

#include <algorithm>
#include <utility>

#include "config/target_context.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/md5.h"

namespace vm {
int32_t FirstChildNamed(const XmlDocument& doc, int32_t parent,
                        std::string_view name) {
  for (int32_t i = doc.Element(parent).first_child; i != 0;
       i = doc.Element(i).next) {
    if (doc.ElementName(i) == name) return i;
  }
  return 0;
}

int32_t FindList(const XmlDocument& doc, std::string_view name) {
  if (doc.ElementCount() <= 1) return 0;
  int32_t root = FirstChildNamed(doc, 0, "database");
  return root == 0 ? 0 : FirstChildNamed(doc, root, name);
}

std::string ReadFileText(FileSystem* fs, const std::string& path) {
  std::string text;
  if (!fs->ReadFile(path, &text, nullptr)) text.clear();
  return text;
}

bool WriteFileText(FileSystem* fs, const std::string& path,
                   const std::string& text, std::string* error) {
  return fs->ReplaceContents(path, text, error);
}

ConfigFile::ConfigFile(TargetContext* context, const std::string& file_name,
                       const std::string& preferred,
                       const std::string& fallback)
    : context_(context),
      path_(ChoosePath(context, preferred, fallback)),
      shared_(&context->states->For(file_name)) {
  MutexLock guard(&mutex_);
  LoadDocumentLocked();
  last_save_ms_ = context_->clock->MonotonicMillis();
}

std::string ConfigFile::ChoosePath(TargetContext* context,
                                   const std::string& preferred,
                                   const std::string& fallback) {
  const std::string path = context->target_dir + preferred;
  return context->fs->Exists(path) ? path : context->target_dir + fallback;
}

ConfigFile::~ConfigFile() { Close(); }

void ConfigFile::Close() {
  MutexLock guard(&mutex_);
  if (open_) SavePendingLocked();
  open_ = false;
}

bool ConfigFile::SameFile() const {
  return shared_->cached_fs == context_->fs && shared_->cached_path == path_;
}

void ConfigFile::Load() {
  MutexLock guard(&mutex_);
  LoadDocumentLocked();
  pending_ = 0;
  Loaded();
}

void ConfigFile::LoadDocumentLocked() {
  int64_t time;
  {
    ScopedConfigLock cache(&shared_->cache_lock);
    if (SameFile()) {
      time = shared_->cached_time;
      document_ = shared_->cached_document;
    } else {
      time = 0;
      document_ = XmlDocument();
    }
  }
  NoteSavedLocked();
  int64_t modified;
  if (context_->fs->ModifiedTime(path_, &modified)) {
    if (modified <= time && document_.CheckWellFormed()) return;
    time = modified;
  }
  std::string text;
  {
    // A file whose lock cannot be had reads as a file that cannot be read.
    ScopedNamedLock file(&shared_->named_lock, context_->lock_waits);
    if (file.locked()) text = ReadFileText(context_->fs, path_);
  }
  if (text.empty()) return;
  XmlDocument parsed;
  const bool ok = parsed.LoadText(std::move(text));
  // An ill-formed file is not taken, and a cached parse of it is dropped.
  KeepInCache(ok ? &parsed : nullptr, time);
  if (!ok) return;
  document_ = std::move(parsed);
  NoteSavedLocked();
}

void ConfigFile::KeepInCache(const XmlDocument* document, int64_t time) {
  ScopedConfigLock cache(&shared_->cache_lock);
  shared_->cached_fs = context_->fs;
  shared_->cached_path = path_;
  if (document != nullptr &&
      document->DocumentText().size() <= kCachedTextLimit) {
    shared_->cached_document = *document;
    shared_->cached_time = time;
  } else {
    // A large file is not held twice: a store that opens it later reads
    // and parses it again.
    shared_->cached_document = XmlDocument();
    shared_->cached_time = 0;
  }
}

bool ConfigFile::SavedText(uint64_t* size, std::string* digest) const {
  MutexLock guard(&mutex_);
  if (pending_ != 0 || save_error_.failure != SaveFailure::kNone ||
      saved_size_ == 0) {
    return false;
  }
  *size = saved_size_;
  *digest = saved_digest_;
  return true;
}

bool ConfigFile::Untouched() const {
  MutexLock guard(&mutex_);
  return !wrote_ && pending_ == 0 && save_error_.failure == SaveFailure::kNone;
}

void ConfigFile::NoteSavedLocked() {
  saved_size_ = document_.DocumentText().size();
  saved_digest_ = Md5Hex(document_.DocumentText());
}

bool ConfigFile::FileChangedLocked(bool* readable, std::string* error) const {
  // Read block by block into a digest: the file is never held whole beside
  // the document's own text.
  Md5 digest;
  bool longer = false;
  const uint64_t saved_size = saved_size_;
  *readable = context_->fs->ReadFileBy(
                  path_,
                  [&](std::string_view piece) {
                    // A file longer than the one saved has changed: the
                    // read stops there.
                    longer = digest.size() + piece.size() > saved_size;
                    if (!longer) digest.Update(piece);
                    return !longer;
                  },
                  error) ||
              longer;
  if (longer) return true;
  // A file that cannot be read counts as changed when one was saved.
  if (!*readable) return saved_size_ != 0;
  return digest.size() != saved_size_ || digest.Hex() != saved_digest_;
}

bool ConfigFile::Merge(XmlDocument*) { return false; }

bool ConfigFile::SavePending() {
  MutexLock guard(&mutex_);
  return SavePendingLocked();
}

bool ConfigFile::SavePendingLocked() { return pending_ == 0 || SaveLocked(); }

bool ConfigFile::SaveIfDue() {
  MutexLock guard(&mutex_);
  const int64_t wait = std::clamp(kSaveCostFactor * last_save_cost_ms_,
                                  kGroupCommitMillis, kMaxGroupCommitMillis);
  if (pending_ == 0 ||
      context_->clock->MonotonicMillis() - last_save_ms_ < wait) {
    return true;
  }
  return SaveLocked();
}

bool ConfigFile::Save() {
  MutexLock guard(&mutex_);
  return SaveLocked();
}

bool ConfigFile::SaveLocked() {
  const int64_t start = context_->clock->MonotonicMillis();
  save_error_ = WriteMergedLocked();
  const bool written = save_error_.failure == SaveFailure::kNone;
  last_save_ms_ = context_->clock->MonotonicMillis();
  last_save_cost_ms_ = last_save_ms_ - start;
  if (written) {
    wrote_ = true;
    pending_ = 0;
    PendingSaved();
  }
  return written;
}

bool ConfigFile::HasPending() const {
  MutexLock guard(&mutex_);
  return pending_ != 0;
}

void ConfigFile::SetWriteAhead(WriteAhead write_ahead) {
  MutexLock guard(&mutex_);
  write_ahead_ = std::move(write_ahead);
}

SaveError ConfigFile::last_save_error() const {
  MutexLock guard(&mutex_);
  return save_error_;
}

SaveError ConfigFile::WriteMergedLocked() {
  if (document_.DocumentText().empty())
    return {SaveFailure::kNothingLoaded, {}};
  {
    ScopedNamedLock file(&shared_->named_lock, context_->lock_waits);
    if (!file.locked()) return {SaveFailure::kLockTimeout, {}};
    std::string error;
    bool readable = true;
    if (FileChangedLocked(&readable, &error)) {
      // Another writer changed the file since this store read or wrote it.
      if (!readable) return {SaveFailure::kUnreadable, ParseFileError(error)};
      std::string disk;
      if (!context_->fs->ReadFile(path_, &disk, &error)) {
        return {SaveFailure::kUnreadable, ParseFileError(error)};
      }
      XmlDocument fresh;
      if (!fresh.LoadText(std::move(disk)) || !Merge(&fresh)) {
        return {SaveFailure::kUnmergeable, {}};
      }
    }  // the text read is let go before the new one is written
    if (write_ahead_ && !write_ahead_(AboutToWriteLocked(), &error)) {
      return {SaveFailure::kRecord, ParseFileError(error)};
    }
    if (!WriteFileText(context_->fs, path_, document_.DocumentText(), &error)) {
      return {SaveFailure::kWrite, ParseFileError(error)};
    }
  }
  NoteSavedLocked();
  int64_t time;
  {
    ScopedConfigLock cache(&shared_->cache_lock);
    time = SameFile() ? shared_->cached_time : 0;
  }
  KeepInCache(&document_, time);
  return {};
}

}  // namespace vm
