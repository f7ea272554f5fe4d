#include "util/split_string.h"

namespace vm {

void SplitString(std::string_view text, std::string_view separator,
                 std::vector<std::string>* fields) {
  fields->clear();
  size_t offset = 0;
  if (!separator.empty()) {
    for (size_t p = text.find(separator); p != std::string_view::npos;
         p = text.find(separator, offset)) {
      fields->emplace_back(text.substr(offset, p - offset));
      offset = p + separator.size();
    }
  }
  if (offset < text.size()) fields->emplace_back(text.substr(offset));
}

}  // namespace vm
