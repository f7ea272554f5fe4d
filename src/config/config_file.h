#ifndef VM_CONFIG_CONFIG_FILE_H_
#define VM_CONFIG_CONFIG_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "config/config_lock.h"
#include "xml/xml_document.h"

namespace vm {

class FileSystem;
struct TargetContext;

// The process-wide state of one configuration file name ("domain.cfg",
// "userauth.cfg"), shared by every store object of that file: the last
// parse of the file (or the document a store saved last, whichever came
// later), the file's modification time at that parse, and the two locks.
// The locks are never held together.
struct SharedConfigState {
  explicit SharedConfigState(const std::string& file_name)
      : named_lock(file_name) {}

  NamedLock named_lock;         // held while the file is read or written
  CacheLock cache_lock;         // guards the two fields below
  XmlDocument cached_document;  // starts as the empty document
  int64_t cached_time = 0;      // seconds since 1970
  // Which file the cached parse belongs to. Only a store of that same file
  // (file system and path) takes it; a store of another target starts
  // from the empty document, as if nothing had been parsed yet.
  const FileSystem* cached_fs = nullptr;
  std::string cached_path;
};

// The shared state of `file_name`, created on first use and kept until the
// process ends.
SharedConfigState& SharedStateFor(const std::string& file_name);

// Returns every shared state to its initial value and reopens the
// machine-wide locks. For tests; no store may be in use meanwhile.
void ResetSharedConfigStates();

// True when the machine-wide locks of domain.cfg and userauth.cfg are
// open. Otherwise *error says which lock cannot be used and why (on POSIX,
// for example, something other than a regular file planted at the lock
// file's path); a run must then not start, as it would write the files
// without excluding the server.
bool ConfigLocksUsable(std::string* error);

// The whole content of the file; empty when it cannot be read.
std::string ReadFileText(FileSystem* fs, const std::string& path);

// Replaces the content of the file with `text`, never leaving it half
// written (see FileSystem::ReplaceContents). True when the file was written.
bool WriteFileText(FileSystem* fs, const std::string& path,
                   const std::string& text);

// The first child of `parent` called `name`; 0 when there is none.
int32_t FirstChildNamed(const XmlDocument& doc, int32_t parent,
                        std::string_view name);

// The list element `name` under the root `database`; 0 when either is
// missing.
int32_t FindList(const XmlDocument& doc, std::string_view name);

// The common base of the stores of the target's XML configuration files.
// It settles the file's path, holds the store's working document, and loads
// and saves the file through the file's shared state.
class ConfigFile {
 public:
  virtual ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  // Refreshes the document: from the shared cached parse when the file is
  // not newer than it and the cached parse is well-formed, else by reading
  // and parsing the file. A missing, empty or ill-formed file leaves the
  // document as the copy of the cached parse.
  void Load();

  // Writes the whole document to the file under the file lock, through a
  // temporary file that replaces the old one. False (the file unchanged)
  // when the document is empty or any part of writing failed.
  bool Save();

  const std::string& path() const { return path_; }
  const XmlDocument& document() const { return document_; }

 protected:
  // The path is target_dir + `preferred` when something exists there, else
  // target_dir + `fallback` (untested). Loads at once.
  ConfigFile(TargetContext* context, const std::string& file_name,
             const std::string& preferred, const std::string& fallback);

  // Called at the end of every Load after construction, for a store that
  // keeps something derived from the document. (During construction the
  // derived store is not built yet; it calls this itself.)
  virtual void Loaded() {}

  TargetContext* context_;
  XmlDocument document_;

 private:
  void LoadDocument();
  // Whether the shared cached parse is of this store's file; called with
  // the cache lock held.
  bool SameFile() const;

  std::string path_;
  SharedConfigState* shared_;
};

}  // namespace vm

#endif  // VM_CONFIG_CONFIG_FILE_H_
