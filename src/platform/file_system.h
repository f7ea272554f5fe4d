#ifndef VM_PLATFORM_FILE_SYSTEM_H_
#define VM_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

namespace vm {

// One entry found by FileSystem::List.
struct DirEntry {
  std::string name;  // the entry's own name, ANSI bytes
  std::string path;  // the directory of the pattern + "\" + name
  uint64_t size = 0;
  bool is_directory = false;
  // Neither a regular file nor a directory: a symbolic link (never
  // followed), a FIFO, a device or a socket.
  bool is_special = false;
  // The name on disk cannot be expressed in the code page; `name` and
  // `path` then hold a stand-in that names no file, for messages only.
  bool unconvertible_name = false;
  // Whether `size` was taken: only FileSystem::ListNames leaves it untold,
  // for a regular file whose size would cost a look of its own; `file` is
  // then its file number as the listing told it (0: not told).
  bool sized = true;
  uint64_t file = 0;
};

enum class DirMade {
  kMade,     // made by this call, so empty
  kExisted,  // a directory was there already
  kFailed,
};

enum class CopyResult {
  kCopied,
  kTargetExists,  // nothing was written: a file of the target name exists
  kFailed,        // anything else; the target is left absent
};

enum class PublishResult {
  kPublished,
  kTargetExists,  // nothing changed: an entry of the new name exists
  kFailed,        // anything else; nothing changed
};

// Takes the next piece of a text; false when it could not be written.
using PieceWriter = std::function<bool(std::string_view)>;
// Hands a text over in pieces, in order, to `put`; false when a put failed
// or the text could not be made.
using ContentsProducer = std::function<bool(const PieceWriter& put)>;

// What a copy tells of the file it wrote, for an undo to find it unchanged:
// its size and either its stamp (taken after its last change) or, where the
// file system keeps no stamp, the MD5 digest of its bytes (32 lowercase
// hexadecimal digits). Neither (an empty md5, no stamp) when it could not
// be told.
struct CopiedFile {
  uint64_t size = 0;
  std::string md5;
  std::optional<FileStamp> stamp;
  bool Told() const { return stamp.has_value() || !md5.empty(); }
};

// A file held open for appending (FileSystem::OpenAppending).
class AppendingFile {
 public:
  virtual ~AppendingFile() = default;
  // Adds `contents` to the end with one write, as FileSystem::AppendFile
  // does; false when it could not be written whole.
  virtual bool Append(const std::string& contents, std::string* error) = 0;
};

// The file operations the core needs. Paths are ANSI byte strings joined
// with backslashes, exactly as a Windows program forms them; the POSIX
// implementation maps separators and encoding and resolves each component
// case-insensitively when the exact name does not exist; a path whose bytes
// are not valid in the code page is never mapped to some other name: every
// operation on it fails.
//
// Operations that fail may describe the reason in *error (when non-null), in
// the platform's words, for result-list lines.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True when a file or directory exists at `path` (an existence test only).
  virtual bool Exists(const std::string& path) = 0;

  // Last-modification time in seconds since 1970; false when the status
  // query fails.
  virtual bool ModifiedTime(const std::string& path, int64_t* seconds) = 0;

  // Reads the whole file in binary mode, in blocks of 65,536 bytes. False
  // (and *contents empty) when it cannot be opened or read.
  virtual bool ReadFile(const std::string& path, std::string* contents,
                        std::string* error) = 0;

  // ReadFile for a caller that needs to see the bytes only once, in order
  // (a comparison, a digest): each block goes to `take` as it is read, and
  // the whole file is never held. False when the file cannot be opened or
  // read, or `take` returned false. This default reads the whole file first.
  virtual bool ReadFileBy(const std::string& path, const PieceWriter& take,
                          std::string* error);

  // Creates or truncates `path` and writes every byte in place. False on any
  // failed open, write or close; a short write is a failure.
  virtual bool WriteFile(const std::string& path, const std::string& contents,
                         std::string* error) = 0;

