#include "migrate/sync_record.h"

#include <cstdint>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <utility>

#include "migrate/doubtful_folders.h"
#include "migrate/pending_marks.h"
#include "migrate/record_fields.h"
#include "migrate/source_lists.h"
#include "migrate/source_mailbox.h"
#include "migrate/sync_entry_packing.h"
#include "platform/clock.h"
#include "util/md5.h"

namespace vm {

namespace {

constexpr std::string_view kFormatLine = "velquor-migrate-sync-record 4";
// The version before the user list's line; its entries are still good.
constexpr std::string_view kFormatLine3 = "velquor-migrate-sync-record 3";
constexpr char kHex[] = "0123456789abcdef";

bool FromHex(std::string_view hex, std::string* bytes) {
  bytes->clear();
  if (hex == "-") return true;
  if (hex.empty() || hex.size() % 2 != 0) return false;
  auto value = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
  };
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = value(hex[i]);
    const int low = value(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

bool Time(std::string_view seconds, std::string_view nanos, StampTime* t) {
  const bool negative = !seconds.empty() && seconds[0] == '-';
  if (negative) seconds.remove_prefix(1);
  uint64_t s = 0;
  uint64_t n = 0;
  if (!ParseNumber(seconds, &s) || !ParseNumber(nanos, &n) ||
      n >= 1'000'000'000 || s > static_cast<uint64_t>(INT64_MAX) ||
      (negative && s == 0)) {
    return false;
  }
  t->seconds = negative ? -static_cast<int64_t>(s) : static_cast<int64_t>(s);
  t->nanoseconds = static_cast<uint32_t>(n);
  return true;
}

// "KIND VOLUME FILE SIZE MTIME-S MTIME-NS CTIME-S CTIME-NS".
constexpr size_t kStatusWords = 8;

// Appends ' ' and the number `n` to *out.
template <typename Number>
void AppendNumber(Number n, std::string* out) {
  char digits[24];
  digits[0] = ' ';
  const std::to_chars_result end =
      std::to_chars(digits + 1, std::end(digits), n);
  out->append(digits, end.ptr);
}

// Appends the status `s`, after a space, to *out: the record of a large
// target holds hundreds of thousands.
void AppendStatus(const EntryStatus& s, std::string* out) {
  out->append(s.is_directory ? " d" : " f");
  AppendNumber(s.id.volume, out);
  AppendNumber(s.id.file, out);
  AppendNumber(s.size, out);
  AppendNumber(s.modified.seconds, out);
  AppendNumber(s.modified.nanoseconds, out);
  AppendNumber(s.changed.seconds, out);
  AppendNumber(s.changed.nanoseconds, out);
}

bool ParseStatus(const std::vector<std::string_view>& w, size_t at,
                 EntryStatus* s) {
  if (w.size() != at + kStatusWords || (w[at] != "d" && w[at] != "f")) {
    return false;
  }
  s->is_directory = w[at] == "d";
  return ParseNumber(w[at + 1], &s->id.volume) &&
         ParseNumber(w[at + 2], &s->id.file) &&
         ParseNumber(w[at + 3], &s->size) &&
         Time(w[at + 4], w[at + 5], &s->modified) &&
         Time(w[at + 6], w[at + 7], &s->changed);
}

// "doubtful [ENTRIES] DIGEST" from w[at] on, for a folder whose status is
// not trusted.
bool ParseDoubt(const std::vector<std::string_view>& w, size_t at,
                uint64_t* listed, std::string* digest) {
  const size_t words = listed != nullptr ? 3 : 2;
  if (w.size() != at + words || w[at] != "doubtful" ||
      (listed != nullptr && !ParseNumber(w[at + 1], listed)) ||
      !IsMd5Hex(w.back())) {
    return false;
  }
  *digest = std::string(w.back());
  return true;
}

// One line of a mailbox's entry, into `entry`; false when it is none.
bool ParseEntryLine(const std::vector<std::string_view>& w, SyncEntry* entry) {
  if (w[0] == "source" && w.size() > 1 && w[1] == "doubtful") {
    entry->source_doubtful = true;
    return ParseDoubt(w, 1, nullptr, &entry->source_listing);
  }
  if (w[0] == "source") return ParseStatus(w, 1, &entry->source);
  if (w[0] == "folder-list") {
    entry->has_folder_list = !(w.size() == 2 && w[1] == "-");
    return !entry->has_folder_list || ParseStatus(w, 1, &entry->folder_list);
  }
  if (w[0] == "mailbox-folder") {
    entry->has_box_status = !(w.size() == 2 && w[1] == "-");
    return !entry->has_box_status || ParseStatus(w, 1, &entry->box_status);
  }
  if (w[0] == "target" && w.size() > 1) {
    SyncFolder folder;
    folder.taken = true;
    if (!FromHex(w[1], &folder.name) || folder.name.empty() ||
        !(w.size() > 2 && w[2] == "doubtful"
              ? ParseDoubt(w, 2, &folder.listed, &folder.doubt)
              : ParseStatus(w, 2, &folder.status))) {
      return false;
    }
    entry->targets.push_back(std::move(folder));
    return true;
  }
  return false;
}

std::string IdentityLine(const FileId& id) {
  return "data-folder " + std::to_string(id.volume) + " " +
         std::to_string(id.file);
}

// AppendStatus for a status the entry may not have ("-").
void AppendOptionalStatus(bool has, const EntryStatus& s, std::string* out) {
  if (has) {
    AppendStatus(s, out);
  } else {
    out->append(" -");
  }
}

// Appends the bytes as lowercase hexadecimal digits (the empty text as
// "-"), after a space, to *out.
void AppendHex(std::string_view bytes, std::string* out) {
  out->push_back(' ');
  if (bytes.empty()) out->push_back('-');
  for (unsigned char c : bytes) {
    out->push_back(kHex[c >> 4]);
    out->push_back(kHex[c & 15]);
  }
}

// The lines of the entry `e` of the mailbox `key`, appended to *out.
void AppendEntry(const std::string& key, const SyncEntry& e, std::string* out) {
  out->append("mailbox");
  AppendHex(key, out);
  AppendHex(e.box, out);
  out->push_back(' ');
  out->append(e.lists);
  AppendNumber(e.entries, out);
  out->append("\nsource");
  if (e.source_doubtful) {
    out->append(" doubtful ");
    out->append(e.source_listing);
  } else {
    AppendStatus(e.source, out);
  }
  out->append("\nfolder-list");
  AppendOptionalStatus(e.has_folder_list, e.folder_list, out);
  out->append("\nmailbox-folder");
  AppendOptionalStatus(e.has_box_status, e.box_status, out);
  out->push_back('\n');
  for (const SyncFolder& folder : e.targets) {
    out->append("target");
    AppendHex(folder.name, out);
    // The folder's status, or what stands for it.
    if (folder.doubt.empty()) {
      AppendStatus(folder.status, out);
    } else {
      out->append(" doubtful");
      AppendNumber(folder.listed, out);
      out->push_back(' ');
      out->append(folder.doubt);
    }
    out->push_back('\n');
  }
}

}  // namespace

std::string ListsDigest(const SourceAccount& account, bool mirror) {
  return Md5Hex(account.user_name + '\t' + account.domain + '\t' +
                account.password + (mirror ? "\tmirror" : ""));
}

namespace {

// The "mailbox" line that begins an entry; false when it is none.
bool ParseMailboxLine(const std::vector<std::string_view>& w, std::string* key,
                      SyncEntry* entry) {
  *entry = SyncEntry();
  if (w.size() != 5 || w[0] != "mailbox" || !FromHex(w[1], key) ||
      key->empty() || !FromHex(w[2], &entry->box) || entry->box.empty() ||
      !IsMd5Hex(w[3]) || !ParseNumber(w[4], &entry->entries)) {
    return false;
  }
  entry->lists = std::string(w[3]);
  return true;
}

// "user-list STATUS" or "user-list -".
bool ParseUsersLine(std::string_view line, std::optional<EntryStatus>* users) {
  std::vector<std::string_view> w;
  SplitSpaces(line, &w);
  users->reset();
  if (w.size() == 2 && w[0] == "user-list" && w[1] == "-") return true;
  EntryStatus status;
  if (w.empty() || w[0] != "user-list" || !ParseStatus(w, 1, &status) ||
      status.is_directory) {
    return false;
  }
  *users = status;
  return true;
}

}  // namespace

bool SyncRecord::Parse(std::string_view text) {
  entries_.clear();
  changed_ = true;  // a text not taken is replaced
  // One line at a time: a record of a large target holds hundreds of
  // thousands.
  auto next_line = [&text](std::string_view* line) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    *line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
  };
  std::string_view line;
  users_.reset();
  users_read_.reset();
  // Whole (its last line "end", each line ended) and of this target.
  if (!text.ends_with("\nend\n") || !next_line(&line) ||
      (line != kFormatLine && line != kFormatLine3)) {
    return false;
  }
  const bool has_users = line == kFormatLine;
  if (!next_line(&line) || line != IdentityLine(data_folder_) ||
      (has_users && (!next_line(&line) || !ParseUsersLine(line, &users_))) ||
      text.empty()) {
    users_.reset();
    return false;
  }
  users_read_ = users_;
  entries_.reserve(text.size() / 512);
  std::string key;
  std::string previous;
  SyncEntry entry;
  bool open = false;
  int entry_line = 0;
  std::vector<std::string_view> w;
  while (next_line(&line)) {
    SplitSpaces(line, &w);
    const bool last = text.empty();
    if (last || (!w.empty() && w[0] == "mailbox")) {
      if (open && entry.targets.empty()) break;
      if (open) entries_[key].packed = PackEntry(entry);
      if (last) {
        changed_ = false;
        return true;
      }
      previous = std::move(key);
      entry_line = 0;
      open = ParseMailboxLine(w, &key, &entry);
      // The writer gives the mailboxes in the order of their keys, each
      // once: any other order is an edit.
      if (!open || (!entries_.empty() && key <= previous)) break;
      continue;
    }
    // Each entry's lines in the writer's one order: its source, its
    // folder list, its target mailbox folder, then its target folders.
    const char* expected = entry_line == 0   ? "source"
                           : entry_line == 1 ? "folder-list"
                           : entry_line == 2 ? "mailbox-folder"
                                             : "target";
    ++entry_line;
    if (!open || w.empty() || w[0] != expected || !ParseEntryLine(w, &entry)) {
      break;
    }
  }
  entries_.clear();
  users_.reset();
  users_read_.reset();
  return false;
}

std::optional<EntryStatus> SyncRecord::UsersInHead(
    std::string_view head) const {
  std::optional<EntryStatus> users;
  const std::string lines = std::string(kFormatLine) + "\n" +
                            IdentityLine(data_folder_) + "\nuser-list ";
  const size_t end = head.find('\n', lines.size());
  if (!head.starts_with(lines) || end == std::string_view::npos ||
      !ParseUsersLine(head.substr(lines.size() - 10, end - lines.size() + 10),
                      &users)) {
    return std::nullopt;
  }
  return users;
}

bool SyncRecord::Write(const PieceWriter& put) const {
  std::string head =
      std::string(kFormatLine) + "\n" + IdentityLine(data_folder_) + "\n";
  head.append("user-list");
  if (users_.has_value()) {
    AppendStatus(*users_, &head);
  } else {
    head.append(" -");
  }
  if (!put(head + "\n")) return false;
  // In the order of their keys, so that two records of one target compare.
  std::vector<const std::pair<const std::string, Kept>*> sorted;
  sorted.reserve(entries_.size());
  for (const auto& entry : entries_) sorted.push_back(&entry);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });
  // Entries go out in pieces of some size, not one write per mailbox.
  constexpr size_t kPieceSize = 1 << 16;
  std::string text;
  for (const auto* entry : sorted) {
    const std::string& key = entry->first;
    AppendEntry(key, UnpackEntry(entry->second.packed), &text);
    if (text.size() >= kPieceSize) {
      if (!put(text)) return false;
      text.clear();
    }
  }
  return put(text + "end\n");
}

