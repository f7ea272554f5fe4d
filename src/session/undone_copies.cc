#include "session/undone_copies.h"

#include "migrate/texts.h"
#include "migrate/undo_choices.h"
#include "migrate/undone_mark.h"
#include "platform/file_system.h"
#include "session/startup.h"
#include "session/target_view.h"
#include "util/md5.h"

namespace vm {
namespace {

// The most an undo's marks add to a run's bytes: one or two marks of a
// time field, escaped at worst.
constexpr uint64_t kMarksAtMost = 256;

// Reads `path`; true when its bytes less their marks are the run's.
bool IsCopy(FileSystem* fs, const std::string& path, const RunBytesId& id,
            std::string* undone) {
  std::string text;
  if (!fs->ReadFile(path, &text, nullptr)) return false;
  const std::string_view run = RunBytes(text, undone);
  return run.size() == id.size && Md5Hex(run) == id.digest;
}

// The view through which the runs folder is read and written: confined to
// the target, so that a link there is never followed.
bool Confine(FileSystem* disk, const CodePage& code_page,
             const std::string& target_dir, TargetView* view) {
  AppState where;
  where.target_dir = target_dir;
  FindTargetMailDir(disk, code_page, &where);
  where.target_mail_dir = TrimDirectory(where.target_mail_dir);
  std::string unsafe;
  return view->Confine(TargetRoots(disk, where), &unsafe);
}

}  // namespace

RunBytesId RunBytesId::Of(std::string_view run_bytes) {
  return RunBytesId{run_bytes.size(), Md5Hex(run_bytes)};
}

std::vector<ManifestCopy> ManifestCopiesIn(FileSystem* fs,
                                           const std::string& folder,
                                           const RunBytesId& id) {
  std::vector<ManifestCopy> copies;
  std::vector<DirEntry> entries;
  if (!fs->List(folder + "\\*.manifest", &entries)) return copies;
  for (const DirEntry& entry : entries) {
    // Only a file of about the run's size can be a copy: the others are
    // not read.
    if (entry.is_directory || entry.is_special || entry.unconvertible_name ||
        entry.size < id.size || entry.size > id.size + kMarksAtMost) {
      continue;
    }
    ManifestCopy copy{entry.path, ""};
    if (IsCopy(fs, entry.path, id, &copy.undone)) copies.push_back(copy);
  }
  return copies;
}

std::string UndoneInRunsFolder(FileSystem* disk, const CodePage& code_page,
                               const std::string& target_dir,
                               const RunBytesId& id) {
  TargetView view(disk);
  if (!Confine(disk, code_page, target_dir, &view)) return std::string();
  for (const ManifestCopy& copy :
       ManifestCopiesIn(&view, RunRecordsFolder(&view, target_dir), id)) {
    if (!copy.undone.empty()) return copy.undone;
  }
  return std::string();
}

std::vector<std::string> MarkRunUndone(
    FileSystem* disk, const CodePage& code_page, const std::string& target_dir,
    const std::string& manifest_path, const RunBytesId& id,
    const std::string& when, const Texts& texts) {
  std::vector<std::string> unmarked;
  const std::string mark = UndoneMark(when);
  TargetView view(disk);
  std::vector<ManifestCopy> copies;
  if (Confine(disk, code_page, target_dir, &view)) {
    copies = ManifestCopiesIn(&view, RunRecordsFolder(&view, target_dir), id);
  }
  for (const ManifestCopy& copy : copies) {
    std::string error;
    if (copy.undone.empty() && !view.AppendFile(copy.path, mark, &error)) {
      unmarked.push_back(view.DisplayPath(copy.path) + ": " + error);
    }
  }
  // The manifest the undo was given was one of those when it reads marked
  // now (whatever the spelling of its path); one that changed since the
  // undo read it is no copy of the run any more.
  std::string undone;
  std::string error;
  if (!IsCopy(&view, manifest_path, id, &undone)) {
    unmarked.push_back(view.DisplayPath(manifest_path) + ": " +
                       texts.undo_item_changed);
  } else if (undone.empty() && !view.AppendFile(manifest_path, mark, &error)) {
    unmarked.push_back(view.DisplayPath(manifest_path) + ": " + error);
  }
  return unmarked;
}

}  // namespace vm
