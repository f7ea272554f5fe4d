#include "session/manifest_file.h"

#include "migrate/undo_run.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "session/run_report.h"
#include "session/startup.h"
#include "vm_version.h"

namespace vm {
namespace {

// "2026-05-04T08:00:00Z" as a file name part: "20260504T080000Z".
std::string NamePart(int64_t started) {
  std::string name;
  for (char c : IsoTime(started)) {
    if (c != '-' && c != ':') name += c;
  }
  return name;
}

// `path` without its extension, when its last part has one.
std::string WithoutExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return path;
  }
  return path.substr(0, dot);
}

}  // namespace

// The manifest beside a report or log, and its copy in the runs folder.
// The first decides every flush; a copy that cannot be written (its
// volume full, say) is removed and written no more, so that the runs
// folder never holds a manifest that lacks what its run made.
class ManifestFile::BothSinks : public ManifestSink {
 public:
  BothSinks(FileSystem* fs, ManifestSink* first, std::string copy_path)
      : fs_(fs), first_(first), copy_(fs, copy_path), copy_path_(copy_path) {}
  bool Append(std::string_view bytes) override {
    if (!dropped_) copy_.Append(bytes);
    return first_->Append(bytes);
  }
  bool Flush() override {
    if (!first_->Flush()) return false;
    if (!dropped_ && !copy_.Flush()) {
      dropped_ = true;
      fs_->RemoveFile(copy_path_, nullptr);
    }
    return true;
  }
  std::string Error() const override { return first_->Error(); }

 private:
  FileSystem* fs_;
  ManifestSink* first_;
  AppendingFileSink copy_;
  std::string copy_path_;
  bool dropped_ = false;
};

std::string ManifestFile::PathFor(FileSystem* disk, const CodePage& code_page,
                                  const ManifestPlace& place,
                                  const std::string& target_dir,
                                  int64_t started) {
  const std::string& beside =
      !place.report_file.empty() ? place.report_file : place.log_file;
  std::string base;
  if (!beside.empty()) {
    base = WithoutExtension(code_page.ToAnsi(beside)) + ".";
  } else {
    base = ManifestDataFolder(disk, target_dir) + "\\velquor-migrate-runs";
    disk->MakeDir(base, nullptr);
    base += "\\";
  }
  // Two runs started in the same second keep a manifest each.
  base += NamePart(started);
  std::string path = base + ".manifest";
  for (int n = 2; disk->Exists(path); ++n) {
    path = base + "-" + std::to_string(n) + ".manifest";
  }
  return path;
}

ManifestFile::ManifestFile(FileSystem* disk, const CodePage& code_page,
                           const ManifestPlace& place, const AppState& state,
                           int64_t started)
    : path_(PathFor(disk, code_page, place, state.target_dir, started)) {
  ManifestHeader header;
  header.tool_version = VM_VERSION;
  header.target_dir = state.target_dir;
  FileLocation where;
  if (disk->Locate(ManifestDataFolder(disk, state.target_dir), &where) &&
      where.exists && !where.chain.empty()) {
    header.data_folder = where.chain.front();
  }
  header.started = IsoTime(started);
  header.kind = place.sync ? ManifestRunKind::kSync : ManifestRunKind::kMigrate;
  header.code_page = place.code_page;
  sink_ = std::make_unique<AppendingFileSink>(disk, path_);
  ManifestSink* sink = sink_.get();
  const ManifestPlace in_runs{"", "", place.sync, place.code_page};
  const std::string copy =
      place.report_file.empty() && place.log_file.empty()
          ? std::string()
          : PathFor(disk, code_page, in_runs, state.target_dir, started);
  // A report kept in the runs folder itself keeps the only manifest there.
  if (!copy.empty() && copy.substr(0, copy.find_last_of("\\/")) !=
                           path_.substr(0, path_.find_last_of("\\/"))) {
    copy_path_ = copy;
    both_ = std::make_unique<BothSinks>(disk, sink_.get(), copy_path_);
    sink = both_.get();
  }
  writer_ = std::make_unique<ManifestWriter>(sink, header);
}

ManifestFile::~ManifestFile() = default;

}  // namespace vm
