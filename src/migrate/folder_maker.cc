#include "migrate/folder_maker.h"

#include <utility>

#include "migrate/run_manifest.h"
#include "migrate/staged_mailbox.h"
#include "platform/file_system.h"

namespace vm {

FolderMaker::FolderMaker(FileSystem* fs, std::vector<std::string> dirs,
                         ManifestWriter* manifest,
                         std::shared_ptr<StagedMailbox> staged,
                         std::string mark)
    : fs_(fs),
      manifest_(manifest),
      staged_(std::move(staged)),
      dirs_(std::move(dirs)),
      mark_(std::move(mark)) {}

void FolderMaker::Make() {
  const bool marked = mark_.empty() || fs_->WriteFile(mark_, "", nullptr);
  std::vector<bool> made;
  for (const std::string& dir : dirs_) {
    const DirMade result = fs_->MakeDir(dir, nullptr);
    if (result == DirMade::kMade && staged_ != nullptr) {
      staged_->MadeDirectory(dir);
    } else if (result == DirMade::kMade && manifest_ != nullptr) {
      manifest_->Add(DirectoryEntry(dir));
    }
    made.push_back(result != DirMade::kFailed);
  }
  {
    MutexLock lock(&mutex_);
    made_ = std::move(made);
    marked_ = marked;
    finished_ = true;
  }
  finished_changed_.notify_all();
}

void FolderMaker::Wait() const {
  MutexLock lock(&mutex_);
  while (!finished_) lock.Wait(&finished_changed_);
}

bool FolderMaker::finished() const {
  MutexLock lock(&mutex_);
  return finished_;
}

bool FolderMaker::marked() const {
  MutexLock lock(&mutex_);
  return finished_ && marked_;
}

bool FolderMaker::made(size_t i) const {
  MutexLock lock(&mutex_);
  return finished_ && i < made_.size() && made_[i];
}

}  // namespace vm
