#include "platform/file_error.h"

#include <cstdlib>
#include <iterator>

namespace vm {

namespace {

struct KindName {
  FileErrorKind kind;
  const char* name;
};

constexpr KindName kNames[] = {
    {FileErrorKind::kOther, "other"},
    {FileErrorKind::kNoSpace, "no_space"},
    {FileErrorKind::kPermission, "permission"},
    {FileErrorKind::kReadOnly, "read_only"},
    {FileErrorKind::kNotFound, "not_found"},
    {FileErrorKind::kNameTooLong, "name_too_long"},
    {FileErrorKind::kNotRegular, "not_regular"},
    {FileErrorKind::kIsLink, "is_link"},
    {FileErrorKind::kTooLarge, "too_large"},
    {FileErrorKind::kSourceChanged, "source_changed"},
    {FileErrorKind::kTooManyOpen, "too_many_open"},
    {FileErrorKind::kNotRecorded, "not_recorded"},
};

}  // namespace

std::string FileErrorText(FileError error, const std::string& words) {
  const char* name = "other";
  for (const KindName& k : kNames) {
    if (k.kind == error.kind) name = k.name;
  }
  return "[" + std::string(name) + " " + std::to_string(error.code) + "] " +
         words;
}

FileError ParseFileError(const std::string& text) {
  FileError error;
  if (text.empty() || text[0] != '[') return error;
  const size_t space = text.find(' ');
  const size_t end = text.find(']');
  if (space == std::string::npos || end == std::string::npos || space > end) {
    return error;
  }
  const std::string name = text.substr(1, space - 1);
  for (const KindName& k : kNames) {
    if (name == k.name) error.kind = k.kind;
  }
  error.code = std::strtol(text.c_str() + space + 1, nullptr, 10);
  return error;
}

}  // namespace vm
