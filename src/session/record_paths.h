#ifndef VM_SESSION_RECORD_PATHS_H_
#define VM_SESSION_RECORD_PATHS_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "session/report_file.h"

namespace vm {

class CodePage;
class FileSystem;
class NameOps;
struct AppState;

// A record file a user named: the option that named it and its path as
// given (UTF-8).
using NamedRecordFile = std::pair<std::string, std::string>;

// Why the files a user named for a run's or an undo's records (its log
// and report) may not take them; empty when they may. Judged alike for
// every front end and every kind of run, by what each path reaches (links
// and other spellings resolved): never a file or folder of either
// installation (IsInstallationPath: the lists, the configuration files,
// the mail stores), never `protected_file` (ANSI; e.g. the manifest an
// undo reads; empty: none), never a symbolic link, never both the same
// file.
// A record's path (ANSI) as the records name it (UTF-8): absolute, so that
// it leads there from any working folder, and as the platform writes
// paths.
std::string ShownRecordPath(const FileSystem& fs, const CodePage& code_page,
                            const std::string& path);

// What went into a record folder (ANSI paths; empty: not written).
struct RecordFolderFiles {
  std::string log;
  std::string json;
  std::string html;
  std::string error;  // ANSI: the file that failed and why; empty if none
};

// The records of a session that keeps them in a folder (the dialog's runs
// and undos alike): `<base>.log`, `<base>.json` and `<base>.html`, in the
// first of `dirs` that may hold records (MayHoldRecords; missing folders
// are made), `<base>-2` and so on when a name is taken. The log is
// `log(json)` (see run_log.h) behind a byte-order mark, which Notepad
// takes for UTF-8; `report` writes a report of a format to a path. The
// files are written in that order and stop at the first that fails; a
// folder where the log cannot be written is passed over.
using RecordLog = std::function<std::string(const std::string& json)>;
using RecordReport = std::function<bool(
    const std::string& path, ReportFormat format, std::string* error)>;
RecordFolderFiles WriteRecordFolder(FileSystem* disk, const NameOps& names,
                                    const AppState& state,
                                    const std::vector<std::string>& dirs,
                                    const std::string& base,
                                    const RecordLog& log,
                                    const RecordReport& report);

std::string RecordFilesProblem(FileSystem* fs, const CodePage& code_page,
                               const AppState& state,
                               const std::vector<NamedRecordFile>& files,
                               const std::string& protected_file);

}  // namespace vm

#endif  // VM_SESSION_RECORD_PATHS_H_
