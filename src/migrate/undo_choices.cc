#include "migrate/undo_choices.h"

#include <algorithm>
#include <set>
#include <utility>

#include "migrate/undo_run.h"
#include "migrate/undone_mark.h"
#include "platform/file_system.h"
#include "util/md5.h"

namespace vm {
namespace {

// The manifest at `path`, counted; false when it is another target's,
// or the same run's bytes as one in `seen` (digests of the bytes less an
// undo's mark): a run that kept its manifest beside its report wrote the
// same file into the runs folder too, and is one run. A run one of whose
// copies says it was undone goes into `undone`.
bool Recorded(FileSystem* fs, const std::string& path,
              const std::string& target_dir, std::set<std::string>* seen,
              std::set<std::string>* undone, RecordedRun* run,
              std::string* digest) {
  run->path = path;
  std::string text;
  RunManifest manifest;
  int bad_line = 0;
  if (!fs->ReadFile(path, &text, nullptr) ||
      ReadManifest(text, &manifest, &bad_line) != ManifestStatus::kRead) {
    return true;  // listed as unreadable
  }
  if (!ManifestIsOfTarget(fs, manifest, target_dir)) return false;
  std::string when;
  *digest = Md5Hex(RunBytes(text, &when));
  if (!manifest.undone.empty()) undone->insert(*digest);
  if (!seen->insert(*digest).second) return false;
  run->readable = true;
  run->header = manifest.header;
  // The counts in the order of the kinds.
  using Kind = ManifestEntry::Kind;
  static_assert(static_cast<int>(Kind::kDomain) == 0 &&
                static_cast<int>(Kind::kAccount) == 1 &&
                static_cast<int>(Kind::kDirectory) == 2 &&
                static_cast<int>(Kind::kMessageFile) == 3);
  int* const counts[] = {&run->domains, &run->accounts, &run->folders,
                         &run->files};
  // What the run made: intents and confirmations are no more things.
  for (const ManifestEntry& e : manifest.entries) {
    // A mirror's moves are counted apart.
    if (e.kind == Kind::kHeldFile || e.kind == Kind::kRemovedDir) continue;
    if (e.step == ManifestEntry::Step::kMade ||
        (e.step == ManifestEntry::Step::kIntent &&
         (e.kind == Kind::kDomain || e.kind == Kind::kAccount))) {
      ++*counts[static_cast<int>(e.kind)];
    }
  }
  return true;
}

}  // namespace

std::string RunRecordsFolder(FileSystem* fs, const std::string& target_dir) {
  return ManifestDataFolder(fs, target_dir) + "\\velquor-migrate-runs";
}

std::vector<RecordedRun> RecordedRuns(FileSystem* fs,
                                      const std::vector<std::string>& folders,
                                      const std::string& target_dir) {
  std::vector<RecordedRun> runs;
  std::vector<std::string> digests;  // of each run's bytes, beside `runs`
  std::set<std::string> seen;        // the manifests' paths as listed
  std::set<std::string> texts;       // the digests of those read
  std::set<std::string> undone;      // the digests of runs undone
  for (const std::string& folder : folders) {
    std::vector<DirEntry> entries;
    if (!fs->List(folder + "\\*.manifest", &entries)) continue;
    for (const DirEntry& entry : entries) {
      if (entry.is_directory || entry.is_special || entry.unconvertible_name ||
          !seen.insert(entry.path).second) {
        continue;
      }
      RecordedRun run;
      std::string digest;
      if (Recorded(fs, entry.path, target_dir, &texts, &undone, &run,
                   &digest)) {
        runs.push_back(run);
        digests.push_back(digest);
      }
    }
  }
  // A run any copy of which says undone is not offered, whichever copy
  // was found first.
  std::vector<RecordedRun> offered;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (!runs[i].readable || undone.count(digests[i]) == 0) {
      offered.push_back(std::move(runs[i]));
    }
  }
  runs = std::move(offered);
  // The start times are all of one form ("2026-05-04T08:00:00Z"), so
  // their order as text is their order in time.
  std::sort(runs.begin(), runs.end(),
            [](const RecordedRun& a, const RecordedRun& b) {
              if (a.readable != b.readable) return a.readable;
              if (a.header.started != b.header.started) {
                return a.header.started > b.header.started;
              }
              // Runs of one second: "<start>.manifest", then "<start>-2",
              // "-3" ... "-10": the longer name, or the later, is newer.
              if (a.path.size() != b.path.size()) {
                return a.path.size() > b.path.size();
              }
              return a.path > b.path;
            });
  return runs;
}

}  // namespace vm