std::optional<SyncEntry> SyncRecord::Find(const std::string& key) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return UnpackEntry(it->second.packed);
}

void SyncRecord::Put(const std::string& key, const SourceSeen& seen,
                     SyncEntry entry) {
  entries_.erase(key);
  ++puts_;
  changed_ = true;
  // A source folder that changed as it was seen is doubtful: its listing
  // stands for it until a later look finds it settled.
  entry.source_doubtful = !Settled(seen.box, seen.at);
  if (!seen.taken || (entry.source_doubtful && entry.source_listing.empty()) ||
      (seen.has_folder_list && !Settled(seen.folder_list, seen.at)) ||
      entry.box.empty()) {
    return;
  }
  entry.source = seen.box;
  entry.has_folder_list = seen.has_folder_list;
  entry.folder_list = seen.folder_list;
  entries_[key] = {PackEntry(entry), true, true};
}

void SyncRecord::SetUsers(std::optional<EntryStatus> status) {
  users_ = status;
  users_fresh_ = users_.has_value();
  if (users_ != users_read_) changed_ = true;
}

void SyncRecord::Confirm(const std::string& key, SyncEntry entry) {
  Kept& kept = entries_[key];
  kept.packed = PackEntry(entry);
  kept.fresh = true;
  changed_ = true;
}

