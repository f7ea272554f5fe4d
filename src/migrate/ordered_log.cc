#include "migrate/ordered_log.h"

#include <utility>

namespace vm {

void OrderedLog::SetWaiter(std::function<void()> wait, size_t max_held) {
  wait_ = std::move(wait);
  max_held_ = max_held;
}

void OrderedLog::Add(std::unique_ptr<Pending> pending) {
  Held held{Held::kPending, std::string(), std::move(pending), nullptr};
  if (held_.empty() && held.pending->Ready()) {
    held.pending->Release(host_);
    return;
  }
  Hold(std::move(held));
}

void OrderedLog::Then(std::function<void()> call) {
  if (PassOn()) {
    call();
    return;
  }
  Hold(Held{Held::kCall, std::string(), nullptr, std::move(call)});
}

void OrderedLog::Hold(Held held) {
  held_.push_back(std::move(held));
  // Bounded: a step that runs far ahead of its work waits for it.
  while (wait_ && held_.size() > max_held_) {
    wait_();
    Pump();
  }
}

void OrderedLog::Pump() {
  if (releasing_) return;
  releasing_ = true;
  while (!held_.empty()) {
    Held& front = held_.front();
    switch (front.kind) {
      case Held::kAppend:
        host_->AppendLogLine(front.line);
        break;
      case Held::kRemove:
        host_->RemoveLastLine();
        break;
      case Held::kSelect:
        host_->SelectLastLine();
        break;
      case Held::kPending:
        if (!front.pending->Ready()) {
          releasing_ = false;
          return;
        }
        front.pending->Release(host_);
        break;
      case Held::kCall:
        front.call();
        break;
    }
    held_.pop_front();
  }
  releasing_ = false;
}

bool OrderedLog::PassOn() {
  Pump();
  return releasing_ || held_.empty();
}

void OrderedLog::Drain() {
  // From inside a release the calls before it are passed on already.
  if (releasing_) return;
  Pump();
  while (!held_.empty()) {
    if (wait_) wait_();
    Pump();
  }
}

int OrderedLog::AppendLogLine(const std::string& line) {
  if (PassOn()) return host_->AppendLogLine(line);
  Hold(Held{Held::kAppend, line, nullptr, nullptr});
  return 0;  // not known yet; no step uses it
}

void OrderedLog::RemoveLastLine() {
  if (PassOn()) {
    host_->RemoveLastLine();
    return;
  }
  Hold(Held{Held::kRemove, std::string(), nullptr, nullptr});
}

void OrderedLog::SelectLastLine() {
  if (PassOn()) {
    host_->SelectLastLine();
    return;
  }
  Hold(Held{Held::kSelect, std::string(), nullptr, nullptr});
}

int OrderedLog::LineCount() {
  Drain();
  return host_->LineCount();
}

void OrderedLog::ResetLog() {
  Drain();
  host_->ResetLog();
}

void OrderedLog::ShowMessage(MessageKind kind, const std::string& text) {
  Drain();
  host_->ShowMessage(kind, text);
}

SourceDomainList* OrderedLog::GetSourceDomains() {
  // The lists are the host's data, not a call the user sees.
  return host_->GetSourceDomains();
}

}  // namespace vm
