#include "migrate/mailbox_use.h"

#include <vector>

#include "migrate/message_names.h"
#include "migrate/pending_marks.h"
#include "migrate/texts.h"
#include "migrate/undo_files.h"
#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {
namespace {

using Step = ManifestEntry::Step;

// A file a killed run leaves in a mailbox of its own: its mark, a copy in
// progress.
bool OwnLeftover(const DirEntry& entry, const NameOps& names) {
  return !entry.is_directory && !entry.is_special &&
         (entry.name == PendingMarks::kFileName ||
          IsCopyTemporaryName(entry.name, names));
}

const ManifestEntry* Recorded(const RunPaths& run_paths,
                              const std::string& path, const NameOps& names) {
  auto it = run_paths.find(PathKey(path, names));
  return it == run_paths.end() ? nullptr : it->second;
}

// The use one folder of the mailbox shows; empty for none.
std::string FolderUse(FileSystem* fs, const NameOps& names, const Texts& texts,
                      const std::string& folder, const RunPaths& run_paths) {
  std::vector<DirEntry> files;
  if (!fs->List(folder + "\\*", &files)) return texts.undo_remove_failed;
  for (const DirEntry& file : files) {
    if (file.name == "." || file.name == ".." || OwnLeftover(file, names)) {
      continue;
    }
    const ManifestEntry* e = Recorded(run_paths, file.path, names);
    if (file.is_directory || file.is_special || e == nullptr ||
        e->kind != ManifestEntry::Kind::kMessageFile) {
      return texts.undo_mail_arrived;
    }
    if (e->step == Step::kIntent) return texts.undo_unconfirmed;
    bool unreadable = false;
    if (!FileAsRecorded(fs, *e, &unreadable)) {
      return unreadable ? texts.undo_file_unreadable : texts.undo_file_changed;
    }
  }
  return std::string();
}

}  // namespace

std::string PathKey(const std::string& path, const NameOps& names) {
  std::string key;
  for (char c : names.Fold(path)) {
    if (c == '/') c = '\\';
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key.push_back(c);
  }
  if (key.size() > 1 && key.back() == '\\') key.pop_back();
  return key;
}

std::string MailboxUse(FileSystem* fs, const NameOps& names, const Texts& texts,
                       const std::string& box, const RunPaths& run_paths) {
  const ManifestEntry* own = Recorded(run_paths, box, names);
  if (own != nullptr && own->step == Step::kFound) return texts.undo_box_found;
  if (!fs->Exists(box)) return std::string();
  if (own != nullptr && own->step == Step::kIntent) {
    return texts.undo_unconfirmed;
  }
  std::vector<DirEntry> held;
  if (!fs->List(box + "\\*", &held)) return texts.undo_remove_failed;
  for (const DirEntry& entry : held) {
    if (entry.name == "." || entry.name == ".." || OwnLeftover(entry, names)) {
      continue;
    }
    const ManifestEntry* e = Recorded(run_paths, entry.path, names);
    // In a mailbox the run made, every folder is the run's; in one that
    // was there, its folders were too, and only what they hold counts.
    if (!entry.is_directory || entry.is_special ||
        (own != nullptr && (e == nullptr || e->step == Step::kIntent))) {
      return e != nullptr && e->step == Step::kIntent ? texts.undo_unconfirmed
                                                      : texts.undo_mail_arrived;
    }
    std::string use = FolderUse(fs, names, texts, entry.path, run_paths);
    if (!use.empty()) return use;
  }
  return std::string();
}

}  // namespace vm
