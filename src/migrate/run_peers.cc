#include "migrate/run_peers.h"

#include <cstdint>
#include <cstdio>

namespace vm {

namespace {

constexpr auto kAskEvery = std::chrono::milliseconds(500);

// A short name for a store path, the same in every process.
std::string KeyHash(const std::string& key) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : key) {
    hash = (hash ^ c) * 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof(text), "%016llx",
                static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

RunPeers::RunPeers(const std::string& store_key) {
  const std::string prefix = "velquor-migrate.run." + KeyHash(store_key) + ".";
  for (int i = 0; i < kSlots; ++i) {
    slots_.push_back(OpenInterprocessLock(prefix + std::to_string(i)));
    if (mine_ < 0 && slots_.back() != nullptr &&
        slots_.back()->LockWithin(0) == LockResult::kLocked) {
      mine_ = i;
    }
  }
}

RunPeers::~RunPeers() {
  if (mine_ >= 0) slots_[static_cast<size_t>(mine_)]->Unlock();
}

bool RunPeers::OthersAtWork() {
  const auto now = std::chrono::steady_clock::now();
  if (asked_ && now - *asked_ < kAskEvery) return others_;
  asked_ = now;
  others_ = false;
  for (int i = 0; i < kSlots && !others_; ++i) {
    InterprocessLock* slot = slots_[static_cast<size_t>(i)].get();
    if (i == mine_ || slot == nullptr) continue;
    if (slot->LockWithin(0) == LockResult::kLocked) {
      slot->Unlock();
    } else {
      others_ = true;
    }
  }
  return others_;
}

}  // namespace vm