namespace {

// The target's folders of `e` and the absence of a pending mark, by one
// look at the mailbox folder (the names are those this program made, as
// it spelled them).
bool TargetAsRecorded(FileSystem* fs, const SyncEntry& e,
                      const std::string& target_box, const Clock& clock,
                      std::unique_ptr<SyncEntry>* confirmed) {
  std::vector<std::string> names;
  names.reserve(e.targets.size() + 1);
  for (const SyncFolder& folder : e.targets) names.push_back(folder.name);
  names.push_back(PendingMarks::kFileName);
  std::vector<std::optional<EntryStatus>> now;
  const StampTime at = clock.NowStamp();
  // An empty mailbox recorded without its own status (it had only just
  // changed) gets it now, taken before the look for a mark inside: the
  // next sync needs only that status.
  EntryStatus box;
  const bool box_taken = e.entries == 0 && !e.has_box_status &&
                         fs->StatusOf(target_box, &box) && box.is_directory &&
                         Settled(box, at);
  fs->StatusesIn(target_box, names, &now);
  if (now.back().has_value() ||
      !TargetsAsRecorded(fs, e, target_box, now, at, confirmed)) {
    return false;
  }
  if (box_taken) {
    if (*confirmed == nullptr) *confirmed = std::make_unique<SyncEntry>(e);
    (*confirmed)->has_box_status = true;
    (*confirmed)->box_status = box;
  }
  return true;
}

// Whether the lists line of `e` is the account's as it is now. An entry a
// mirror could take serves a plain sync too.
bool ListsAsNow(const SyncEntry& e, const SourceAccount& account, bool mirror) {
  return e.lists == ListsDigest(account, true) ||
         (!mirror && e.lists == ListsDigest(account, false));
}

}  // namespace

