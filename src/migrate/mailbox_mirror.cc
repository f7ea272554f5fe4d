// The mailbox migrator's hooks into a mirror pass (mirror_pass.h): which
// source folders an existing mailbox has, and the lines and counts of
// what was taken out of its target folders.

#include <string>
#include <utility>
#include <vector>

#include "migrate/mailbox_in_flight.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/mirror_pass.h"
#include "migrate/run_observer.h"
#include "migrate/safe_name.h"
#include "migrate/source_mailbox.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

namespace {

// The lines of one target folder after its done line: what went, what
// stayed, and each file that could not be moved.
std::vector<std::string> MirrorLines(const Texts& texts, FileSystem* fs,
                                     const std::string& display,
                                     const MirrorPass::Folder& folder) {
  std::vector<std::string> lines;
  if (folder.removed > 0) {
    lines.push_back(display + texts.mirror_removed +
                    std::to_string(folder.removed) + texts.mirror_removed_tail);
  }
  if (folder.kept > 0) {
    lines.push_back(display + texts.mirror_kept + std::to_string(folder.kept) +
                    texts.mirror_kept_tail);
  }
  for (const std::string& path : folder.failed) {
    lines.push_back(texts.folder_indent + texts.mirror_hold_failed +
                    fs->DisplayPath(path));
  }
  return lines;
}

}  // namespace

void MailboxMigrator::Mirror(const std::string& source_box,
                             const std::string& target_box,
                             const MailboxListing& box, Mailbox* mailbox) {
  if (!box.listed) {
    // Nothing is known gone from a mailbox that is not there, or could
    // not be listed (its failure line is written already).
    if (!fs_->Exists(source_box)) {
      log_->AppendLogLine(texts_.folder_indent + texts_.mirror_no_source_box +
                          fs_->DisplayPath(source_box));
    }
    return;
  }
  std::vector<SourceFolder> folders = StandardFolders(source_box);
  bool list_known = true;
  const std::string list_path = FolderListPath(source_box);
  if (box.Holds(fs_, list_path, options_.names)) {
    std::string text;
    list_known = box.ReadFile(fs_, list_path, &text);
    const std::vector<std::string> names = FolderListNames(text);
    for (size_t i = 0; list_known && i < names.size(); ++i) {
      if (IsSafeDirectoryName(names[i], options_.names)) {
        folders.push_back(UserFolder(source_box, i, names[i]));
      }
    }
  }
  // A mailbox a killed run left cleared its leftovers since the read-ahead
  // listed it: it is listed again, with sizes.
  mailbox->mirrored =
      options_.mirror_pass->Mirror(target_box, box, folders, list_known,
                                   box.target.get(), mailbox->tally.resume);
  for (const MirrorPass::Folder& folder : mailbox->mirrored) {
    // A file that could not be moved is tried again by the next pass.
    if (!folder.failed.empty()) mailbox->listed = false;
  }
}

void MailboxMigrator::Mirrored(const std::string& name,
                               const std::string& display, Mailbox* mailbox,
                               TargetFolder* target) {
  for (MirrorPass::Folder& folder : mailbox->mirrored) {
    if (folder.gone || folder.name.empty() ||
        !options_.names.EqualsIgnoringCase(folder.name, name)) {
      continue;
    }
    target->removed = folder.removed;
    target->removed_bytes = folder.removed_bytes;
    target->notes = MirrorLines(texts_, fs_, display, folder);
    target->listed = folder.listed;
    target->files = std::move(folder.files);
    folder.name.clear();  // told once, should two source folders share it
    return;
  }
}

void MailboxMigrator::MirrorGoneFolders(Mailbox* mailbox) {
  for (const MirrorPass::Folder& folder : mailbox->mirrored) {
    if (!folder.gone) continue;
    const std::string display =
        texts_.folder_indent + folder.name + texts_.user_folder_done;
    for (const std::string& line : MirrorLines(texts_, fs_, display, folder)) {
      log_->AppendLogLine(line);
    }
    // A folder is told with its line last; one where nothing went has no
    // line of its own and no counts.
    if (folder.removed == 0) continue;
    FolderCounts counts;
    counts.name = folder.name;
    counts.removed = folder.removed;
    counts.removed_bytes = folder.removed_bytes;
    log_->Then([this, counts] { observer_->OnFolder(counts); });
  }
  mailbox->mirrored.clear();
}

}  // namespace vm
