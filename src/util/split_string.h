#ifndef VM_UTIL_SPLIT_STRING_H_
#define VM_UTIL_SPLIT_STRING_H_

#include <string>
#include <string_view>
#include <vector>

namespace vm {

// Cuts `text` at every occurrence of `separator` (matched as a whole) and
// replaces the contents of `fields` with the pieces. Empty pieces between
// separators or before a leading one are kept; an empty piece after the last
// separator is dropped, so "a\t" gives {"a"} and "" gives {}. An empty
// separator yields the whole text as one field (none for an empty text).
void SplitString(std::string_view text, std::string_view separator,
                 std::vector<std::string>* fields);

}  // namespace vm

#endif  // VM_UTIL_SPLIT_STRING_H_
