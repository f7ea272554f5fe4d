#ifndef VM_MIGRATE_RUN_MANIFEST_H_
#define VM_MIGRATE_RUN_MANIFEST_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/added_items.h"
#include "config/config_file.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "util/thread_annotations.h"

namespace vm {

class FileSystem;
struct CopiedFile;

// The record of what one writing run added to a target, so that the run
// can be undone: the domains and accounts it put into the configuration
// files (with the bytes it inserted), the folders it made and the message
// files it created. Nothing that was there before the run is in it. The
// text format, line by line, is described in docs/manifest.md; this file
// is its one home.

// The version written. The reader takes this one and versions 1 to 3
// (version 3 without the mirror's records; versions 1 and 2 written after
// the fact: the same records without the intents, the confirmations and
// the code page; version 1 also without the stamped message file).
inline constexpr int kManifestVersion = 4;
// The first word of a manifest's first line.
inline constexpr char kManifestMagic[] = "velquor-migrate-manifest";

enum class ManifestRunKind { kMigrate, kSync };

struct ManifestHeader {
  std::string tool_version;  // the program's version
  std::string target_dir;    // the target as the run named it, ANSI
  FileId data_folder;        // the identity of the target's data folder
  std::string started;       // UTC, "2026-05-04T08:00:00Z"
  ManifestRunKind kind = ManifestRunKind::kMigrate;
  // The code page the names and paths are in ("GBK"); empty when the
  // writer was not told it, and in a manifest of version 1 or 2.
  std::string code_page;
  bool operator==(const ManifestHeader&) const = default;
};

struct ManifestEntry {
  // kHeldFile: a message file a mirror moved from `path` into the pass's
  // holding folder, to `held`; kRemovedDir: an empty folder a mirror
  // removed after its files were held; kPassword: an account item whose
  // password field a mirror pass rewrote.
  enum class Kind {
    kDomain,
    kAccount,
    kDirectory,
    kMessageFile,
    kHeldFile,
    kRemovedDir,
    kPassword
  };
  // What the record says of it. The run writes ahead: what it is about to
  // make visible is recorded (kIntent) and flushed before the save or the
  // copy that makes it so; kSaved confirms a domain or account intent once
  // the save wrote it, a kMade folder or file record a folder or file
  // intent. kFound: a mailbox the run meant to make that another program
  // made first (the run's files went into it).
  enum class Step { kMade, kIntent, kSaved, kFound };
  Kind kind = Kind::kDomain;
  Step step = Step::kMade;
  std::string name;      // kDomain: the domain; kAccount: the user name
  std::string domain;    // kAccount: the account's domain
  AddedItem item;        // kDomain, kAccount: the item's bytes as written;
                         // kPassword: the item's bytes before (no layout)
  std::string new_item;  // kPassword: the item's bytes after
  std::string path;      // kDirectory, kMessageFile, kHeld*, kRemovedDir
  // kHeldFile: where the file went, relative to the folder of the run
  // records (its first part the pass's holding folder).
  std::string held;
  uint64_t size = 0;  // kMessageFile: bytes
  // kMessageFile: either the MD5 digest (32 lowercase hexadecimal digits)
  // or the file's stamp (whose size is `size`), never both.
  std::string md5;
  std::optional<FileStamp> stamp;
  bool operator==(const ManifestEntry&) const = default;
};

// A domain or account about to be saved (its bytes final), or, with
// kSaved, the confirmation that the save wrote it.
ManifestEntry DomainEntry(
    const SavedAddition& added,
    ManifestEntry::Step step = ManifestEntry::Step::kIntent);
ManifestEntry AccountEntry(
    const SavedAddition& added,
    ManifestEntry::Step step = ManifestEntry::Step::kIntent);
ManifestEntry DirectoryEntry(const std::string& path);
// An account item whose password field is about to be rewritten (`from`
// its bytes before, `to` after), or, with kSaved, the confirmation that
// the save wrote it.
ManifestEntry PasswordEntry(
    const std::string& user, const std::string& domain, const std::string& from,
    const std::string& to,
    ManifestEntry::Step step = ManifestEntry::Step::kIntent);
// A folder or message file about to be made where the server sees it.
ManifestEntry IntentEntry(ManifestEntry::Kind kind, const std::string& path);
// A mirror's move of `path` to `held` (see ManifestEntry::held), or its
// removal of the empty folder `path`: about to be made, or made.
ManifestEntry HeldFileEntry(const std::string& path, const std::string& held,
                            ManifestEntry::Step step);
ManifestEntry RemovedDirEntry(const std::string& path,
                              ManifestEntry::Step step);
ManifestEntry MessageFileEntry(const std::string& path, uint64_t size,
                               const std::string& md5);
// The record of a message file as its copy told it; false when the copy
// told nothing to record.
bool CopiedFileEntry(const std::string& path, const CopiedFile& copied,
                     ManifestEntry* entry);

// Where a manifest's bytes go: appended in order, and made durable by
// Flush. A sink that failed once may fail from then on.
class ManifestSink {
 public:
  virtual ~ManifestSink() = default;
  virtual bool Append(std::string_view bytes) = 0;
  virtual bool Flush() = 0;
  // Why the last Flush failed, as FileSystem errors say it; may be empty.
  virtual std::string Error() const { return std::string(); }
};

// A manifest file that grows by appending: the first flush creates it
// whole through FileSystem::ReplaceContents (so it gets the mode of a new
// private file) and opens it for appending (FileSystem::OpenAppending);
// each later flush appends what came since with one write to that file.
// A run killed at any point leaves every flushed line, and at most a torn
// last line, which the reader leaves out. Only the unflushed bytes are
// held in memory.
class AppendingFileSink : public ManifestSink {
 public:
  // `fs` must outlive the sink. Nothing is written before the first Flush.
  AppendingFileSink(FileSystem* fs, std::string path);
  bool Append(std::string_view bytes) override;
  bool Flush() override;
  std::string Error() const override { return error_; }

