#include "migrate/mirror_pass.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "migrate/listing_sizes.h"
#include "migrate/message_names.h"
#include "migrate/mirror_proofs.h"
#include "migrate/run_manifest.h"
#include "platform/file_system.h"

namespace vm {

using Step = ManifestEntry::Step;

struct MirrorPass::Plan {
  struct Move {
    size_t folder;  // in the result
    size_t file;    // in its folder's listing
    std::string path;
    uint64_t size;
    bool held = false;
  };
  std::vector<Move> moves;
  // Folders gone from the source that go once their files are held.
  std::vector<std::pair<size_t, std::string>> dirs;
};

MirrorPass::MirrorPass(FileSystem* fs, NameOps names,
                       const MirrorProofs* proofs, ManifestWriter* manifest,
                       Options options)
    : fs_(fs),
      names_(std::move(names)),
      proofs_(proofs),
      manifest_(manifest),
      options_(std::move(options)) {}

void MirrorPass::Ready() {
  if (!options_.ready) return;
  std::function<void()> ready = std::move(options_.ready);
  options_.ready = nullptr;
  ready();
}

std::vector<MirrorPass::Folder> MirrorPass::Mirror(
    const std::string& target_box, const MailboxListing& box,
    const std::vector<SourceFolder>& folders, bool folder_list_known,
    const TargetListing* ahead, bool left_by_kill) {
  Ready();
  std::vector<Folder> result;
  // A source that could not be listed whole says nothing about what is
  // gone from it.
  if (!box.listed) return result;
  std::unordered_map<std::string, std::vector<std::string>> present;
  for (const SourceFolder& folder : folders) {
    std::vector<std::string>& names = present[names_.Fold(folder.target)];
    for (const DirEntry& entry : box.FilesOf(folder, names_)) {
      if (!entry.is_directory) names.push_back(names_.Fold(entry.name));
    }
  }
  if (ahead != nullptr &&
      (left_by_kill || !(ahead->listed && ahead->box == target_box))) {
    ahead = nullptr;
  }
  std::vector<DirEntry> listed;
  if (ahead == nullptr && !fs_->List(target_box + "\\*", &listed)) {
    return result;
  }
  const std::vector<DirEntry>& dirs = ahead ? ahead->entries : listed;
  std::vector<size_t> order(dirs.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&dirs](size_t a, size_t b) {
    return dirs[a].name < dirs[b].name;
  });
  Plan plan;
  static const std::vector<std::string> kNone;
  for (size_t at : order) {
    const DirEntry& dir = dirs[at];
    // Spam is the server's: no source folder fills it.
    if (!dir.is_directory || dir.is_special || dir.unconvertible_name ||
        names_.Fold(dir.name) == "spam" ||
        IsCopyTemporaryName(dir.name, names_)) {
      continue;
    }
    auto it = present.find(names_.Fold(dir.name));
    if (it == present.end() && !folder_list_known) continue;
    Folder folder;
    folder.name = dir.name;
    folder.gone = it == present.end();
    const size_t moves = plan.moves.size();
    const size_t index = result.size();
    const std::vector<DirEntry>* files =
        ahead != nullptr && ahead->folders[at] ? &*ahead->folders[at] : nullptr;
    Look(dir.path, files, folder.gone ? kNone : it->second, left_by_kill, &plan,
         &folder);
    for (size_t i = moves; i < plan.moves.size(); ++i) {
      plan.moves[i].folder = index;
    }
    if (!plan.dirs.empty() && plan.dirs.back().first == SIZE_MAX) {
      plan.dirs.back().first = index;
    }
    if (folder.listed) result.push_back(std::move(folder));
  }
  if (!Hold(&plan, &result)) {
    result.clear();
  } else if (!options_.preview) {
    DropHeld(plan, &result);
  }
  return result;
}

