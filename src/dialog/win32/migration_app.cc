#include "dialog/win32/migration_app.h"

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "session/target_view.h"

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
  if (!ReadImagePath(&image_path)) {
    shell_->ShowMessage(texts_.source_not_found);
    return false;
  }
  // An unreadable value leaves the directory empty; the check of the
  // source lists then reports them missing.
  state_.source_dir = DirectoryOfImagePath(image_path, code_page_);

  if (!FindTarget()) return false;
  // The skeletons are written through the directory exactly as the registry
  // gave it, before trimming, but only once every check has passed.
  const std::string untrimmed_target = state_.target_dir;
  SettleDirectories(fs_, code_page_, &state_);

  std::string message;
  if (!CheckInstallations(fs_, state_, texts_, &message)) {
    shell_->ShowMessage(message);
    return false;
  }
  switch (FindPathOverlap(fs_, state_)) {
    case PathOverlap::kTargetInSource:
      shell_->ShowMessage(texts_.target_in_source);
      return false;
    case PathOverlap::kMailStoreInSource:
      shell_->ShowMessage(texts_.mail_store_overlaps_source);
      return false;
    case PathOverlap::kNone:
      break;
  }
  // Like every change to the target, the skeletons go through its view.
  std::string unsafe;
  const std::unique_ptr<FileSystem> view =
      fs_->Confined(TargetRoots(fs_, state_), &unsafe);
  if (view == nullptr) {
    shell_->ShowMessage(texts_.target_unsafe +
                        FileErrorMessage(texts_, unsafe));
    return false;
  }
  CreateMissingTargetFiles(view.get(), fs_->AbsolutePath(untrimmed_target),
                           !state_.target_installed);

  shell_->RunMainDialog(state_);
  return false;
}

bool MigrationApp::ReadImagePath(std::string* image_path) {
  bool any_key = false;
  for (const char* key : {kSourceServiceKey, kSourceServiceFallbackKey}) {
    bool found = false;
    if (registry_->ReadString(key, kSourceImageValue, image_path, &found)) {
      any_key = true;
      if (found) return true;
    }
  }
  image_path->clear();
  return any_key;
}

bool MigrationApp::FindTarget() {
  bool found = false;
  if (registry_->ReadString(kTargetServerKey, kTargetProgValue,
                            &state_.target_dir, &found)) {
    state_.target_installed = true;
    return true;
  }
  shell_->ShowMessage(texts_.target_not_found);
  std::string initial = ProgramPath(kDialogCodePage);
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
