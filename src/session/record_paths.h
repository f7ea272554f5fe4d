#ifndef VM_SESSION_RECORD_PATHS_H_
#define VM_SESSION_RECORD_PATHS_H_

#include <string>
#include <utility>
#include <vector>

namespace vm {

class CodePage;
class FileSystem;
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

std::string RecordFilesProblem(FileSystem* fs, const CodePage& code_page,
                               const AppState& state,
                               const std::vector<NamedRecordFile>& files,
                               const std::string& protected_file);

}  // namespace vm

#endif  // VM_SESSION_RECORD_PATHS_H_
