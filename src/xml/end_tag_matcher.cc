#include "xml/end_tag_matcher.h"

#include "xml/xml_document.h"

namespace vm {

// An end-tag name matches a start-tag name when it equals the whole name or
// a prefix of it that is followed by one of " =/[]".
void EndTagMatcher::Index(std::string_view name, int32_t position, bool add) {
  for (size_t length = 0; length <= name.size(); ++length) {
    if (length < name.size() && std::string_view(" =/[]").find(name[length]) ==
                                    std::string_view::npos) {
      continue;
    }
    std::vector<int32_t>& positions =
        keys_[std::string(name.substr(0, length))];
    if (add) {
      positions.push_back(position);
    } else if (!positions.empty() && positions.back() == position) {
      positions.pop_back();
    }
  }
}

}  // namespace vm