  // Replaces the file's content so that a reader sees either the old or the
  // new content, never a mix: a temporary file in the same directory,
  // flushed, then renamed over `path`. The new file keeps the replaced
  // file's owner, group and mode (POSIX) or security descriptor and
  // attributes (Windows). An existing file is rewritten in place, every
  // write checked, when the rename is refused, no temporary file can be
  // created beside it, or its owner could not be kept; such a rewrite first
  // makes sure the whole text fits (room on the volume, the file size
  // limit) and otherwise fails with the file unchanged. A file that did not
  // exist is created readable by its owner only unless a file of the same
  // extension in its directory shows another mode, and (as root) owned
  // like the directory. Leaves no temporary file behind.
  virtual bool ReplaceContents(const std::string& path,
                               const std::string& contents,
                               std::string* error) = 0;

  // ReplaceContents for a text handed over in pieces, so that the caller
  // need not hold it whole: the disk file systems write each piece as it
  // comes. This default collects the text and replaces the file with it.
  virtual bool ReplaceContentsBy(const std::string& path,
                                 const ContentsProducer& produce,
                                 std::string* error);

  // Adds `contents` to the end of `path`, creating it when missing, with
  // one write to a file opened for appending: two processes appending to
  // one file at once each keep their part whole, and nothing written before
  // is read or rewritten. This default, for file systems without appending
  // writers (memory, overlays), reads the file and replaces it.
  virtual bool AppendFile(const std::string& path, const std::string& contents,
                          std::string* error) {
    std::string old;
    if (Exists(path) && !ReadFile(path, &old, error)) return false;
    return ReplaceContents(path, old + contents, error);
  }

  // Opens the existing regular file `path` once for a writer that appends
  // to it many times (a record flushed after every step): each Append is
  // AppendFile's one write, without finding the file again, so the file
  // written stays the one opened, wherever it is moved meanwhile. Null
  // when it cannot be opened. This default appends through AppendFile,
  // by path, each time.
  virtual std::unique_ptr<AppendingFile> OpenAppending(const std::string& path,
                                                       std::string* error);

  // Creates one directory, or finds it there as a directory (a symbolic
  // link to one is not a directory: kFailed). Made by root on POSIX, it
  // gets the owner and group of its parent directory, so the server that
  // owns a mail store can use it.
  virtual DirMade MakeDir(const std::string& path, std::string* error) = 0;

  // MakeDir for those who need not know whether it was there: true unless
  // it failed.
  bool CreateDir(const std::string& path, std::string* error) {
    return MakeDir(path, error) != DirMade::kFailed;
  }

  // Copies `from` to `to`, never overwriting: when `to` exists the result is
  // kTargetExists and the existing file is untouched. The file appears
  // under its name only once it is complete: a copy that fails or is cut
  // short (the process killed) leaves no file under that name. Only a
  // regular file is copied: a symbolic link is not followed and nothing
  // that could block the open (a FIFO, a device) is opened. A directory of
  // `to` that is a symbolic link is not followed either (kFailed). The copy
  // keeps the source's permission bits; made by root on POSIX, it gets the
  // owner and group of its directory.
  virtual CopyResult CopyNew(const std::string& from, const std::string& to,
                             std::string* error) = 0;

  // CopyNew that also tells, when it copied, what an undo needs to find
  // the new file unchanged (see CopiedFile). This default takes the stamp
  // of the new file where StampOf gives one, else reads the file back and
  // digests it; the disk file systems tell it as they copy.
  virtual CopyResult CopyNewRecorded(const std::string& from,
                                     const std::string& to, std::string* error,
                                     CopiedFile* copied);

  // The stamp of the regular file `path` (a link is not followed); false
  // for anything else, or where the file system keeps no stamps.
  virtual bool StampOf(const std::string& /*path*/, FileStamp* /*stamp*/) {
    return false;
  }

