#include "migrate/read_ahead.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <utility>

#include "migrate/source_mailbox.h"
#include "platform/file_system.h"

namespace vm {

namespace {

// An index this large is read by the run itself, if at all.
constexpr uint64_t kMaxReadBytes = uint64_t{64} << 20;
// Of the texts read, this much per mailbox is kept for the run, which
// then need not read them again.
constexpr size_t kMaxKeptText = size_t{256} << 10;

}  // namespace

ReadAhead::ReadAhead(FileSystem* fs, std::string dir,
                     std::vector<std::string> names, Options options)
    : fs_(fs),
      dir_(std::move(dir)),
      names_(std::move(names)),
      options_(std::move(options)) {
  by_name_.resize(std::min<size_t>(names_.size(), UINT32_MAX));
  for (size_t i = 0; i < by_name_.size(); ++i) {
    by_name_[i] = static_cast<uint32_t>(i);
  }
  std::stable_sort(
      by_name_.begin(), by_name_.end(),
      [this](uint32_t a, uint32_t b) { return names_[a] < names_[b]; });
  const size_t count = static_cast<size_t>(std::max(1, options_.threads));
  room_ = std::make_unique<std::condition_variable[]>(count);
  {
    MutexLock lock(&mutex_);
    awaited_.assign(count, kNoPlace);
  }
  for (size_t first = 0; first < count && first < names_.size(); ++first) {
    try {
      threads_.emplace_back([this, first, count] { Read(first, count); });
    } catch (const std::system_error&) {
      // No room for another thread: the mailboxes it would have read are
      // listed by the run itself, as Take finds them not read.
      break;
    }
  }
}

ReadAhead::~ReadAhead() {
  {
    MutexLock lock(&mutex_);
    stopping_ = true;
  }
  for (size_t i = 0; i < threads_.size(); ++i) room_[i].notify_one();
  for (std::thread& thread : threads_) thread.join();
}

size_t ReadAhead::PlaceOf(const std::string& box) const {
  if (box.size() <= dir_.size() + 1 || !box.starts_with(dir_) ||
      box[dir_.size()] != '\\') {
    return kNoPlace;
  }
  const std::string_view name = std::string_view(box).substr(dir_.size() + 1);
  auto it = std::lower_bound(
      by_name_.begin(), by_name_.end(), name,
      [this](uint32_t place, std::string_view n) { return names_[place] < n; });
  return it != by_name_.end() && names_[*it] == name ? *it : kNoPlace;
}

void ReadAhead::Reached(const std::string& box) {
  const size_t place = PlaceOf(box);
  if (place == kNoPlace) return;
  {
    MutexLock lock(&mutex_);
    if (place <= reached_) return;
    reached_ = place;
    kept_.erase(kept_.begin(), kept_.lower_bound(reached_));
    WakeReadersLocked();
  }
}

void ReadAhead::WakeReadersLocked() {
  const size_t window = std::max<size_t>(1, options_.window);
  for (size_t i = 0; i < awaited_.size(); ++i) {
    if (awaited_[i] != kNoPlace && awaited_[i] < reached_ + window) {
      room_[i].notify_one();
    }
  }
}

bool ReadAhead::Take(const std::string& box, MailboxListing* listing) {
  const size_t place = PlaceOf(box);
  if (place == kNoPlace) return false;
  MutexLock lock(&mutex_);
  // A box being read is waited for: reading it again here would only
  // read the same entries twice while the disk is busiest.
  while (reading_.count(place) > 0) lock.Wait(&read_);
  auto it = kept_.find(place);
  if (it == kept_.end()) return false;
  *listing = std::move(it->second);
  kept_.erase(it);
  return true;
}

void ReadAhead::Read(size_t first, size_t step) {
  const size_t window = std::max<size_t>(1, options_.window);
  for (size_t i = first; i < names_.size(); i += step) {
    {
      MutexLock lock(&mutex_);
      awaited_[first] = i;
      while (!stopping_ && i >= reached_ + window) lock.Wait(&room_[first]);
      awaited_[first] = kNoPlace;
      if (stopping_) return;
      // A box the run has passed was listed by the run itself: reading it
      // now would only keep this thread behind the run.
      if (i < reached_) continue;
      reading_.insert(i);
    }
    ReadBox(i);
    {
      MutexLock lock(&mutex_);
      reading_.erase(i);
    }
    read_.notify_all();
  }
}

// Lists the mailbox and reads the files the run reads whole (the folder
// list and the indexes), keeping the listing and the smaller texts for the
// run.
void ReadAhead::ReadBox(size_t place) {
  MailboxListing box(fs_, dir_ + "\\" + names_[place], options_.clock);
  const std::vector<DirEntry>& entries = box.entries;
  size_t kept = 0;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory || entry.is_special || entry.size > kMaxReadBytes ||
        !IsListOrIndexName(entry.name)) {
      continue;
    }
    std::string text;
    if (fs_->ReadFile(entry.path, &text, nullptr) &&
        kept + text.size() <= kMaxKeptText) {
      kept += text.size();
      box.texts.emplace(entry.name, std::move(text));
    }
  }
  auto target_of = options_.targets.find(place);
  const std::string* target =
      target_of != options_.targets.end() ? &target_of->second : nullptr;
  if (options_.messages && target == nullptr) {
    for (const DirEntry& entry : entries) {
      if (!entry.is_directory && !entry.is_special && entry.size > 0 &&
          IsMessageFileName(entry.name)) {
        fs_->Prefetch(entry.path);
      }
    }
  }
  if (options_.list_targets && target != nullptr) {
    box.target = ListTarget(*target);
    if (box.target->count > kMaxKeptEntries) box.target.reset();
  }
  if (entries.size() > kMaxKeptEntries) return;
  MutexLock lock(&mutex_);
  // A box the run has passed is no longer wanted.
  if (place >= reached_) kept_.emplace(place, std::move(box));
}

// Lists the target mailbox and each of its folders, the folders by names
// (FileSystem::ListNames): the mirror tells the sizes it needs.
std::shared_ptr<const TargetListing> ReadAhead::ListTarget(
    const std::string& box) {
  auto target = std::make_shared<TargetListing>();
  target->box = box;
  target->listed = fs_->List(box + "\\*", &target->entries);
  target->folders.resize(target->entries.size());
  target->count = target->entries.size();
  for (size_t i = 0; target->listed && i < target->entries.size(); ++i) {
    const DirEntry& folder = target->entries[i];
    std::vector<DirEntry> files;
    if (folder.is_directory && !folder.is_special &&
        !folder.unconvertible_name &&
        fs_->ListNames(folder.path + "\\*", &files)) {
      target->count += files.size();
      target->folders[i] = std::move(files);
    }
  }
  return target;
}

}  // namespace vm
