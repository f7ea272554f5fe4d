#include "migrate/folder_maker.h"

#include <utility>

#include "platform/file_system.h"

namespace vm {

FolderMaker::FolderMaker(FileSystem* fs, std::vector<std::string> dirs)
    : fs_(fs), dirs_(std::move(dirs)) {}

void FolderMaker::Make() {
  std::vector<bool> made;
  for (const std::string& dir : dirs_) {
    made.push_back(fs_->CreateDir(dir, nullptr));
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
