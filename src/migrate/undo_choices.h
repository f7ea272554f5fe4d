#ifndef VM_MIGRATE_UNDO_CHOICES_H_
#define VM_MIGRATE_UNDO_CHOICES_H_

#include <string>
#include <vector>

#include "migrate/run_manifest.h"

namespace vm {

class FileSystem;

// One recorded run a front end offers to undo.
struct RecordedRun {
  std::string path;  // ANSI: the manifest
  // False for a manifest that does not read (see ReadManifest): listed
  // last, so that choosing it shows why it cannot be undone.
  bool readable = false;
  ManifestHeader header;
  // What the run added, by kind of entry.
  int domains = 0;
  int accounts = 0;
  int folders = 0;
  int files = 0;
};

// The folder a run keeps its manifest in when it is told no other
// (`<data folder>\velquor-migrate-runs`, see ManifestFile).
std::string RunRecordsFolder(FileSystem* fs, const std::string& target_dir);

// The runs recorded for the target `target_dir`: every `*.manifest` in
// `folders` whose data folder is the target's (ManifestIsOfTarget; a
// manifest of another target is left out), newest start first (runs of
// one second by their file names, the later first), then the manifests
// that do not read. A folder named twice is listed once, and so is a
// manifest found twice with the same run's bytes (the first found). A run
// any copy of which is marked undone is not listed.
std::vector<RecordedRun> RecordedRuns(FileSystem* fs,
                                      const std::vector<std::string>& folders,
                                      const std::string& target_dir);

}  // namespace vm

#endif  // VM_MIGRATE_UNDO_CHOICES_H_
