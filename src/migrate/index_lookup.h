#ifndef VM_MIGRATE_INDEX_LOOKUP_H_
#define VM_MIGRATE_INDEX_LOOKUP_H_

#include <string>
#include <string_view>
#include <vector>

namespace vm {

// The size flag of one index line: its fields are separated by form feed +
// TAB, and the flag is set when the eighth field's decimal value is 1
// (leading white space, optional sign, digits; anything after is ignored).
// A line with fewer than eight fields leaves the flag clear.
bool SizeFlagOfIndexLine(std::string_view line);

// The size flags of all messages of one folder, from one pass over the
// folder's index text. The flag of a message comes from the first line that
// contains its file name anywhere (exact bytes); no such line leaves it
// clear. Lines end at LF; a CR before the LF is not part of the line.
//
// Runs in time linear in the index size plus the total length of the names:
// an Aho-Corasick automaton over the names scans each line once.
std::vector<bool> SizeFlagsFromIndex(std::string_view index_text,
                                     const std::vector<std::string>& names);

}  // namespace vm

#endif  // VM_MIGRATE_INDEX_LOOKUP_H_
