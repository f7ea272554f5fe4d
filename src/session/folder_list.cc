#include "session/folder_list.h"

#include <algorithm>

#include "migrate/source_mailbox.h"
#include "util/varint.h"

namespace vm {
namespace {

// Signed counts go in as their two's-complement bits, so that any value,
// a negative one included, comes back unchanged.
void PutSigned(int64_t n, std::string* out) {
  PutVarint(out, static_cast<uint64_t>(n));
}

int64_t GetSigned(const std::string& in, size_t* at) {
  return static_cast<int64_t>(GetVarint(in.data(), at));
}

// A folder every new mailbox has, as most are, by its place in that list
// counted from 1; any other name as 0, its size and itself.
void PutName(const std::string& name, std::string* out) {
  const std::vector<std::string>& common = NewMailboxFolders();
  const auto it = std::find(common.begin(), common.end(), name);
  if (it != common.end()) {
    PutVarint(out, static_cast<uint64_t>(it - common.begin()) + 1);
    return;
  }
  PutVarint(out, 0);
  PutVarint(out, name.size());
  out->append(name);
}

void Encode(const FolderRecord& f, std::string* out) {
  const FolderCounts& c = f.counts;
  PutName(c.name, out);
  PutSigned(c.messages, out);
  PutVarint(out, c.bytes);
  PutSigned(c.copied, out);
  PutVarint(out, c.copied_bytes);
  PutSigned(c.present, out);
  PutSigned(c.failed, out);
  out->push_back(f.verified ? '\1' : '\0');
  PutSigned(f.checked, out);
  PutSigned(f.missing, out);
  PutSigned(f.different, out);
  PutSigned(c.removed, out);
  PutVarint(out, c.removed_bytes);
}

// Decodes the folder at *at and moves *at past it.
FolderRecord Decode(const std::string& in, size_t* at) {
  FolderRecord f;
  FolderCounts& c = f.counts;
  const size_t place = GetVarint(in.data(), at);
  if (place > 0) {
    c.name = NewMailboxFolders()[place - 1];
  } else {
    const size_t name_size = GetVarint(in.data(), at);
    c.name.assign(in, *at, name_size);
    *at += name_size;
  }
  c.messages = GetSigned(in, at);
  c.bytes = GetVarint(in.data(), at);
  c.copied = GetSigned(in, at);
  c.copied_bytes = GetVarint(in.data(), at);
  c.present = GetSigned(in, at);
  c.failed = GetSigned(in, at);
  f.verified = in[(*at)++] != '\0';
  f.checked = GetSigned(in, at);
  f.missing = GetSigned(in, at);
  f.different = GetSigned(in, at);
  c.removed = GetSigned(in, at);
  c.removed_bytes = GetVarint(in.data(), at);
  return f;
}

}  // namespace

const char* FolderRecord::Verification() const {
  if (!verified) return "not checked";
  return missing == 0 && different == 0 ? "passed" : "failed";
}

void FolderRecord::Add(const FolderRecord& other) {
  counts.messages += other.counts.messages;
  counts.bytes += other.counts.bytes;
  counts.copied += other.counts.copied;
  counts.copied_bytes += other.counts.copied_bytes;
  counts.present += other.counts.present;
  counts.failed += other.counts.failed;
  counts.removed += other.counts.removed;
  counts.removed_bytes += other.counts.removed_bytes;
  checked += other.checked;
  missing += other.missing;
  different += other.different;
  verified |= other.verified;
}

FolderRecord FolderList::Iterator::operator*() const {
  size_t at = at_;
  return Decode(*bytes_, &at);
}

FolderList::Iterator& FolderList::Iterator::operator++() {
  Decode(*bytes_, &at_);
  return *this;
}

void FolderList::push_back(const FolderRecord& folder) {
  Encode(folder, &bytes_);
  ++count_;
}

void FolderList::Set(size_t index, const FolderRecord& folder) {
  std::string bytes;
  size_t at = 0;
  for (size_t i = 0; i < count_; ++i) {
    const FolderRecord f = Decode(bytes_, &at);
    Encode(i == index ? folder : f, &bytes);
  }
  bytes_ = std::move(bytes);
}

}  // namespace vm
