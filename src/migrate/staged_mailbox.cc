#include "migrate/staged_mailbox.h"

#include <utility>

#include "migrate/pending_marks.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

void StagedMailbox::MadeDirectory(const std::string& staged) {
  ManifestEntry entry = DirectoryEntry(Final(staged));
  MutexLock lock(&mutex_);
  entries_.push_back(std::move(entry));
}

void StagedMailbox::MadeFile(const std::string& staged,
                             const CopiedFile& copied) {
  ManifestEntry entry;
  if (!CopiedFileEntry(Final(staged), copied, &entry)) return;
  MutexLock lock(&mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<ManifestEntry> StagedMailbox::TakeEntries() {
  std::vector<ManifestEntry> entries{DirectoryEntry(box_)};
  MutexLock lock(&mutex_);
  for (ManifestEntry& entry : entries_) entries.push_back(std::move(entry));
  entries_.clear();
  return entries;
}

namespace {

// What MergeStaged did: whether the mailbox folder exists and holds the
// pending mark, and the staged files not put into it, because a file of
// that name was there (`exists`) or the copy failed with `error`.
struct MergeOutcome {
  bool box_ready = false;
  struct Left {
    std::string from;  // the staged file, or folder
    std::string path;  // where it was to go
    bool exists = false;
    std::string error;
  };
  std::vector<Left> left;
};

// Copies the staged files of one folder into the mailbox's folder.
void MergeFolder(FileSystem* fs, const std::string& from, const std::string& to,
                 ManifestWriter* manifest, MergeOutcome* outcome) {
  std::vector<DirEntry> files;
  const DirMade made = fs->MakeDir(to, nullptr);
  if (made == DirMade::kMade && manifest != nullptr) {
    manifest->Add(DirectoryEntry(to));
  }
  // A folder that cannot be made or listed leaves its files to a later
  // run, which copies them from the source.
  if (made == DirMade::kFailed || !fs->List(from + "\\*", &files)) {
    outcome->left.push_back(
        {from, to, false, "cannot merge " + fs->DisplayPath(to)});
    return;
  }
  for (const DirEntry& file : files) {
    if (file.is_directory || file.is_special) continue;
    const std::string target = to + "\\" + file.name;
    std::string error;
    CopiedFile copied;
    const CopyResult result =
        manifest != nullptr
            ? fs->CopyNewRecorded(file.path, target, &error, &copied)
            : fs->CopyNew(file.path, target, &error);
    if (result == CopyResult::kCopied) {
      ManifestEntry entry;
      if (manifest != nullptr && CopiedFileEntry(target, copied, &entry)) {
        manifest->Add(entry);
      }
      continue;
    }
    outcome->left.push_back(
        {file.path, target, result == CopyResult::kTargetExists, error});
  }
}

// Records, before any of them is made, the folders and files the merge of
// `folders` (the staging folder's) into the mailbox may make.
void WriteMergeAhead(FileSystem* fs, const StagedMailbox& staged,
                     const std::vector<DirEntry>& folders,
                     ManifestWriter* manifest) {
  std::vector<std::string> dirs, files;
  for (const DirEntry& folder : folders) {
    if (!folder.is_directory || folder.unconvertible_name) continue;
    const std::string to = staged.box() + "\\" + folder.name;
    if (!fs->Exists(to)) dirs.push_back(to);
    std::vector<DirEntry> held;
    if (!fs->List(folder.path + "\\*", &held)) continue;
    for (const DirEntry& file : held) {
      if (!file.is_directory && !file.is_special) {
        files.push_back(to + "\\" + file.name);
      }
    }
  }
  manifest->WriteAhead(ManifestEntry::Kind::kDirectory, dirs);
  manifest->WriteAhead(ManifestEntry::Kind::kMessageFile, files);
}

MergeOutcome MergeStaged(FileSystem* fs, const StagedMailbox& staged,
                         const std::string& mark, ManifestWriter* manifest) {
  MergeOutcome outcome;
  const std::string& box = staged.box();
  std::vector<DirEntry> folders;
  const DirMade made = fs->MakeDir(box, nullptr);
  if (made == DirMade::kFailed ||
      !fs->WriteFile(box + "\\" + mark, "", nullptr) ||
      !fs->List(staged.staging() + "\\*", &folders)) {
    return outcome;
  }
  if (manifest != nullptr) {
    ManifestEntry entry = DirectoryEntry(box);
    // Made by another program meanwhile (the server, for a delivery): it
    // is not the run's, nor is its account the run's alone any more.
    if (made != DirMade::kMade) entry.step = ManifestEntry::Step::kFound;
    manifest->Add(entry);
    WriteMergeAhead(fs, staged, folders, manifest);
  }
  outcome.box_ready = true;
  for (const DirEntry& folder : folders) {
    if (!folder.is_directory || folder.unconvertible_name) continue;
    MergeFolder(fs, folder.path, box + "\\" + folder.name, manifest, &outcome);
  }
  return outcome;
}

}  // namespace

PublishOutcome PublishStaged(FileSystem* fs, StagedMailbox* staged,
                             const Texts& texts, ManifestWriter* manifest) {
  PublishOutcome outcome;
  // Written ahead: on disk before the rename shows them. A mailbox merged
  // instead has its files recorded again as they are merged, and the
  // last record of a path is the one an undo goes by.
  if (manifest != nullptr) {
    for (const ManifestEntry& entry : staged->TakeEntries()) {
      manifest->Add(entry);
    }
    manifest->Flush();
  }
  if (fs->PublishDir(staged->staging(), staged->box(), nullptr) ==
      PublishResult::kPublished) {
    return outcome;
  }
  const MergeOutcome merge =
      MergeStaged(fs, *staged, PendingMarks::kFileName, manifest);
  const std::string& indent = texts.folder_indent;
  if (!merge.box_ready) {
    outcome.box_ready = false;
    outcome.lines.push_back(indent + texts.mailbox_dir_failed +
                            fs->DisplayPath(staged->box()));
    return outcome;
  }
  outcome.merged = true;
  for (const MergeOutcome::Left& left : merge.left) {
    outcome.lines.push_back(
        left.exists
            ? indent + texts.target_differs + fs->DisplayPath(left.from) +
                  " -> " + fs->DisplayPath(left.path)
            : indent + texts.copy_failed + fs->DisplayPath(left.path) +
                  texts.why_open + FileErrorWords(texts, left.error) +
                  texts.why_close);
  }
  return outcome;
}

}  // namespace vm
