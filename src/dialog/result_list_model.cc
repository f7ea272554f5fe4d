#include "dialog/result_list_model.h"

namespace vm {

ResultListModel::Applied ResultListModel::Apply(
    const std::vector<LineChange>& changes) {
  Applied applied;
  for (const LineChange& change : changes) {
    switch (change.kind) {
      case LineChange::kAppend:
        lines_.push_back(change.line);
        break;
      case LineChange::kRemoveLast:
        if (!lines_.empty()) lines_.pop_back();
        break;
      case LineChange::kFollowEnd:
        applied.follow_end = true;
        break;
      case LineChange::kReset:
        lines_.clear();
        applied = Applied();
        applied.reset = true;
        break;
    }
  }
  return applied;
}

const std::string& ResultListModel::Line(int index) const {
  if (index < 0 || index >= Count()) return none_;
  return lines_[static_cast<size_t>(index)];
}

std::string ResultListModel::Join(const std::vector<int>& indices) const {
  std::string text;
  for (int index : indices) {
    text += Line(index);
    text += "\r\n";
  }
  return text;
}

}  // namespace vm