bool Unchanged(FileSystem* fs, const SyncRecord& record, const std::string& key,
               const SourceAccount& account, const std::string& source_box,
               const std::string& target_box, const Clock& clock,
               Judgement* judgement, bool mirror) {
  const std::optional<SyncEntry> e = record.Find(key);
  if (!e || !ListsAsNow(*e, account, mirror)) return false;
  // The target side first, then the source's statuses. A mailbox whose
  // source held nothing has no copy that could have gone from its folders:
  // its own status as recorded shows no mark made and no folder made or
  // removed in it since (a cold look at its folders costs a read each).
  std::unique_ptr<SyncEntry> confirmed;
  if (!(e->entries == 0 && e->has_box_status &&
        StatusIs(fs, target_box, e->box_status)) &&
      !TargetAsRecorded(fs, *e, target_box, clock, &confirmed)) {
    return false;
  }
  if (!SourceAsRecorded(fs, *e, source_box, clock, &confirmed)) return false;
  // A folder list made, removed or renamed since would have changed the
  // folder's own times: only one rewritten in place needs its status.
  if (e->has_folder_list &&
      !StatusIs(fs, FolderListPath(source_box), e->folder_list)) {
    return false;
  }
  if (judgement != nullptr) {
    judgement->folders = 1 + static_cast<int>(e->targets.size());
    judgement->confirmed = std::move(confirmed);
  }
  return true;
}

bool Recorded(const SyncRecord& record, const std::string& key,
              const SourceAccount& account, Judgement* judgement, bool mirror) {
  const std::optional<SyncEntry> e = record.Find(key);
  if (!e || e->source_doubtful || !ListsAsNow(*e, account, mirror)) {
    return false;
  }
  for (const SyncFolder& folder : e->targets) {
    if (!folder.doubt.empty()) return false;
  }
  if (judgement != nullptr) {
    judgement->folders = 1 + static_cast<int>(e->targets.size());
  }
  return true;
}

}  // namespace vm