void MirrorPass::Look(const std::string& dir,
                      const std::vector<DirEntry>* ahead,
                      const std::vector<std::string>& present, bool sizes,
                      Plan* plan, Folder* folder) {
  if (ahead != nullptr) {
    folder->files = *ahead;
  } else if (sizes ? !fs_->List(dir + "\\*", &folder->files)
                   : !fs_->ListNames(dir + "\\*", &folder->files)) {
    return;
  }
  if (!TellSizes(fs_, dir, proofs_->Teller(), &folder->files)) return;
  folder->listed = true;
  const std::unordered_set<std::string> in_source(present.begin(),
                                                  present.end());
  bool only_ours = true;
  for (size_t i = 0; i < folder->files.size(); ++i) {
    const DirEntry& file = folder->files[i];
    if (file.is_directory || file.is_special || file.unconvertible_name ||
        IsCopyTemporaryName(file.name, names_)) {
      only_ours = false;
      continue;
    }
    std::string message = names_.Fold(file.name);
    if (in_source.count(message) > 0) continue;
    if (SizedNameMessage(names_, file.name, &message) &&
        in_source.count(message) > 0) {
      continue;
    }
    if (proofs_->FileUnchanged(fs_, file.path)) {
      plan->moves.push_back({SIZE_MAX, i, file.path, file.size});
      continue;
    }
    only_ours = false;
    // The server's own files are no messages and not worth a word; nor is
    // a file gone since the folder was listed (a listing made ahead).
    if ((IsMessageFileName(file.name) || IsMessageFileName(message)) &&
        fs_->Exists(file.path)) {
      ++folder->kept;
    }
  }
  if (folder->gone && only_ours && proofs_->MadeDir(dir)) {
    plan->dirs.push_back({SIZE_MAX, dir});
  }
}

bool MirrorPass::Hold(Plan* plan, std::vector<Folder>* folders) {
  if (options_.preview || manifest_ == nullptr) {
    for (const Plan::Move& move : plan->moves) {
      ++(*folders)[move.folder].removed;
      (*folders)[move.folder].removed_bytes += move.size;
      ++removed_;
      removed_bytes_ += move.size;
    }
    return true;
  }
  // Written ahead: a kill at any point leaves every file in place or in
  // the holding folder, and named.
  for (const Plan::Move& move : plan->moves) {
    manifest_->Add(
        HeldFileEntry(move.path, HeldName(move.path), Step::kIntent));
  }
  for (const auto& dir : plan->dirs) {
    manifest_->Add(RemovedDirEntry(dir.second, Step::kIntent));
  }
  if (!manifest_->Flush()) return false;
  for (Plan::Move& move : plan->moves) {
    Folder& folder = (*folders)[move.folder];
    const std::string held = HeldName(move.path);
    if (!MakeHoldingFolders(held) ||
        fs_->RenameNew(move.path, options_.runs_dir + "\\" + held, nullptr) !=
            PublishResult::kPublished) {
      folder.failed.push_back(move.path);
      continue;
    }
    manifest_->Add(HeldFileEntry(move.path, held, Step::kMade));
    move.held = true;
    ++folder.removed;
    folder.removed_bytes += move.size;
    ++removed_;
    removed_bytes_ += move.size;
  }
  for (const auto& dir : plan->dirs) {
    // Something that arrived meanwhile keeps the folder.
    if ((*folders)[dir.first].failed.empty() &&
        fs_->RemoveEmptyDir(dir.second, nullptr) && !fs_->Exists(dir.second)) {
      manifest_->Add(RemovedDirEntry(dir.second, Step::kMade));
    }
  }
  manifest_->Flush();
  return true;
}

void MirrorPass::DropHeld(const Plan& plan, std::vector<Folder>* folders) {
  // Moves are planned folder by folder in listing order: erasing from the
  // back keeps the indexes of those still to erase.
  for (auto it = plan.moves.rbegin(); it != plan.moves.rend(); ++it) {
    if (!it->held) continue;
    std::vector<DirEntry>& files = (*folders)[it->folder].files;
    files.erase(files.begin() + static_cast<std::ptrdiff_t>(it->file));
  }
}

std::string MirrorPass::HeldName(const std::string& path) const {
  return options_.holding + path.substr(options_.store.size());
}

bool MirrorPass::MakeHoldingFolders(const std::string& held) {
  // Every folder above the file, the runs folder included.
  std::vector<std::string> dirs{options_.runs_dir};
  for (size_t at = names_.Find(held, '\\'); at != std::string::npos;
       at = names_.Find(held, '\\', at + 1)) {
    dirs.push_back(options_.runs_dir + "\\" + held.substr(0, at));
  }
  for (const std::string& dir : dirs) {
    const std::string key = names_.Fold(dir);
    if (made_.count(key) > 0) continue;
    if (fs_->MakeDir(dir, nullptr) == DirMade::kFailed) return false;
    made_.insert(key);
  }
  return true;
}

}  // namespace vm
