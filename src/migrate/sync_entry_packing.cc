#include "migrate/sync_entry_packing.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "migrate/sync_record.h"

namespace vm {

namespace {

constexpr uint64_t kSourceDoubtful = 1;
constexpr uint64_t kHasFolderList = 2;

// Seven bits a byte, the lowest first; the high bit says another follows.
void PutNumber(std::string* out, uint64_t value) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

// Small magnitudes of either sign in few bytes: 0, -1, 1, -2, ... as
// 0, 1, 2, 3, ...
void PutSigned(std::string* out, int64_t value) {
  PutNumber(out, (static_cast<uint64_t>(value) << 1) ^
                     static_cast<uint64_t>(value >> 63));
}

void PutText(std::string* out, const std::string& text) {
  PutNumber(out, text.size());
  out->append(text);
}

void PutStatus(std::string* out, const EntryStatus& s) {
  PutNumber(out, s.is_directory ? 1 : 0);
  PutNumber(out, s.id.volume);
  PutNumber(out, s.id.file);
  PutNumber(out, s.size);
  PutSigned(out, s.modified.seconds);
  PutNumber(out, s.modified.nanoseconds);
  PutSigned(out, s.changed.seconds);
  PutNumber(out, s.changed.nanoseconds);
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
  std::string Text() {
    const size_t size = static_cast<size_t>(
        std::min<uint64_t>(Number(), static_cast<uint64_t>(rest_.size())));
    std::string text(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return text;
  }
  EntryStatus Status() {
    EntryStatus s;
    s.is_directory = Number() != 0;
    s.id.volume = Number();
    s.id.file = Number();
    s.size = Number();
    s.modified.seconds = Signed();
    s.modified.nanoseconds = static_cast<uint32_t>(Number());
    s.changed.seconds = Signed();
    s.changed.nanoseconds = static_cast<uint32_t>(Number());
    return s;
  }
  bool empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace

std::string PackEntry(const SyncEntry& entry) {
  std::string out;
  PutText(&out, entry.box);
  PutText(&out, entry.lists);
  PutNumber(&out, entry.entries);
  PutNumber(&out, (entry.source_doubtful ? kSourceDoubtful : 0) |
                      (entry.has_folder_list ? kHasFolderList : 0));
  PutStatus(&out, entry.source);
  PutText(&out, entry.source_listing);
  PutStatus(&out, entry.folder_list);
  PutNumber(&out, entry.targets.size());
  for (const SyncFolder& folder : entry.targets) {
    PutText(&out, folder.name);
    PutNumber(&out, folder.taken ? 1 : 0);
    PutStatus(&out, folder.status);
    PutText(&out, folder.doubt);
    PutNumber(&out, folder.listed);
  }
  out.shrink_to_fit();
  return out;
}

SyncEntry UnpackEntry(std::string_view packed) {
  Unpacker in(packed);
  SyncEntry entry;
  entry.box = in.Text();
  entry.lists = in.Text();
  entry.entries = in.Number();
  const uint64_t flags = in.Number();
  entry.source_doubtful = (flags & kSourceDoubtful) != 0;
  entry.has_folder_list = (flags & kHasFolderList) != 0;
  entry.source = in.Status();
  entry.source_listing = in.Text();
  entry.folder_list = in.Status();
  const uint64_t targets = in.Number();
  for (uint64_t i = 0; i < targets && !in.empty(); ++i) {
    SyncFolder folder;
    folder.name = in.Text();
    folder.taken = in.Number() != 0;
    folder.status = in.Status();
    folder.doubt = in.Text();
    folder.listed = in.Number();
    entry.targets.push_back(std::move(folder));
  }
  return entry;
}

}  // namespace vm
