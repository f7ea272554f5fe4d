#include "migrate/proof_index.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

#include "migrate/mailbox_use.h"
#include "migrate/manifest_scope.h"
#include "migrate/mirror_proofs.h"
#include "migrate/password_follow.h"
#include "migrate/record_fields.h"
#include "migrate/run_manifest.h"
#include "platform/file_system.h"
#include "util/md5.h"

namespace vm {

namespace {

constexpr std::string_view kFormatLine = "velquor-migrate-proof-index 1";

// "manifest NAME VOLUME FILE SIZE MTIME CTIME": a manifest's status.
std::string ManifestLine(const std::string& name, const EntryStatus& s) {
  std::string line = "manifest";
  AppendField(&line, name);
  line += ' ' + std::to_string(s.id.volume) + ' ' + std::to_string(s.id.file) +
          ' ' + std::to_string(s.size) + ' ' + TimeText(s.modified) + ' ' +
          TimeText(s.changed);
  return line;
}

bool ParseManifestLine(const std::vector<std::string_view>& w,
                       std::string* name, EntryStatus* s) {
  return w.size() == 7 && w[0] == "manifest" && ParseField(w[1], name) &&
         ParseNumber(w[2], &s->id.volume) && ParseNumber(w[3], &s->id.file) &&
         ParseNumber(w[4], &s->size) && ParseTime(w[5], &s->modified) &&
         ParseTime(w[6], &s->changed);
}

// The index line of an account or domain record (none for another).
void AccountLine(const ManifestEntry& e, std::vector<std::string>* out) {
  using Kind = ManifestEntry::Kind;
  if (e.step == ManifestEntry::Step::kSaved) return;
  std::string line;
  if (e.kind == Kind::kDomain) {
    line = "domain";
    AppendField(&line, e.name);
  } else if (e.kind == Kind::kAccount || e.kind == Kind::kPassword) {
    line = "account";
    AppendField(&line, e.name);
    AppendField(&line, e.domain);
    AppendField(&line, e.kind == Kind::kAccount ? e.item.element : e.new_item);
  } else {
    return;
  }
  out->push_back(std::move(line));
}

// The index line of a folder or message file the run made (none for
// another record).
void PathLine(const ManifestEntry& e, const NameOps& names,
              std::vector<std::string>* out) {
  const std::string key = PathKey(e.path, names);
  std::string line;
  // Room for the word, the key (escaped: a few bytes more at most, in the
  // usual case) and the numbers, so that the line is made in one piece.
  line.reserve(key.size() + 112);
  if (e.kind == ManifestEntry::Kind::kDirectory) {
    line += "dir";
    AppendField(&line, key);
  } else {
    line += e.stamp ? "file-stamp" : "file";
    AppendField(&line, key);
    line += ' ';
    line += std::to_string(e.size);
    line += ' ';
    if (e.stamp) {
      line += std::to_string(e.stamp->file);
      line += ' ';
      line += TimeText(e.stamp->modified);
      line += ' ';
      line += TimeText(e.stamp->changed);
    } else {
      line += e.md5;
    }
  }
  out->push_back(std::move(line));
}

}  // namespace

// One manifest's part of the index.
struct ProofIndex::Part {
  std::string name;
  EntryStatus status;
  std::vector<std::string> lines;
  bool indexed = false;  // taken from the index, not read
};

ProofIndex::ProofIndex(FileSystem* fs, NameOps names, Target target)
    : fs_(fs), names_(std::move(names)), target_(std::move(target)) {}

bool ProofIndex::Lines(std::string_view text,
                       std::vector<std::string>* lines) const {
  // Entry by entry: the records of a manifest of many files are never all
  // held at once. The account lines come first, then the paths'; neither
  // is kept unless the whole manifest reads.
  RunManifest manifest;
  std::optional<StoreScope> scope;
  std::vector<std::string> accounts;
  std::vector<std::string> paths;
  auto each = [&](ManifestEntry&& e) {
    if (!(manifest.header.data_folder == target_.data_folder)) return;
    AccountLine(e, &accounts);
    if (e.step != ManifestEntry::Step::kMade ||
        (e.kind != ManifestEntry::Kind::kDirectory &&
         e.kind != ManifestEntry::Kind::kMessageFile)) {
      return;
    }
    // Only the paths beneath the store, given this run's spelling of it.
    if (!scope) {
      scope.emplace(
          RecordedStore(manifest, target_.target_dir, target_.store, names_),
          target_.store, names_);
    }
    if (scope->Take(&e)) PathLine(e, names_, &paths);
  };
  int bad_line = 0;
  if (ReadManifestEntries(text, &manifest, &bad_line, each) !=
          ManifestStatus::kRead ||
      !(manifest.header.data_folder == target_.data_folder)) {
    return false;
  }
  *lines = std::move(accounts);
  lines->reserve(lines->size() + paths.size());
  for (std::string& line : paths) lines->push_back(std::move(line));
  return true;
}

bool TakeProofLine(std::string_view line, MirrorProofs* proofs,
                   RecordedAccounts* accounts) {
  const std::vector<std::string_view> w = SplitSpaces(line);
  std::string a;
  std::string b;
  std::string c;
  uint64_t size = 0;
  if (w.size() == 2 && w[0] == "dir" && ParseField(w[1], &a)) {
    proofs->AddDir(std::move(a));
  } else if (w.size() == 4 && w[0] == "file" && ParseField(w[1], &a) &&
             ParseNumber(w[2], &size) && IsMd5Hex(w[3])) {
    proofs->AddFile(a, size, w[3], std::nullopt);
  } else if (w.size() == 6 && w[0] == "file-stamp" && ParseField(w[1], &a) &&
             ParseNumber(w[2], &size)) {
    FileStamp stamp;
    stamp.size = size;
    if (!ParseNumber(w[3], &stamp.file) || !ParseTime(w[4], &stamp.modified) ||
        !ParseTime(w[5], &stamp.changed)) {
      return false;
    }
    proofs->AddFile(a, size, std::string_view(), stamp);
  } else if (w.size() == 4 && w[0] == "account" && ParseField(w[1], &a) &&
             ParseField(w[2], &b) && ParseField(w[3], &c)) {
    accounts->AddItem(a, b, c);
  } else if (w.size() == 2 && w[0] == "domain" && ParseField(w[1], &a)) {
    accounts->AddDomain(a);
  } else {
    return false;
  }
  return true;
}

std::string ProofIndex::Header() const {
  std::string text(kFormatLine);
  text += "\ndata-folder " + std::to_string(target_.data_folder.volume) + ' ' +
          std::to_string(target_.data_folder.file) + "\ntarget";
  AppendField(&text, target_.target_dir);
  text += "\nstore";
  AppendField(&text, target_.store);
  // The keys are folded in this code page's way.
  std::string leads;
  for (int c = 0; c < 256; ++c) {
    leads += names_.IsLeadByte(static_cast<unsigned char>(c)) ? '1' : '0';
  }
  return text + "\nlead-bytes " + leads + "\n";
}

bool ProofIndex::Parse(std::string_view text, std::vector<Part>* parts,
                       MirrorProofs* proofs, RecordedAccounts* accounts) const {
  parts->clear();
  const std::string header = Header();
  if (text.substr(0, header.size()) != header || text.back() != '\n') {
    return false;
  }
  // The last line: "end" and the digest of every line before it.
  const size_t end = text.rfind('\n', text.size() - 2) + 1;
  if (end < header.size() ||
      text.substr(end) != "end " + Md5Hex(text.substr(0, end)) + "\n") {
    return false;
  }
  // Each line is checked now, so that a part taken is taken whole.
  text = text.substr(header.size(), end - header.size());
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    const std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 1);
    const std::vector<std::string_view> w = SplitSpaces(line);
    Part part;
    if (ParseManifestLine(w, &part.name, &part.status)) {
      if (!parts->empty() && part.name <= parts->back().name) return false;
      parts->push_back(std::move(part));
    } else if (parts->empty() || !TakeProofLine(line, proofs, accounts)) {
      return false;
    } else {
      parts->back().lines.emplace_back(line);
    }
  }
  return true;
}

