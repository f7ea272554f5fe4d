#include "migrate/sync_entry_packing.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "migrate/record_fields.h"
#include "migrate/source_mailbox.h"
#include "migrate/sync_record.h"
#include "util/varint.h"

namespace vm {

namespace {

constexpr uint64_t kSourceDoubtful = 1;
constexpr uint64_t kHasFolderList = 2;
constexpr uint64_t kHasBoxStatus = 4;
constexpr uint64_t kDirectory = 1;
constexpr uint64_t kTimesEqual = 2;  // the status changed as it was modified
constexpr char kHexDigits[] = "0123456789abcdef";

// Small magnitudes of either sign in few bytes: 0, -1, 1, -2, ... as
// 0, 1, 2, 3, ...
void PutSigned(std::string* out, int64_t value) {
  PutVarint(out, (static_cast<uint64_t>(value) << 1) ^
                     static_cast<uint64_t>(value >> 63));
}

// `value` as its difference from `base`, modulo 2^64: the folders of one
// mailbox lie on one volume, were made one after the other and changed
// about the same time, so each status differs little from the one before.
void PutDelta(std::string* out, uint64_t value, uint64_t base) {
  PutSigned(out, static_cast<int64_t>(value - base));
}

void PutText(std::string* out, const std::string& text) {
  PutVarint(out, text.size());
  out->append(text);
}

// A digest in 32 small hexadecimal digits as its 16 bytes; any other text
// as itself.
void PutDigest(std::string* out, const std::string& text) {
  if (!IsMd5Hex(text)) {
    PutVarint(out, 0);
    PutText(out, text);
    return;
  }
  PutVarint(out, 1);
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    out->push_back(static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1])));
  }
}

// A folder every new mailbox gets (NewMailboxFolders), which most entries
// name, as its place in that list counted from 1; any other name as 0 and
// itself.
void PutFolderName(std::string* out, const std::string& name) {
  const std::vector<std::string>& common = NewMailboxFolders();
  const auto it = std::find(common.begin(), common.end(), name);
  if (it != common.end()) {
    PutVarint(out, static_cast<uint64_t>(it - common.begin()) + 1);
    return;
  }
  PutVarint(out, 0);
  PutText(out, name);
}

uint64_t Bits(int64_t seconds) { return static_cast<uint64_t>(seconds); }

// `s` against `last`, the status packed before it in the entry, which it
// then becomes.
void PutStatus(std::string* out, const EntryStatus& s, EntryStatus* last) {
  const bool times_equal = s.changed == s.modified;
  PutVarint(
      out, (s.is_directory ? kDirectory : 0) | (times_equal ? kTimesEqual : 0));
  PutDelta(out, s.id.volume, last->id.volume);
  PutDelta(out, s.id.file, last->id.file);
  PutVarint(out, s.size);
  PutDelta(out, Bits(s.modified.seconds), Bits(last->modified.seconds));
  PutVarint(out, s.modified.nanoseconds);
  if (!times_equal) {
    PutDelta(out, Bits(s.changed.seconds), Bits(s.modified.seconds));
    PutVarint(out, s.changed.nanoseconds);
  }
  *last = s;
}

// Reads what the Put functions wrote. The bytes are only ever a packing of
// this process's own, so it has no errors to report; past their end it
// reads zeros and empty texts rather than beyond them.
class Unpacker {
 public:
  explicit Unpacker(std::string_view bytes) : rest_(bytes) {}

  uint64_t Number() {
    uint64_t value = 0;
    for (int shift = 0; !rest_.empty() && shift < 64; shift += 7) {
      const auto byte = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      value |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) break;
    }
    return value;
  }
  int64_t Signed() {
    const uint64_t z = Number();
    return static_cast<int64_t>(z >> 1) ^ -static_cast<int64_t>(z & 1);
  }
  uint64_t Delta(uint64_t base) {
    return base + static_cast<uint64_t>(Signed());
  }
  std::string Text() {
    const size_t size = static_cast<size_t>(
        std::min<uint64_t>(Number(), static_cast<uint64_t>(rest_.size())));
    std::string text(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return text;
  }
  std::string FolderName() {
    const uint64_t place = Number();
    const std::vector<std::string>& common = NewMailboxFolders();
    if (place == 0 || place > common.size()) return Text();
    return common[place - 1];
  }
  std::string Digest() {
    if (Number() == 0) return Text();
    std::string hex;
    for (int i = 0; i < 16 && !rest_.empty(); ++i) {
      const auto byte = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      hex += {kHexDigits[byte >> 4], kHexDigits[byte & 15]};
    }
    return hex;
  }
  EntryStatus Status(EntryStatus* last) {
    EntryStatus s;
    const uint64_t flags = Number();
    s.is_directory = (flags & kDirectory) != 0;
    s.id.volume = Delta(last->id.volume);
    s.id.file = Delta(last->id.file);
    s.size = Number();
    s.modified.seconds =
        static_cast<int64_t>(Delta(Bits(last->modified.seconds)));
    s.modified.nanoseconds = static_cast<uint32_t>(Number());
    s.changed = s.modified;
    if ((flags & kTimesEqual) == 0) {
      s.changed.seconds = static_cast<int64_t>(Delta(Bits(s.modified.seconds)));
      s.changed.nanoseconds = static_cast<uint32_t>(Number());
    }
    *last = s;
    return s;
  }
  bool empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace

std::string PackEntry(const SyncEntry& entry) {
  std::string out;
  EntryStatus last;
  PutText(&out, entry.box);
  PutDigest(&out, entry.lists);
  PutVarint(&out, entry.entries);
  PutVarint(&out, (entry.source_doubtful ? kSourceDoubtful : 0) |
                      (entry.has_folder_list ? kHasFolderList : 0) |
                      (entry.has_box_status ? kHasBoxStatus : 0));
  PutStatus(&out, entry.source, &last);
  PutDigest(&out, entry.source_listing);
  // Without a folder list its status is never looked at.
  if (entry.has_folder_list) PutStatus(&out, entry.folder_list, &last);
  if (entry.has_box_status) PutStatus(&out, entry.box_status, &last);
  PutVarint(&out, entry.targets.size());
  for (const SyncFolder& folder : entry.targets) {
    PutFolderName(&out, folder.name);
    PutVarint(&out, folder.taken ? 1 : 0);
    PutStatus(&out, folder.status, &last);
    PutDigest(&out, folder.doubt);
    PutVarint(&out, folder.listed);
  }
  out.shrink_to_fit();
  return out;
}

SyncEntry UnpackEntry(std::string_view packed) {
  Unpacker in(packed);
  SyncEntry entry;
  EntryStatus last;
  entry.box = in.Text();
  entry.lists = in.Digest();
  entry.entries = in.Number();
  const uint64_t flags = in.Number();
  entry.source_doubtful = (flags & kSourceDoubtful) != 0;
  entry.has_folder_list = (flags & kHasFolderList) != 0;
  entry.has_box_status = (flags & kHasBoxStatus) != 0;
  entry.source = in.Status(&last);
  entry.source_listing = in.Digest();
  if (entry.has_folder_list) entry.folder_list = in.Status(&last);
  if (entry.has_box_status) entry.box_status = in.Status(&last);
  const uint64_t targets = in.Number();
  for (uint64_t i = 0; i < targets && !in.empty(); ++i) {
    SyncFolder folder;
    folder.name = in.FolderName();
    folder.taken = in.Number() != 0;
    folder.status = in.Status(&last);
    folder.doubt = in.Digest();
    folder.listed = in.Number();
    entry.targets.push_back(std::move(folder));
  }
  return entry;
}

}  // namespace vm
