#ifndef VM_MIGRATE_LAZY_USERS_H_
#define VM_MIGRATE_LAZY_USERS_H_

#include <memory>
#include <string>
#include <utility>

#include "config/user_store.h"

namespace vm {

struct TargetContext;

// The target's user list, read only once something asks for it: on a large
// server it is tens of megabytes, and a sync that finds every account as
// the sync record vouches has no need of it. Used from the run's thread
// only.
class LazyUsers {
 public:
  explicit LazyUsers(TargetContext* target) : target_(target) {}
  LazyUsers(const LazyUsers&) = delete;
  LazyUsers& operator=(const LazyUsers&) = delete;

  // The store, read now if not yet.
  UserStore* get() {
    if (store_ == nullptr) {
      store_ = std::make_unique<UserStore>(target_);
      if (write_ahead_) store_->SetWriteAhead(std::move(write_ahead_));
    }
    return store_.get();
  }
  bool loaded() const { return store_ != nullptr; }
  // The file the store reads (or would read).
  std::string path() const { return UserStore::PathFor(target_); }
  // Given to the store once it is read (see ConfigFile::SetWriteAhead).
  void SetWriteAhead(ConfigFile::WriteAhead write_ahead) {
    if (store_ != nullptr) {
      store_->SetWriteAhead(std::move(write_ahead));
    } else {
      write_ahead_ = std::move(write_ahead);
    }
  }

 private:
  TargetContext* target_;
  std::unique_ptr<UserStore> store_;
  ConfigFile::WriteAhead write_ahead_;
};

}  // namespace vm

#endif  // VM_MIGRATE_LAZY_USERS_H_
