#include "config/shared_config_states.h"

#include <algorithm>

namespace vm {

SharedConfigState& SharedConfigStates::For(const std::string& file_name) {
  MutexLock guard(&mutex_);
  std::unique_ptr<SharedConfigState>& state = by_name_[file_name];
  if (state == nullptr) state = std::make_unique<SharedConfigState>(file_name);
  return *state;
}

void SharedConfigStates::InterruptCurrentLockWaits() {
  MutexLock guard(&mutex_);
  for (auto& [name, state] : by_name_)
    state->named_lock.InterruptCurrentWaits();
}

int64_t SharedConfigStates::LongestLockHoldMicros() {
  MutexLock guard(&mutex_);
  int64_t longest = 0;
  for (auto& [name, state] : by_name_) {
    longest = std::max(longest, state->named_lock.LongestHoldMicros());
  }
  return longest;
}

bool SharedConfigStates::LocksUsable(std::string* error) {
  for (const char* name : {"domain.cfg", "userauth.cfg"}) {
    *error = For(name).named_lock.error();
    if (!error->empty()) return false;
  }
  return true;
}

}  // namespace vm
