#ifndef VM_UTIL_SHOWN_TEXT_H_
#define VM_UTIL_SHOWN_TEXT_H_

#include <string>
#include <string_view>

namespace vm {

// `text` (ANSI bytes, or UTF-8) as it may be shown on a terminal, in the
// result list or in a log: every control byte (0x00-0x1F and 0x7F; with
// `keep_line_ends`, LF excepted) becomes "\u001b", the form the JSON
// report writes it in, so that a name from a list or a listing can neither
// move the cursor, retitle a terminal nor split a log line. No byte of a
// double-byte character's second half is a control byte, so the text is
// never cut inside a character. Texts without control bytes are returned
// as they are.
std::string ShownText(std::string_view text, bool keep_line_ends = false);

}  // namespace vm

#endif  // VM_UTIL_SHOWN_TEXT_H_
