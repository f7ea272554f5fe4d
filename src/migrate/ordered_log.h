#ifndef VM_MIGRATE_ORDERED_LOG_H_
#define VM_MIGRATE_ORDERED_LOG_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "migrate/run_host.h"

namespace vm {

// A RunHost that lets a step write its result lines before the work they
// report has finished, while the real host still receives exactly the
// calls, in exactly the order, of a run that did everything one thing at a
// time.
//
// A step appends a Pending piece where the lines of unfinished work belong
// (for a folder: after its in-progress line). Calls that come after a piece
// that is not ready are held back; Pump passes on, in order, every held
// call and ready piece up to the first piece that is still not ready.
// Every call other than the three result-list writes first waits until
// nothing is held. Used from the run's thread only. While calls are held,
// AppendLogLine returns 0: the line's index is not known yet.
class OrderedLog : public RunHost {
 public:
  class Pending {
   public:
    virtual ~Pending() = default;
    // True once the work is done; may be asked from the run's thread at
    // any time.
    virtual bool Ready() const = 0;
    // Writes the piece's lines to `host`; called once, on the run's thread,
    // in order.
    virtual void Release(RunHost* host) = 0;
  };

  explicit OrderedLog(RunHost* host) : host_(host) {}

  // `wait` blocks until some work may have finished; called while pieces
  // are held and the log must drain, or holds more than `max_held` calls.
  void SetWaiter(std::function<void()> wait, size_t max_held);

  void Add(std::unique_ptr<Pending> pending);
  // Runs `call` now when nothing is held, else when the calls before it
  // are passed on (for other observers of the run that must see the same
  // order).
  void Then(std::function<void()> call);
  void Pump();
  // Pumps and waits until nothing is held.
  void Drain();
  size_t held() const { return held_.size(); }

  int AppendLogLine(const std::string& line) override;
  void RemoveLastLine() override;
  void SelectLastLine() override;
  int LineCount() override;
  void ResetLog() override;
  void ShowMessage(MessageKind kind, const std::string& text) override;
  SourceDomainList* GetSourceDomains() override;

 private:
  struct Held {
    enum Kind { kAppend, kRemove, kSelect, kPending, kCall } kind;
    std::string line;
    std::unique_ptr<Pending> pending;
    std::function<void()> call;
  };

  void Hold(Held held);
  // Pumps; true when a call now goes straight to the host: nothing is held,
  // or it comes from the piece being released (and belongs at its place).
  bool PassOn();

  RunHost* host_;
  std::deque<Held> held_;
  std::function<void()> wait_;
  size_t max_held_ = 0;
  bool releasing_ = false;  // inside Pump
};

}  // namespace vm

#endif  // VM_MIGRATE_ORDERED_LOG_H_
