#include "migrate/folder_maker.h"

#include <utility>

#include "migrate/run_manifest.h"
#include "platform/file_system.h"

namespace vm {

FolderMaker::FolderMaker(FileSystem* fs, std::vector<std::string> dirs,
                         ManifestWriter* manifest)
    : fs_(fs), manifest_(manifest), dirs_(std::move(dirs)) {}

void FolderMaker::Make() {
  std::vector<bool> made;
  for (const std::string& dir : dirs_) {
    const DirMade result = fs_->MakeDir(dir, nullptr);
    if (result == DirMade::kMade && manifest_ != nullptr) {
      manifest_->Add(DirectoryEntry(dir));
    }
    made.push_back(result != DirMade::kFailed);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    made_ = std::move(made);
    finished_ = true;
  }
  finished_changed_.notify_all();
}

void FolderMaker::Wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_changed_.wait(lock, [this] { return finished_; });
}

bool FolderMaker::finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool FolderMaker::made(size_t i) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_ && i < made_.size() && made_[i];
}

}  // namespace vm
