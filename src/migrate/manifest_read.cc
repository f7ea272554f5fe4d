// Reading a manifest back: strictly, line by line, whatever its bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "migrate/record_fields.h"
#include "migrate/run_manifest.h"
#include "migrate/undone_mark.h"

namespace vm {
namespace {

bool ParseKeyed(std::string_view line, std::string_view key,
                std::string* value) {
  const std::vector<std::string_view> words = SplitSpaces(line);
  return words.size() == 2 && words[0] == key && ParseField(words[1], value);
}

bool ParseHeaderRest(const std::vector<std::string_view>& lines,
                     uint64_t version, ManifestHeader* h, int* bad_line) {
  uint64_t volume = 0;
  uint64_t file = 0;
  const std::vector<std::string_view> id = SplitSpaces(lines[3]);
  const std::vector<std::string_view> kind = SplitSpaces(lines[5]);
  const bool ok[] = {
      ParseKeyed(lines[1], "tool", &h->tool_version),
      ParseKeyed(lines[2], "target", &h->target_dir),
      id.size() == 3 && id[0] == "data-folder" && ParseNumber(id[1], &volume) &&
          ParseNumber(id[2], &file),
      ParseKeyed(lines[4], "started", &h->started),
      kind.size() == 2 && kind[0] == "kind" &&
          (kind[1] == "migrate" || kind[1] == "sync"),
  };
  for (int i = 0; i < 5; ++i) {
    if (!ok[i]) {
      *bad_line = i + 2;
      return false;
    }
  }
  if (version >= 3 && !ParseKeyed(lines[6], "codepage", &h->code_page)) {
    *bad_line = 7;
    return false;
  }
  h->data_folder = FileId{volume, file};
  h->kind =
      kind[1] == "sync" ? ManifestRunKind::kSync : ManifestRunKind::kMigrate;
  return true;
}

bool ParseItemFields(const std::vector<std::string_view>& words, size_t at,
                     AddedItem* item) {
  return ParseField(words[at], &item->layout.before) &&
         ParseField(words[at + 1], &item->element) &&
         ParseField(words[at + 2], &item->layout.after) &&
         ParseField(words[at + 3], &item->layout.replaced) &&
         !item->element.empty();
}

bool ParseStampedFile(const std::vector<std::string_view>& w,
                      ManifestEntry* e) {
  FileStamp stamp;
  e->kind = ManifestEntry::Kind::kMessageFile;
  if (!ParseField(w[1], &e->path) || e->path.empty() ||
      !ParseNumber(w[2], &e->size) || !ParseNumber(w[3], &stamp.file) ||
      !ParseTime(w[4], &stamp.modified) || !ParseTime(w[5], &stamp.changed)) {
    return false;
  }
  stamp.size = e->size;
  e->stamp = stamp;
  return true;
}

// A record written only from version 3 on: the intents, the
// confirmations and the folder another program made.
bool ParseLaterEntry(const std::vector<std::string_view>& w, ManifestEntry* e) {
  using Kind = ManifestEntry::Kind;
  using Step = ManifestEntry::Step;
  if (w[0] == "domain-saved" && w.size() == 2) {
    *e = ManifestEntry();
    e->kind = Kind::kDomain;
    e->step = Step::kSaved;
    return ParseField(w[1], &e->name) && !e->name.empty();
  }
  if (w[0] == "account-saved" && w.size() == 3) {
    *e = ManifestEntry();
    e->kind = Kind::kAccount;
    e->step = Step::kSaved;
    return ParseField(w[1], &e->name) && !e->name.empty() &&
           ParseField(w[2], &e->domain);
  }
  const bool dir = w[0] == "intent-dir" || w[0] == "dir-found";
  if ((dir || w[0] == "intent-file") && w.size() == 2) {
    *e = ManifestEntry();
    e->kind = dir ? Kind::kDirectory : Kind::kMessageFile;
    e->step = w[0] == "dir-found" ? Step::kFound : Step::kIntent;
    return ParseField(w[1], &e->path) && !e->path.empty();
  }
  return false;
}

// A record written only from version 4 on: a mirror's moves and removals.
bool ParseMirrorEntry(const std::vector<std::string_view>& w,
                      ManifestEntry* e) {
  using Kind = ManifestEntry::Kind;
  using Step = ManifestEntry::Step;
  *e = ManifestEntry();
  const bool hold = w[0] == "intent-hold" || w[0] == "held";
  if (hold && w.size() == 3) {
    e->kind = Kind::kHeldFile;
    e->step = w[0] == "held" ? Step::kMade : Step::kIntent;
    return ParseField(w[1], &e->path) && !e->path.empty() &&
           ParseField(w[2], &e->held) && !e->held.empty();
  }
  const bool dir = w[0] == "intent-remove-dir" || w[0] == "removed-dir";
  if (dir && w.size() == 2) {
    e->kind = Kind::kRemovedDir;
    e->step = w[0] == "removed-dir" ? Step::kMade : Step::kIntent;
    return ParseField(w[1], &e->path) && !e->path.empty();
  }
  return false;
}

// A rewritten password field, written from version 4 on.
bool ParsePasswordEntry(const std::vector<std::string_view>& w,
                        ManifestEntry* e) {
  const bool saved = w[0] == "password-saved";
  if (!(saved ? w.size() == 3 : w[0] == "password" && w.size() == 5)) {
    return false;
  }
  *e = ManifestEntry();
  e->kind = ManifestEntry::Kind::kPassword;
  e->step = saved ? ManifestEntry::Step::kSaved : ManifestEntry::Step::kIntent;
  return ParseField(w[1], &e->name) && !e->name.empty() &&
         ParseField(w[2], &e->domain) &&
         (saved || (ParseField(w[3], &e->item.element) &&
                    ParseField(w[4], &e->new_item) &&
                    !e->item.element.empty() && !e->new_item.empty()));
}

bool ParseEntry(std::string_view line, uint64_t version, ManifestEntry* e) {
  const std::vector<std::string_view> w = SplitSpaces(line);
  using Kind = ManifestEntry::Kind;
  // From version 3 on, a domain or an account is written before the save.
  e->step =
      version >= 3 ? ManifestEntry::Step::kIntent : ManifestEntry::Step::kMade;
  if (w[0] == "domain" && w.size() == 6) {
    e->kind = Kind::kDomain;
    return ParseField(w[1], &e->name) && !e->name.empty() &&
           ParseItemFields(w, 2, &e->item);
  }
  if (w[0] == "account" && w.size() == 7) {
    e->kind = Kind::kAccount;
    return ParseField(w[1], &e->name) && !e->name.empty() &&
           ParseField(w[2], &e->domain) && ParseItemFields(w, 3, &e->item);
  }
  e->step = ManifestEntry::Step::kMade;
  if (w[0] == "dir" && w.size() == 2) {
    e->kind = Kind::kDirectory;
    return ParseField(w[1], &e->path) && !e->path.empty();
  }
  if (w[0] == "file" && w.size() == 4) {
    e->kind = Kind::kMessageFile;
    e->md5 = std::string(w[3]);
    return ParseField(w[1], &e->path) && !e->path.empty() &&
           ParseNumber(w[2], &e->size) && IsMd5Hex(w[3]);
  }
  if (w[0] == "file-stamp" && w.size() == 6 && version >= 2) {
    return ParseStampedFile(w, e);
  }
  if (version >= 3 && ParseLaterEntry(w, e)) return true;
  if (version >= 4 && ParsePasswordEntry(w, e)) return true;
  return version >= 4 && ParseMirrorEntry(w, e);
}

}  // namespace

ManifestStatus ReadManifestEntries(
    std::string_view text, RunManifest* manifest, int* bad_line,
    const std::function<void(ManifestEntry&&)>& each) {
  *manifest = RunManifest{};
  *bad_line = 0;
  std::string undone;
  text = RunBytes(text, &undone);
  // Lines as they come: a manifest of many files is never held twice.
  size_t at = 0;
  auto next_line = [&](std::string_view* line) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      // A write cut short: left out.
      manifest->torn_tail = at < text.size();
      return false;
    }
    *line = text.substr(at, end - at);
    at = end + 1;
    return true;
  };
  std::string_view line;
  const std::vector<std::string_view> first =
      next_line(&line) ? SplitSpaces(line) : std::vector<std::string_view>();
  uint64_t version = 0;
  if (first.size() != 2 || first[0] != kManifestMagic ||
      !ParseNumber(first[1], &version)) {
    *bad_line = 1;
    return ManifestStatus::kDamaged;
  }
  if (version < 1 || version > kManifestVersion) {
    *bad_line = 1;
    return ManifestStatus::kUnsupportedVersion;
  }
  const size_t header_lines = version >= 3 ? 7 : 6;
  std::vector<std::string_view> header{line};
  while (header.size() < header_lines && next_line(&line)) {
    header.push_back(line);
  }
  if (header.size() < header_lines) {
    *bad_line = static_cast<int>(header.size()) + 1;
    return ManifestStatus::kDamaged;
  }
  if (!ParseHeaderRest(header, version, &manifest->header, bad_line)) {
    *manifest = RunManifest{};
    return ManifestStatus::kDamaged;
  }
  for (size_t number = header_lines + 1; next_line(&line); ++number) {
    ManifestEntry entry;
    if (!ParseEntry(line, version, &entry)) {
      *bad_line = static_cast<int>(number);
      *manifest = RunManifest{};
      return ManifestStatus::kDamaged;
    }
    each(std::move(entry));
  }
  manifest->undone = std::move(undone);
  return ManifestStatus::kRead;
}

ManifestStatus ReadManifest(std::string_view text, RunManifest* manifest,
                            int* bad_line) {
  std::vector<ManifestEntry> entries;
  const ManifestStatus status = ReadManifestEntries(
      text, manifest, bad_line,
      [&entries](ManifestEntry&& e) { entries.push_back(std::move(e)); });
  if (status == ManifestStatus::kRead) manifest->entries = std::move(entries);
  return status;
}

}  // namespace vm
