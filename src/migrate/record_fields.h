#ifndef VM_MIGRATE_RECORD_FIELDS_H_
#define VM_MIGRATE_RECORD_FIELDS_H_

// The fields of the tool's line-oriented records on disk (the run
// manifest): any bytes as one space-free field, decimal numbers, exact
// times. Every reader refuses what the writer would never write, so a
// record read back is in one spelling.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

namespace vm {

// Appends " " and `bytes` as one field: printable ASCII other than "%" as
// itself, every other byte as "%" and two capital hexadecimal digits; the
// empty field as "-", and a field that is "-" itself as "%2D".
void AppendField(std::string* line, std::string_view bytes);

// The bytes of a field AppendField writes; false for any other spelling.
bool ParseField(std::string_view field, std::string* bytes);

// A decimal number without sign or leading zeros that fits 64 bits.
bool ParseNumber(std::string_view text, uint64_t* value);

// A time as "SECONDS.NANOSECONDS" (see TimeText) and its reader.
std::string TimeText(const StampTime& t);
bool ParseTime(std::string_view text, StampTime* t);

// Whether `text` is an MD5 digest in 32 small hexadecimal digits.
bool IsMd5Hex(std::string_view text);

// The words of `line` between single spaces (empty words kept).
std::vector<std::string_view> SplitSpaces(std::string_view line);
// The same into `words`, whose room is kept for the next line.
void SplitSpaces(std::string_view line, std::vector<std::string_view>* words);

}  // namespace vm

#endif  // VM_MIGRATE_RECORD_FIELDS_H_
