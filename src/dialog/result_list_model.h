#ifndef VM_APP_RESULT_LIST_MODEL_H_
#define VM_APP_RESULT_LIST_MODEL_H_

#include <string>
#include <vector>

#include "dialog/line_queue.h"

namespace vm {

// The lines behind the dialog's result list, an owner-data list: the
// control holds no text, only the count, and asks for a line by index when
// it draws it, so the list takes as many lines as memory does. Used on the
// window's thread only.
class ResultListModel {
 public:
  // What a batch of changes asks of the control beyond the new count.
  struct Applied {
    bool reset = false;       // the list was emptied (selection gone)
    bool follow_end = false;  // scroll to the last line
  };

  Applied Apply(const std::vector<LineChange>& changes);

  int Count() const { return static_cast<int>(lines_.size()); }
  // Empty for an index outside the list (a control may ask during a reset).
  const std::string& Line(int index) const;
  // The lines at `indices`, in that order, each ended by CR LF: the text a
  // copy puts on the clipboard.
  std::string Join(const std::vector<int>& indices) const;

 private:
  std::vector<std::string> lines_;
  std::string none_;
};

}  // namespace vm

#endif  // VM_APP_RESULT_LIST_MODEL_H_
