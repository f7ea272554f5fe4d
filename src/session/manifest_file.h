#ifndef VM_APP_MANIFEST_FILE_H_
#define VM_APP_MANIFEST_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "migrate/run_manifest.h"

namespace vm {

class CodePage;
class FileSystem;
struct AppState;

// Where a run that writes keeps its other records, which its manifest is
// put beside, and what kind of run it is. Paths as the user gave them
// (UTF-8); both empty: the manifest goes beside the target's data.
struct ManifestPlace {
  std::string report_file;
  std::string log_file;
  bool sync = false;
  std::string code_page;  // the name of the run's code page, e.g. "GBK"
};

// The manifest of one run that writes: named and opened here, kept by the
// run through the writer. Nothing is written before the run's first
// flush, so a run refused at its lock leaves no file.
class ManifestFile {
 public:
  // The manifest's path (ANSI): beside the --report file, else beside the
  // --log file, named after it and the start; else
  // `<data folder>\velquor-migrate-runs\<start>.manifest`, the data folder
  // being the one whose identity the manifest records. Never in the mail
  // store, and not in the source (the report and the log are not, either).
  // A manifest beside a report or log is also written, byte for byte and
  // flush for flush, into the runs folder, which a later mirror reads for
  // what the tool made (copy_path(); empty when there is no copy). A copy
  // that cannot be written is removed, and the run goes on.
  static std::string PathFor(FileSystem* disk, const CodePage& code_page,
                             const ManifestPlace& place,
                             const std::string& target_dir, int64_t started);

  // `disk` must outlive this object. `started`: seconds since 1970, UTC.
  ManifestFile(FileSystem* disk, const CodePage& code_page,
               const ManifestPlace& place, const AppState& state,
               int64_t started);
  ~ManifestFile();
  ManifestFile(const ManifestFile&) = delete;
  ManifestFile& operator=(const ManifestFile&) = delete;

  ManifestWriter* writer() { return writer_.get(); }
  const std::string& path() const { return path_; }
  const std::string& copy_path() const { return copy_path_; }

 private:
  class BothSinks;

  std::string path_;
  std::string copy_path_;
  std::unique_ptr<AppendingFileSink> sink_;
  std::unique_ptr<BothSinks> both_;
  std::unique_ptr<ManifestWriter> writer_;
};

}  // namespace vm

#endif  // VM_APP_MANIFEST_FILE_H_
