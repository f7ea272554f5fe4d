#include "migrate/run_manifest.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "migrate/record_fields.h"
#include "migrate/undone_mark.h"
#include "platform/file_system.h"

namespace vm {
namespace {

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
  std::string text = std::string(kManifestMagic) + ' ' +
                     std::to_string(kManifestVersion) + "\ntool";
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

}  // namespace vm