bool ProofIndex::Write(const std::vector<Part>& parts) {
  std::string text = Header();
  size_t size = text.size() + 64;
  for (const Part& part : parts) {
    size += 256;  // the manifest's line
    for (const std::string& line : part.lines) size += line.size() + 1;
  }
  text.reserve(size);
  for (const Part& part : parts) {
    text += ManifestLine(part.name, part.status);
    text += '\n';
    for (const std::string& line : part.lines) {
      text += line;
      text += '\n';
    }
  }
  text += "end " + Md5Hex(text) + "\n";
  return fs_->ReplaceContents(target_.runs_dir + "\\" + kFileName, text,
                              nullptr);
}

uint64_t ProofIndex::Fill(const DirEntry& entry, Part* indexed, Part* part) {
  part->name = entry.name;
  const bool known = fs_->StatusOf(entry.path, &part->status);
  if (known && indexed != nullptr && indexed->status == part->status) {
    part->lines = std::move(indexed->lines);
    part->indexed = true;
    return 0;
  }
  std::string text;
  // A manifest that could not be read now is read again next time.
  if (!fs_->ReadFile(entry.path, &text, nullptr)) {
    part->status = EntryStatus{};
    return 0;
  }
  Lines(text, &part->lines);
  return text.size();
}

ProofIndex::Use ProofIndex::Load(MirrorProofs* proofs,
                                 RecordedAccounts* accounts,
                                 const std::function<void()>& filled) {
  std::vector<DirEntry> entries;
  fs_->List(target_.runs_dir + "\\*.manifest", &entries);
  std::sort(
      entries.begin(), entries.end(),
      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  // What the index proves, taken while its lines are checked.
  MirrorProofs indexed_proofs(names_);
  RecordedAccounts indexed_accounts(names_);
  std::vector<Part> indexed;
  std::string text;
  const std::string path = target_.runs_dir + "\\" + kFileName;
  const bool taken = fs_->Exists(path) && fs_->ReadFile(path, &text, nullptr) &&
                     Parse(text, &indexed, &indexed_proofs, &indexed_accounts);
  std::unordered_map<std::string, Part*> by_name;
  for (Part& part : indexed) by_name[part.name] = &part;
  std::vector<Part> parts;
  uint64_t read_bytes = 0;
  size_t from_index = 0;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory || entry.is_special || entry.unconvertible_name) {
      continue;
    }
    auto it = by_name.find(entry.name);
    Part part;
    read_bytes +=
        Fill(entry, it == by_name.end() ? nullptr : it->second, &part);
    if (part.indexed) ++from_index;
    parts.push_back(std::move(part));
  }
  // Every part of the index still stands: what it proves is taken as a
  // whole, and only the manifests read are added.
  const bool whole = taken && from_index == indexed.size();
  if (whole) {
    *proofs = std::move(indexed_proofs);
    *accounts = std::move(indexed_accounts);
  } else {
    proofs->Clear();
    accounts->Clear();
  }
  size_t count = 0;
  size_t bytes = 0;
  for (const Part& part : parts) {
    if (whole && part.indexed) continue;
    count += part.lines.size();
    for (const std::string& line : part.lines) bytes += line.size();
  }
  proofs->Reserve(count, bytes);
  for (const Part& part : parts) {
    if (whole && part.indexed) continue;
    for (const std::string& line : part.lines) {
      TakeProofLine(line, proofs, accounts);
    }
  }
  proofs->Seal();
  if (filled) filled();
  return Keep(taken, whole && from_index == parts.size(), read_bytes,
              text.size(), &parts);
}

ProofIndex::Use ProofIndex::Keep(bool taken, bool current, uint64_t read_bytes,
                                 uint64_t index_bytes,
                                 std::vector<Part>* parts) {
  if (current) return Use::kCurrent;
  // The index is replaced whole, which costs more than reading again, on
  // the next pass, manifests that are small beside it (a watch's passes
  // each add one).
  if (taken && read_bytes * kRewriteShare < index_bytes) return Use::kUpdated;
  // Only a part whose manifest's status is known can be checked later.
  for (const Part& part : *parts) {
    if (part.status == EntryStatus{}) return Use::kUnwritten;
  }
  if (!Write(*parts)) return Use::kUnwritten;
  return taken ? Use::kUpdated : Use::kRebuilt;
}

}  // namespace vm
