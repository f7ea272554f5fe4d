#ifndef VM_PLATFORM_FILE_IDENTITY_H_
#define VM_PLATFORM_FILE_IDENTITY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vm {

// What makes a file or folder itself, whichever path reaches it (another
// spelling, a symbolic link, a hard link): the device and inode number on
// POSIX, the volume serial number and file index on Windows.
struct FileId {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileId&) const = default;
};

// A file time: seconds since 1970 (negative before it) and the
// nanoseconds within that second (0 to 999,999,999).
struct StampTime {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  bool operator==(const StampTime&) const = default;
};

// What tells, without reading a byte of it, that a file is still as a copy
// left it: its file number (inode), size, modification time and status
// change time. No program can set the status change time: every later
// write, truncation, change of times or mode, or a new file in its place
// gives another stamp (unless it falls within the same tick of the file
// system's clock as the copy's own last change).
struct FileStamp {
  uint64_t file = 0;
  uint64_t size = 0;
  StampTime modified;
  StampTime changed;
  bool operator==(const FileStamp&) const = default;
};

// What a file or folder shows of itself without being read or listed: its
// identity, kind, size and its modification and status change times. A
// folder's times move when an entry is made, renamed or removed in it; no
// program can set the status change time.
struct EntryStatus {
  FileId id;
  bool is_directory = false;
  uint64_t size = 0;
  StampTime modified;
  StampTime changed;
  bool operator==(const EntryStatus&) const = default;
};

// Where a path leads once every link on the way is followed.
struct FileLocation {
  // The path itself exists: `chain` starts with its own identity.
  bool exists = false;
  // Innermost first: the path itself when it exists, else its nearest
  // existing folder, then every folder above, up to the root.
  std::vector<FileId> chain;

  // True when the path exists and is `id` (a file or folder).
  bool Is(const FileId& id) const {
    return exists && !chain.empty() && chain.front() == id;
  }
  // True when the path is the folder `folder` or lies anywhere below it,
  // whether it exists yet or not.
  bool IsWithin(const FileId& folder) const {
    for (const FileId& id : chain) {
      if (id == folder) return true;
    }
    return false;
  }
};

// Locates a path of the machine's own file system, for the FileSystem
// implementations: UTF-8 with the OS's separators ('/' on POSIX; '\' or '/'
// on Windows), relative paths taken from the current directory. A symbolic
// link at the end of a path that does not exist yet is followed to where a
// file created through it would appear. False when no part of the path can
// be examined (an empty path, or a folder on the way that may not be
// searched).
bool LocateNative(const std::string& utf8_path, FileLocation* where);

}  // namespace vm

#endif  // VM_PLATFORM_FILE_IDENTITY_H_
