#include "migrate/message_names.h"

#include <utility>

#include "platform/copy_temporary.h"

namespace vm {

namespace {

int32_t Size32(uint64_t size) {
  return static_cast<int32_t>(static_cast<uint32_t>(size));
}

// The message a sized name stands for, with the size in the name; false
// for any other name. `folded` is the name with ASCII folded.
bool ParseSizedName(const NameOps& names, const std::string& folded,
                    std::string* message, int32_t* size) {
  static const std::string kTail = ".0.s";
  if (folded.size() <= kTail.size() ||
      folded.compare(folded.size() - kTail.size(), kTail.size(), kTail) != 0) {
    return false;
  }
  size_t comma = std::string::npos;
  for (size_t i = names.Find(folded, ','); i != std::string::npos;
       i = names.Find(folded, ',', i + 1)) {
    comma = i;
  }
  if (comma == std::string::npos || folded.compare(comma, 3, ",s=") != 0) {
    return false;
  }
  const std::string digits =
      folded.substr(comma + 3, folded.size() - kTail.size() - comma - 3);
  const size_t first = !digits.empty() && digits[0] == '-' ? 1 : 0;
  if (digits.size() == first || digits.size() > first + 10 ||
      digits.find_first_not_of("0123456789", first) != std::string::npos) {
    return false;
  }
  const int64_t value = std::stoll(digits);
  if (value != static_cast<int32_t>(value)) return false;
  *message = folded.substr(0, comma);
  *size = static_cast<int32_t>(value);
  return true;
}

}  // namespace

bool IsCopyTemporaryName(const std::string& name, const NameOps& names) {
  if (name.empty() || name[0] != '.') return false;
  const std::string folded = names.Fold(name);
  const std::string_view infix = kCopyTempInfix;
  // Only a '.' that starts a character starts the infix.
  for (size_t i = 0; i != std::string::npos;
       i = names.Find(folded, '.', i + 1)) {
    if (folded.compare(i, infix.size(), infix) == 0) return true;
  }
  return false;
}

bool SizedNameMessage(const NameOps& names, const std::string& name,
                      std::string* folded_message) {
  int32_t size = 0;
  return ParseSizedName(names, names.Fold(name), folded_message, &size);
}

std::string SizedName(const std::string& name, uint64_t size) {
  return name + ",S=" + std::to_string(Size32(size)) + ".0.S";
}

TargetFolderFiles::TargetFolderFiles(const NameOps& names,
                                     std::vector<DirEntry> entries)
    : names_(names), entries_(std::move(entries)) {
  for (const DirEntry& entry : entries_) {
    if (entry.is_directory || IsCopyTemporaryName(entry.name, names_)) continue;
    const std::string folded = names_.Fold(entry.name);
    by_message_[folded].push_back({&entry, false, 0});
    std::string message;
    int32_t size = 0;
    if (ParseSizedName(names_, folded, &message, &size)) {
      by_message_[message].push_back({&entry, true, size});
    }
  }
}

std::vector<const DirEntry*> TargetFolderFiles::Find(
    const std::string& name) const {
  std::vector<const DirEntry*> found;
  auto it = by_message_.find(names_.Fold(name));
  if (it == by_message_.end()) return found;
  for (const File& file : it->second) found.push_back(file.entry);
  return found;
}

const DirEntry* TargetFolderFiles::Copy(const std::string& name,
                                        uint64_t size) const {
  auto it = by_message_.find(names_.Fold(name));
  if (it == by_message_.end()) return nullptr;
  for (const File& file : it->second) {
    const DirEntry& entry = *file.entry;
    if (!entry.is_special && !entry.unconvertible_name && entry.size == size &&
        (!file.sized || file.named_size == Size32(size))) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace vm
