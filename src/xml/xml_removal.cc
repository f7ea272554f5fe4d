// Taking elements out again: each with the layout its insertion wrote, so
// that undoing an insertion gives back the text from before it.

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "xml/xml_document.h"

namespace vm {
namespace {

bool HasAt(const std::string& text, int64_t at, const std::string& part) {
  return at >= 0 && static_cast<size_t>(at) + part.size() <= text.size() &&
         text.compare(static_cast<size_t>(at), part.size(), part) == 0;
}

// The edits made so far, each as (its element's start in the parsed text,
// the change in length): where an untouched element now starts.
class Shifts {
 public:
  int64_t Now(int32_t start) const {
    int64_t at = start;
    for (const auto& [from, delta] : edits_) {
      if (from < start) at += delta;
    }
    return at;
  }
  void Add(int32_t start, int64_t delta) { edits_.emplace_back(start, delta); }

 private:
  std::vector<std::pair<int32_t, int64_t>> edits_;
};

}  // namespace

bool XmlDocument::RemovableSet(
    const std::vector<ElementRemoval>& removals) const {
  std::unordered_set<int32_t> listed;
  for (const ElementRemoval& r : removals) {
    if (r.element <= 0 || !ValidIndex(r.element)) return false;
    if (!listed.insert(r.element).second) return false;
  }
  for (const ElementRemoval& r : removals) {
    for (int32_t up = Rec(r.element).parent; up != 0; up = Rec(up).parent) {
      if (listed.count(up) != 0) return false;
    }
  }
  return true;
}

bool XmlDocument::RemoveElements(const std::vector<ElementRemoval>& removals) {
  if (!RemovableSet(removals)) return false;
  std::string text = text_;
  Shifts shifts;
  for (const ElementRemoval& r : removals) {
    const ElementRecord& e = Rec(r.element);
    const int64_t start = shifts.Now(e.start);
    const int64_t end = start + e.length;
    const InsertionLayout& layout = r.layout;
    int64_t from = start;
    int64_t to = end;
    std::string put_back;
    if (HasAt(text, start - static_cast<int64_t>(layout.before.size()),
              layout.before) &&
        HasAt(text, end, layout.after)) {
      from -= static_cast<int64_t>(layout.before.size());
      to += static_cast<int64_t>(layout.after.size());
      put_back = layout.replaced;
    } else if (HasAt(text, end, "\r\n")) {
      to += 2;
    } else if (HasAt(text, end, "\n")) {
      to += 1;
    }
    text.replace(static_cast<size_t>(from), static_cast<size_t>(to - from),
                 put_back);
    shifts.Add(e.start, static_cast<int64_t>(put_back.size()) - (to - from));
  }
  const bool was_well_formed = CheckWellFormed();
  std::string old = std::move(text_);
  text_ = std::move(text);
  Reparse();
  if (was_well_formed && !CheckWellFormed()) {
    text_ = std::move(old);
    Reparse();
    return false;
  }
  return true;
}

}  // namespace vm
