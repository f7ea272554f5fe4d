#ifndef VM_XML_END_TAG_MATCHER_H_
#define VM_XML_END_TAG_MATCHER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xml/xml_scanner.h"

namespace vm {

// Finds the innermost open start tag that an end tag closes (by MatchName).
//
// The open tags are the caller's: `name_at(p)` gives the tag name at stack
// position p (0 = outermost). The innermost kLinearScan or so positions are
// compared one by one, which is all a sane document ever needs. Deeper
// positions that a search had to pass in vain are put into an index of the
// names each tag would match, so that stray end tags in a deeply nested
// text cost a lookup instead of a walk over the whole stack.
class EndTagMatcher {
 public:
  // The stack position of the innermost of positions [0, depth) closed by
  // the end-tag name in `cursor`, or -1.
  template <typename NameAt>
  int32_t Find(const ScanCursor& cursor, int32_t depth, NameAt name_at) {
    for (int32_t p = depth - 1; p >= indexed_; --p) {
      if (MatchName(cursor, name_at(p))) return p;
    }
    int32_t found = -1;
    if (indexed_ > 0) {
      auto it = keys_.find(std::string(
          cursor.text + cursor.name_start,
          static_cast<size_t>(cursor.name_end - cursor.name_start + 1)));
      if (it != keys_.end() && !it->second.empty()) found = it->second.back();
    }
    if (depth - indexed_ > kLinearScan) {
      for (int32_t p = indexed_; p < depth; ++p) Index(name_at(p), p, true);
      indexed_ = depth;
    }
    return found;
  }

  // Positions [depth, ...) have been closed.
  template <typename NameAt>
  void Truncate(int32_t depth, NameAt name_at) {
    while (indexed_ > depth) {
      --indexed_;
      Index(name_at(indexed_), indexed_, false);
    }
  }

 private:
  static constexpr int32_t kLinearScan = 32;

  // Adds position p under every name that `name` matches, or removes it.
  void Index(std::string_view name, int32_t position, bool add);

  int32_t indexed_ = 0;  // positions below this are in keys_
  std::unordered_map<std::string, std::vector<int32_t>> keys_;
};

}  // namespace vm

#endif  // VM_XML_END_TAG_MATCHER_H_