  // The status of the file or folder `path` (a link is not followed: it
  // has none); false when it cannot be taken, or where the file system
  // keeps no identities and full-precision times. A caller that would
  // skip work for an unchanged status must do the work on false.
  virtual bool StatusOf(const std::string& /*path*/, EntryStatus* /*status*/) {
    return false;
  }

  // The statuses of the entries `names` of the folder `dir`: (*statuses)[i]
  // is what StatusOf(dir + "\" + names[i]) takes, or none where it is
  // false; except that an entry of the folder spelled otherwise than asked
  // (another letter case) may be told as none: for callers asking for
  // names they made themselves, which would rather not read the folder to
  // prove an absence. A file system that can look the folder up once for
  // all of them does; this default calls StatusOf for each.
  virtual void StatusesIn(const std::string& dir,
                          const std::vector<std::string>& names,
                          std::vector<std::optional<EntryStatus>>* statuses);

  // Copies `from` to the new file `to` inside a staging folder, a folder
  // no other program looks into until it is published (PublishDir): an
  // exclusive create, the copy and a close, nothing more. kTargetExists
  // when `to` exists. Unlike CopyNew, a copy that fails or is cut short may
  // leave part of the file under its name (the caller discards a staging
  // folder it could not finish). Otherwise as CopyNew; a non-null `copied`
  // is told of the new file as CopyNewRecorded tells it (a stamp stays
  // true when the folder is published). This default copies by CopyNew or
  // CopyNewRecorded.
  virtual CopyResult CopyStaged(const std::string& from, const std::string& to,
                                std::string* error, CopiedFile* copied);

  // Gives the directory `from` the name `to` (in the same directory) with
  // one rename, so that a program looking at `to` sees nothing or the
  // whole tree, and never in place of anything: when an entry named `to`
  // exists (an empty directory too) nothing changes and the result is
  // kTargetExists. On Windows no handle inside `from` may be open. Only
  // where PublishesDirs says so; this default fails.
  virtual PublishResult PublishDir(const std::string& from,
                                   const std::string& to, std::string* error);
  // Whether PublishDir is offered here (a rename that refuses an existing
  // target, on a file system that writes to disk).
  virtual bool PublishesDirs() { return false; }

  // Moves the regular file `from` to `to`, into any folder of the same
  // volume, with one rename that never replaces: when an entry named `to`
  // exists nothing changes and the result is kTargetExists. A link or
  // anything but a regular file at `from` is refused (kFailed), never
  // followed. The folder of `to` must exist. This default fails.
  virtual PublishResult RenameNew(const std::string& from,
                                  const std::string& to, std::string* error);

  // Enumerates the entries of one directory matching a pattern of the form
  // directory + "\" + wildcard, with the Windows rules ('*' and '?',
  // letters compared without case). "." and ".." are never returned.
  // Returns false when the directory cannot be read, or its reading stops
  // part way (the entries found so far are then kept); entries come in the
  // platform's enumeration order. Symbolic links are reported as special
  // entries, not followed.
  virtual bool List(const std::string& pattern,
                    std::vector<DirEntry>* entries) = 0;

  // As List, but a regular file's size may be left untold (DirEntry::sized)
  // where telling it costs a look per file: for callers that know most
  // sizes from elsewhere. This default calls List.
  virtual bool ListNames(const std::string& pattern,
                         std::vector<DirEntry>* entries) {
    return List(pattern, entries);
  }

  // Makes everything written so far to the volume that holds `path` survive
  // a power cut. False (with the reason) when that cannot be done.
  virtual bool SyncVolume(const std::string& path, std::string* error) = 0;

  // Asks for the regular file `path` to be read into memory in the
  // background, ahead of a copy that reads it, so that the disk works on
  // many files at once; does nothing where that is not offered. Changes
  // nothing a reader sees.
  virtual void Prefetch(const std::string& /*path*/) {}

