#ifndef VM_MIGRATE_RUN_PEERS_H_
#define VM_MIGRATE_RUN_PEERS_H_

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/interprocess_lock.h"

namespace vm {

// The other runs at work on one mail store from this machine now. Each run
// holds one of a few named locks of the store for its lifetime (a run that
// dies lets go of it), so that a run can tell whether a pending mark it
// finds may be another run's mark of a mailbox still in progress, rather
// than one left by a run that ended before its mail was copied.
class RunPeers {
 public:
  static constexpr int kSlots = 4;

  // Takes the first free lock of the store named `store_key` (a run that
  // finds none free goes on unseen by the others).
  explicit RunPeers(const std::string& store_key);
  RunPeers(const RunPeers&) = delete;
  RunPeers& operator=(const RunPeers&) = delete;
  ~RunPeers();

  // Whether another run holds one of the locks now; asked again at most
  // twice a second.
  bool OthersAtWork();

 private:
  std::vector<std::unique_ptr<InterprocessLock>> slots_;
  int mine_ = -1;
  bool others_ = false;
  std::optional<std::chrono::steady_clock::time_point> asked_;
};

}  // namespace vm

#endif  // VM_MIGRATE_RUN_PEERS_H_
