#ifndef VM_PLATFORM_FILE_ERROR_H_
#define VM_PLATFORM_FILE_ERROR_H_

#include <string>

namespace vm {

// Why a file operation failed, in terms every platform shares, so that the
// texts table can say it in the result list's language.
enum class FileErrorKind {
  kOther,          // anything else; the number tells which
  kNoSpace,        // the volume (or a quota) is full
  kPermission,     // access denied
  kReadOnly,       // a read-only volume or file
  kNotFound,       // the file or a folder of its path is missing
  kNameTooLong,    // the path or a name is too long for the platform
  kNotRegular,     // not a regular file (a FIFO, a device, a folder)
  kIsLink,         // a symbolic link, never followed
  kTooLarge,       // past the file size limit
  kSourceChanged,  // the source changed while it was copied
  kTooManyOpen,    // the process's or the system's limit of open files
  kNotRecorded,    // refused: the run's manifest could not be written ahead
};

struct FileError {
  FileErrorKind kind = FileErrorKind::kOther;
  long code = 0;  // errno on POSIX, GetLastError() on Windows; 0 when none
};

// The error text FileSystem operations leave: the kind and the number in
// brackets, then the platform's own words (for logs and developers), e.g.
// "[no_space 28] cannot write /t/a: No space left on device".
std::string FileErrorText(FileError error, const std::string& words);

// The kind and number at the start of an error text; kOther and 0 for a
// text without them.
FileError ParseFileError(const std::string& text);

}  // namespace vm

#endif  // VM_PLATFORM_FILE_ERROR_H_