  // Whether copies from the directory `from` into `to` (or the nearest
  // existing directory above it) share the source's blocks instead of
  // reading them, as on one copy-on-write volume: prefetching the source
  // is then wasted work.
  virtual bool CopiesShareBlocks(const std::string& /*from*/,
                                 const std::string& /*to*/) {
    return false;
  }

  // Removes one file; true when it is gone (also when it never existed).
  virtual bool RemoveFile(const std::string& path, std::string* error) = 0;
  // Removes the directory `path` when it is empty (a link is not
  // followed); true when it is gone (also when it never existed). False,
  // with nothing changed, for a directory that holds anything.
  virtual bool RemoveEmptyDir(const std::string& path, std::string* error) = 0;

  // Whether this process could open the regular file `path` for reading
  // (a link is not followed), found without reading it.
  virtual bool CanRead(const std::string& path) { return Exists(path); }

  // Whether this process could make entries in the directory `path`, or
  // open the file `path` for writing, found without writing anything: a
  // read-only volume or folder, or one of another owner, says no.
  virtual bool CanWrite(const std::string& /*path*/) { return true; }

  // `path` as the platform shows paths to a user, in result-list lines,
  // messages and reports: on POSIX with "/" for each separator, on Windows
  // as it is. The second byte of a double-byte character is never taken
  // for a separator. Every path shown is formed here.
  virtual std::string DisplayPath(const std::string& path) const {
    return path;
  }

  // `path` (ANSI) as an absolute path: a relative one joined to the
  // process's working folder, as the platform writes paths, so that a
  // record naming it leads there from any working folder. No "." part or
  // doubled separator is kept, and a ".." takes away the part before it
  // wherever the platform would resolve it so (Windows: always; POSIX:
  // after a folder that is not a link), so that a view opened on the
  // result needs no ".." resolved. No link is resolved and nothing need
  // exist. `path` itself when the working folder cannot be found, or the
  // file system has none (in memory).
  virtual std::string AbsolutePath(const std::string& path) const {
    return path;
  }

  // Where `path` leads (see FileLocation), resolved as every other
  // operation resolves it: tells whether two paths reach the same file, or
  // one lies inside a folder, whatever their spelling or links. False when
  // nothing of the path can be examined.
  virtual bool Locate(const std::string& path, FileLocation* where) = 0;

  // A view of this file system that cannot be led out of `roots` (ANSI
  // folders: a target's data or output folder and its mail store). Each
  // root is opened once, here, as it is named (its last component may not
  // be a link; a root inside another root is opened beneath that one), and
  // every operation on a path beneath a root is resolved beneath that
  // handle: no component below the root is ever followed when it is a
  // symbolic link or reparse point, no ".." leaves it, and the entry an
  // operation acts on is found from its parent's handle, so a link swapped
  // in by another thread between a check and its use is caught. A link
  // where a folder or file is expected fails with FileErrorKind::kIsLink;
  // it is never followed, removed, renamed or replaced. A root that does
  // not exist yet is opened when the view makes it (MakeDir of the root).
  // Paths outside every root behave as in this file system (the source,
  // records). The view holds its handles until destroyed and must not
  // outlive this object. Null, with the reason in *error, when a root
  // cannot be opened. This default (file systems that hold no links:
  // memory, test doubles) is a view that forwards every call.
  virtual std::unique_ptr<FileSystem> Confined(
      const std::vector<std::string>& roots, std::string* error);
};

// The real file system of the machine, for paths in the ANSI code page
// (GBK on POSIX; the system's on Windows).
std::unique_ptr<FileSystem> NewDiskFileSystem();

// The same for paths in the named code page ("GBK", "CP936", "UTF-8", ...);
// null when the code page is unknown. On Windows too the names on disk are
// the paths converted with that code page, whatever the system's is.
std::unique_ptr<FileSystem> NewDiskFileSystem(
    const std::string& code_page_name);

}  // namespace vm

#endif  // VM_PLATFORM_FILE_SYSTEM_H_
