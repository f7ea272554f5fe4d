#include "migrate/run_manifest.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "migrate/record_fields.h"
#include "migrate/undone_mark.h"
#include "platform/file_system.h"

namespace vm {
namespace {

constexpr char kMagic[] = "velquor-migrate-manifest";

// A path in the manifest's one form: every "/" written as "\\". No code
// page has "/" as the second byte of a character, so this touches
// separators only.
void AppendPath(std::string* line, std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  AppendField(line, path);
}

void AppendItemFields(std::string* line, const AddedItem& item) {
  AppendField(line, item.layout.before);
  AppendField(line, item.element);
  AppendField(line, item.layout.after);
  AppendField(line, item.layout.replaced);
}

std::string EntryLine(const ManifestEntry& e) {
  using Step = ManifestEntry::Step;
  const bool saved = e.step == Step::kSaved;
  std::string line;
  switch (e.kind) {
    case ManifestEntry::Kind::kDomain:
      line = saved ? "domain-saved" : "domain";
      AppendField(&line, e.name);
      if (!saved) AppendItemFields(&line, e.item);
      break;
    case ManifestEntry::Kind::kAccount:
      line = saved ? "account-saved" : "account";
      AppendField(&line, e.name);
      AppendField(&line, e.domain);
      if (!saved) AppendItemFields(&line, e.item);
      break;
    case ManifestEntry::Kind::kPassword:
      line = saved ? "password-saved" : "password";
      AppendField(&line, e.name);
      AppendField(&line, e.domain);
      if (!saved) {
        AppendField(&line, e.item.element);
        AppendField(&line, e.new_item);
      }
      break;
    case ManifestEntry::Kind::kDirectory:
      line = e.step == Step::kIntent  ? "intent-dir"
             : e.step == Step::kFound ? "dir-found"
                                      : "dir";
      AppendPath(&line, e.path);
      break;
    case ManifestEntry::Kind::kMessageFile:
      if (e.step == Step::kIntent) {
        line = "intent-file";
        AppendPath(&line, e.path);
        break;
      }
      line = e.stamp ? "file-stamp" : "file";
      AppendPath(&line, e.path);
      line += ' ' + std::to_string(e.size) + ' ';
      if (e.stamp) {
        line += std::to_string(e.stamp->file) + ' ' +
                TimeText(e.stamp->modified) + ' ' + TimeText(e.stamp->changed);
      } else {
        line += e.md5;
      }
      break;
    case ManifestEntry::Kind::kHeldFile:
      line = e.step == Step::kIntent ? "intent-hold" : "held";
      AppendPath(&line, e.path);
      AppendPath(&line, e.held);
      break;
    case ManifestEntry::Kind::kRemovedDir:
      line = e.step == Step::kIntent ? "intent-remove-dir" : "removed-dir";
      AppendPath(&line, e.path);
      break;
  }
  return line + '\n';
}

std::string HeaderText(const ManifestHeader& h) {
  std::string text =
      std::string(kMagic) + ' ' + std::to_string(kManifestVersion) + "\ntool";
  AppendField(&text, h.tool_version);
  text += "\ntarget";
  AppendField(&text, h.target_dir);
  text += "\ndata-folder " + std::to_string(h.data_folder.volume) + ' ' +
          std::to_string(h.data_folder.file) + "\nstarted";
  AppendField(&text, h.started);
  text += h.kind == ManifestRunKind::kSync ? "\nkind sync\ncodepage"
                                           : "\nkind migrate\ncodepage";
  AppendField(&text, h.code_page);
  return text + '\n';
}

// "key FIELD": the field's bytes.
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

ManifestEntry DomainEntry(const SavedAddition& added,
                          ManifestEntry::Step step) {
  ManifestEntry e;
  e.kind = ManifestEntry::Kind::kDomain;
  e.step = step;
  e.name = added.name;
  if (step != ManifestEntry::Step::kSaved) e.item = added.item;
  return e;
}

ManifestEntry AccountEntry(const SavedAddition& added,
                           ManifestEntry::Step step) {
  ManifestEntry e = DomainEntry(added, step);
  e.kind = ManifestEntry::Kind::kAccount;
  e.domain = added.domain;
  return e;
}

ManifestEntry PasswordEntry(const std::string& user, const std::string& domain,
                            const std::string& from, const std::string& to,
                            ManifestEntry::Step step) {
  ManifestEntry e;
  e.kind = ManifestEntry::Kind::kPassword;
  e.step = step;
  e.name = user;
  e.domain = domain;
  if (step != ManifestEntry::Step::kSaved) {
    e.item.element = from;
    e.new_item = to;
  }
  return e;
}

ManifestEntry IntentEntry(ManifestEntry::Kind kind, const std::string& path) {
  ManifestEntry e;
  e.kind = kind;
  e.step = ManifestEntry::Step::kIntent;
  e.path = path;
  return e;
}

ManifestEntry DirectoryEntry(const std::string& path) {
  ManifestEntry e;
  e.kind = ManifestEntry::Kind::kDirectory;
  e.path = path;
  return e;
}

ManifestEntry HeldFileEntry(const std::string& path, const std::string& held,
                            ManifestEntry::Step step) {
  ManifestEntry e;
  e.kind = ManifestEntry::Kind::kHeldFile;
  e.step = step;
  e.path = path;
  e.held = held;
  return e;
}

ManifestEntry RemovedDirEntry(const std::string& path,
                              ManifestEntry::Step step) {
  ManifestEntry e;
  e.kind = ManifestEntry::Kind::kRemovedDir;
  e.step = step;
  e.path = path;
  return e;
}

ManifestEntry MessageFileEntry(const std::string& path, uint64_t size,
                               const std::string& md5) {
  ManifestEntry e;
  e.kind = ManifestEntry::Kind::kMessageFile;
  e.path = path;
  e.size = size;
  e.md5 = md5;
  return e;
}

bool CopiedFileEntry(const std::string& path, const CopiedFile& copied,
                     ManifestEntry* entry) {
  if (!copied.Told()) return false;
  *entry = MessageFileEntry(path, copied.size, copied.stamp ? "" : copied.md5);
  entry->stamp = copied.stamp;
  return true;
}

AppendingFileSink::AppendingFileSink(FileSystem* fs, std::string path)
    : fs_(fs), path_(std::move(path)) {}

bool AppendingFileSink::Append(std::string_view bytes) {
  pending_ += bytes;
  return true;
}

bool AppendingFileSink::Flush() {
  if (pending_.empty() && created_) return true;
  if (!created_) {
    if (!fs_->ReplaceContents(path_, pending_, &error_)) return false;
    created_ = true;
    pending_.clear();
    // Held open from now on: a flush per step is then one write.
    file_ = fs_->OpenAppending(path_, &error_);
    return file_ != nullptr;
  }
  if (file_ == nullptr || !file_->Append(pending_, &error_)) {
    file_.reset();
    return false;
  }
  pending_.clear();
  return true;
}

ManifestWriter::ManifestWriter(ManifestSink* sink, const ManifestHeader& header)
    : sink_(sink), buffered_(HeaderText(header)) {}

void ManifestWriter::Add(const ManifestEntry& entry) {
  std::string line = EntryLine(entry);
  MutexLock guard(&mutex_);
  buffered_ += line;
}

bool ManifestWriter::WriteAhead(ManifestEntry::Kind kind,
                                const std::vector<std::string>& paths) {
  if (paths.empty()) return true;
  std::string lines;
  for (const std::string& path : paths) {
    lines += EntryLine(IntentEntry(kind, path));
  }
  {
    MutexLock guard(&mutex_);
    buffered_ += lines;
  }
  return Flush();
}

std::string ManifestWriter::error() {
  MutexLock guard(&mutex_);
  return error_;
}

bool ManifestWriter::failed() {
  MutexLock guard(&mutex_);
  return failed_;
}

bool ManifestWriter::Flush() {
  MutexLock guard(&mutex_);
  if (failed_) return false;
  // Nothing new since the last flush: the file is as it should be.
  if (buffered_.empty()) return true;
  if (!sink_->Append(buffered_) || !sink_->Flush()) {
    failed_ = true;
    error_ = sink_->Error();
    return false;
  }
  buffered_.clear();
  return true;
}

ConfigFile::WriteAhead WriteAheadOf(
    ManifestWriter* manifest,
    ManifestEntry (*make_entry)(const SavedAddition&, ManifestEntry::Step)) {
  return [manifest, make_entry](const std::vector<SavedAddition>& about,
                                std::string* error) {
    for (const SavedAddition& added : about) {
      manifest->Add(make_entry(added, ManifestEntry::Step::kIntent));
    }
    if (manifest->Flush()) return true;
    *error = manifest->error();
    return false;
  };
}

ManifestStatus ReadManifest(std::string_view text, RunManifest* manifest,
                            int* bad_line) {
  *manifest = RunManifest{};
  *bad_line = 0;
  std::string undone;
  text = RunBytes(text, &undone);
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      manifest->torn_tail = true;  // a write cut short: left out
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  const std::vector<std::string_view> first =
      lines.empty() ? std::vector<std::string_view>() : SplitSpaces(lines[0]);
  uint64_t version = 0;
  if (first.size() != 2 || first[0] != kMagic ||
      !ParseNumber(first[1], &version)) {
    *bad_line = 1;
    return ManifestStatus::kDamaged;
  }
  if (version < 1 || version > kManifestVersion) {
    *bad_line = 1;
    return ManifestStatus::kUnsupportedVersion;
  }
  const size_t header_lines = version >= 3 ? 7 : 6;
  if (lines.size() < header_lines) {
    *bad_line = static_cast<int>(lines.size()) + 1;
    return ManifestStatus::kDamaged;
  }
  if (!ParseHeaderRest(lines, version, &manifest->header, bad_line)) {
    *manifest = RunManifest{};
    return ManifestStatus::kDamaged;
  }
  for (size_t i = header_lines; i < lines.size(); ++i) {
    ManifestEntry entry;
    if (!ParseEntry(lines[i], version, &entry)) {
      *bad_line = static_cast<int>(i) + 1;
      *manifest = RunManifest{};
      return ManifestStatus::kDamaged;
    }
    manifest->entries.push_back(std::move(entry));
  }
  manifest->undone = std::move(undone);
  return ManifestStatus::kRead;
}

}  // namespace vm
