#include "session/session_mirror.h"

#include <system_error>

#include "migrate/undo_choices.h"
#include "migrate/undo_run.h"
#include "platform/file_system.h"
#include "session/run_report.h"
#include "session/startup.h"

namespace vm {
namespace {

// "2026-05-04T08:00:00Z" as a folder name: "20260504T080000Z".
std::string StartName(int64_t started) {
  std::string name;
  for (char c : IsoTime(started)) {
    if (c != '-' && c != ':') name += c;
  }
  return name;
}

}  // namespace

SessionMirror::SessionMirror(FileSystem* fs, const AppState& state,
                             const NameOps& names, ManifestWriter* manifest,
                             int64_t started)
    : runs_dir_(RunRecordsFolder(fs, state.target_dir)),
      proofs_(names),
      recorded_(names) {
  FileLocation where;
  if (fs->Locate(ManifestDataFolder(fs, state.target_dir), &where) &&
      where.exists && !where.chain.empty()) {
    data_folder_ = where.chain.front();
  }
  index_ = std::make_unique<ProofIndex>(
      fs, names,
      ProofIndex::Target{runs_dir_, state.target_dir, state.target_mail_dir,
                         data_folder_});
  MirrorPass::Options options;
  options.store = state.target_mail_dir;
  options.runs_dir = runs_dir_;
  options.preview = manifest == nullptr;
  options.ready = [this] { WaitFilled(); };
  const std::string base = StartName(started);
  options.holding = base + ".held";
  for (int n = 2; fs->Exists(runs_dir_ + "\\" + options.holding); ++n) {
    options.holding = base + "-" + std::to_string(n) + ".held";
  }
  pass_ = std::make_unique<MirrorPass>(fs, names, &proofs_, manifest,
                                       std::move(options));
  // The manifests are read while the run judges its accounts: the first
  // mailbox mirrored waits for them, if at all.
  try {
    loading_ = std::thread([this] { Load(); });
  } catch (const std::system_error&) {
    Load();
  }
}

SessionMirror::~SessionMirror() { WaitLoaded(); }

SizeTeller SessionMirror::Sizes() {
  return [this](const std::string& path, uint64_t file, uint64_t* size) {
    WaitFilled();
    return proofs_.WrittenSize(path, file, size);
  };
}

void SessionMirror::WaitFilled() {
  MutexLock lock(&mutex_);
  while (!filled_) lock.Wait(&filled_cv_);
}

void SessionMirror::WaitLoaded() {
  if (loading_.joinable()) loading_.join();
}

ProofIndex::Use SessionMirror::Reload() {
  WaitLoaded();
  return Load();
}

ProofIndex::Use SessionMirror::Load() {
  // A data folder that cannot be found proves nothing.
  const auto filled = [this] {
    MutexLock lock(&mutex_);
    filled_ = true;
    filled_cv_.notify_all();
  };
  if (data_folder_ == FileId{}) {
    filled();
    return ProofIndex::Use::kUnwritten;
  }
  return index_->Load(&proofs_, &recorded_, filled);
}

}  // namespace vm
