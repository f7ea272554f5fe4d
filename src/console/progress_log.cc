#include "console/progress_log.h"

#include <algorithm>

namespace vm {

ProgressLog::ProgressLog(LogView* view, TextMeasurer* measurer)
    : view_(view), measurer_(measurer) {}

int ProgressLog::AppendLogLine(const std::string& line) {
  int result = view_->AddLine(line);
  if (result >= 0) {
    int width = 0;
    int32_t before = prefix_max_.empty() ? 0 : prefix_max_.back();
    bool measured = before >= 0 && measurer_->Measure(line, &width);
    prefix_max_.push_back(measured ? std::max(before, width) : -1);
  }
  RefreshHorizontalExtent();
  return result;
}

void ProgressLog::RemoveLastLine() {
  int count = view_->LineCount();
  if (count < 1) return;
  view_->DeleteLine(count - 1);
  if (prefix_max_.size() > static_cast<size_t>(count - 1)) {
    prefix_max_.resize(count - 1);
  }
}

void ProgressLog::SelectLastLine() { view_->Select(view_->LineCount() - 1); }

int ProgressLog::LineCount() { return view_->LineCount(); }

void ProgressLog::Reset() {
  view_->Reset();
  prefix_max_.clear();
}

void ProgressLog::RefreshHorizontalExtent() {
  int count = view_->LineCount();
  if (count < 1) {
    view_->SetHorizontalExtent(0);
    return;
  }
  if (prefix_max_.size() != static_cast<size_t>(count) ||
      prefix_max_.back() < 0) {
    // Out of step with the view, or a line went unmeasured: measure all.
    std::vector<int32_t> widths;
    widths.reserve(count);
    int32_t widest = 0;
    for (int i = 0; i < count; ++i) {
      int width = 0;
      if (!measurer_->Measure(view_->LineText(i), &width)) return;
      widest = std::max(widest, static_cast<int32_t>(width));
      widths.push_back(widest);
    }
    prefix_max_ = std::move(widths);
  }
  view_->SetHorizontalExtent(prefix_max_.back());
}

}  // namespace vm