 private:
  FileSystem* fs_;
  std::string path_;
  std::string pending_;
  std::string error_;
  bool created_ = false;
  std::unique_ptr<AppendingFile> file_;  // null once a write failed
};

// Writes a manifest into a sink: the header at once, then each entry as
// it is added. Entries are buffered until Flush, which the run calls
// before the save, rename or copy that makes what they name visible (one
// flush per group of them), and at its end. Paths are written with "\"
// as their separator on every system. Thread-safe.
class ManifestWriter {
 public:
  // `sink` must outlive the writer.
  ManifestWriter(ManifestSink* sink, const ManifestHeader& header);
  ManifestWriter(const ManifestWriter&) = delete;
  ManifestWriter& operator=(const ManifestWriter&) = delete;

  void Add(const ManifestEntry& entry);
  // Records that the folders or message files (`kind`) at `paths` are
  // about to be made where the server sees them, and flushes: nothing to
  // do for no paths. False as Flush.
  bool WriteAhead(ManifestEntry::Kind kind,
                  const std::vector<std::string>& paths);
  // Hands the buffered entries to the sink and flushes it. False when
  // this or any earlier append or flush failed: from the first failure on
  // the manifest is incomplete, and stays reported so.
  bool Flush();
  // Why the first failed flush failed (see ManifestSink::Error).
  std::string error() EXCLUDES(mutex_);
  // Whether an append or a flush has failed: what is made from then on
  // could not be recorded ahead of it.
  bool failed() EXCLUDES(mutex_);

 private:
  Mutex mutex_;
  ManifestSink* const sink_;
  std::string error_ GUARDED_BY(mutex_);
  std::string buffered_ GUARDED_BY(mutex_);
  bool failed_ GUARDED_BY(mutex_) = false;
};

// A configuration store's write-ahead (ConfigFile::SetWriteAhead) into
// `manifest`: each addition as `make_entry` records it, flushed before the
// save writes. `manifest` must outlive the store's saves.
ConfigFile::WriteAhead WriteAheadOf(
    ManifestWriter* manifest,
    ManifestEntry (*make_entry)(const SavedAddition&, ManifestEntry::Step));

struct RunManifest {
  ManifestHeader header;
  std::vector<ManifestEntry> entries;  // in the order the run added them
  // The text ended in a line without its line end (a run killed while it
  // wrote): that line was left out.
  bool torn_tail = false;
  // When an undo removed everything the run added (its mark, see
  // undone_mark.h); empty when none did.
  std::string undone;
};

enum class ManifestStatus { kRead, kDamaged, kUnsupportedVersion };

// Reads a manifest strictly. kDamaged, with *bad_line the 1-based number
// of the first bad line, for anything but a well-formed header and
// well-formed entries, each ended by LF; only a last line without its LF
// is left out instead (see torn_tail). kUnsupportedVersion (line 1) for
// a manifest of another format version. An undo's mark at the end is
// taken apart from the run's bytes (RunManifest::undone). Never trusts the
// input: any bytes give one of the three answers.
ManifestStatus ReadManifest(std::string_view text, RunManifest* manifest,
                            int* bad_line);

// ReadManifest without keeping the entries: each is handed to `each` in
// order as it is read, and `manifest` gets the rest. A reader of a large
// manifest that keeps only a part of each entry then never holds them
// all. The answer comes at the end: what `each` was given is to be dropped
// unless it is kRead.
ManifestStatus ReadManifestEntries(
    std::string_view text, RunManifest* manifest, int* bad_line,
    const std::function<void(ManifestEntry&&)>& each);

}  // namespace vm

#endif  // VM_MIGRATE_RUN_MANIFEST_H_
