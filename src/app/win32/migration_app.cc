#include "app/win32/migration_app.h"

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace vm {

MigrationApp::MigrationApp(Registry* registry, FileSystem* fs,
                           const CodePage& code_page, const Texts& texts,
                           StartUpShell* shell)
    : registry_(registry),
      fs_(fs),
      code_page_(code_page),
      texts_(texts),
      shell_(shell) {}

bool MigrationApp::StartUp() {
  std::string image_path;
  bool found = false;
  if (!registry_->ReadString(kSourceServiceKey, kSourceImageValue, &image_path,
                             &found)) {
    shell_->ShowMessage(texts_.source_not_found);
    return false;
  }
  // An unreadable value leaves the directory empty; the run then reports
  // the missing source lists.
  state_.source_dir = DirectoryOfImagePath(image_path, code_page_);

  if (!FindTarget()) return false;
  // The skeletons are written through the directory exactly as the registry
  // gave it, before trimming. A value that could not be read gives no
  // directory at all: writing then would put the files under "\data" of the
  // current drive's root, so nothing is written.
  if (!TrimDirectory(state_.target_dir).empty()) {
    CreateMissingTargetFiles(fs_, state_.target_dir, !state_.target_installed);
  }
  state_.source_dir = TrimDirectory(state_.source_dir);
  state_.target_dir = TrimDirectory(state_.target_dir);

  if (state_.target_installed && !CheckTargetVersion(fs_, state_.target_dir)) {
    shell_->ShowMessage(TargetProblem());
    return false;
  }
  FindSourceMailDir(&state_);
  FindTargetMailDir(fs_, code_page_, &state_);
  state_.source_mail_dir = TrimDirectory(state_.source_mail_dir);
  state_.target_mail_dir = TrimDirectory(state_.target_mail_dir);

  shell_->RunMainDialog(state_);
  return false;
}

std::string MigrationApp::TargetProblem() const {
  const std::string& dir = state_.target_dir;
  std::vector<DirEntry> entries;
  if (dir.empty() || !fs_->List(dir + "\\*", &entries)) {
    return texts_.target_dir_missing + (dir.empty() ? kTargetProgValue : dir);
  }
  std::string path = dir + "\\data\\system.cfg";
  if (!fs_->Exists(path)) {
    if (!fs_->Exists(dir + "\\system.cfg")) {
      return texts_.system_cfg_missing + path;
    }
    path = dir + "\\system.cfg";
  }
  std::string text;
  if (!fs_->ReadFile(path, &text, nullptr)) {
    return texts_.system_cfg_unreadable + path;
  }
  return texts_.target_too_old;
}

bool MigrationApp::FindTarget() {
  bool found = false;
  if (registry_->ReadString(kTargetServerKey, kTargetProgValue,
                            &state_.target_dir, &found)) {
    state_.target_installed = true;
    return true;
  }
  shell_->ShowMessage(texts_.target_not_found);
  std::string initial = ProgramPath();
  if (initial.empty()) initial = "C:\\";
  std::string folder;
  if (!shell_->PickFolder(&folder, initial)) {
    shell_->ShowMessage(texts_.no_temporary_folder);
    return false;
  }
  state_.target_dir = folder;
  state_.target_installed = false;
  return true;
}

}  // namespace vm
