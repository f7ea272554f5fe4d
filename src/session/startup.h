#ifndef VM_APP_STARTUP_H_
#define VM_APP_STARTUP_H_

#include <string>

namespace vm {

class CodePage;
class FileSystem;
struct Texts;

// The application state fixed at start-up. After start-up none of the four
// directories ends in a backslash.
struct AppState {
  std::string source_dir;
  std::string target_dir;
  std::string source_mail_dir;
  std::string target_mail_dir;
  bool target_installed = true;  // false: output goes to a temporary folder
};

// Removes leading and trailing white space, then every trailing backslash.
std::string TrimDirectory(const std::string& dir);

// The target folder `dir` as a run or an undo works on it: trimmed
// (TrimDirectory), absolute and normalized (FileSystem::AbsolutePath), as
// the confined view of the target resolves no ".." and the paths of the
// run's manifest begin with it. Empty stays empty.
std::string SettledTargetDir(FileSystem* fs, const std::string& dir);

// The source directory from the service's image path (its variables
// already expanded): the program's path is the quoted text when the value
// begins with a quote, else the text up to the first blank after ".exe"
// (so that an unquoted path may hold blanks and be followed by arguments),
// else the whole value; the directory is that path before its last
// backslash, empty when it has none. A backslash that is the second byte
// of a double-byte character of `code_page` is no separator.
std::string DirectoryOfImagePath(const std::string& image_path,
                                 const CodePage& code_page);

// Writes the empty skeleton of each of domain.cfg, userauth.cfg and
// mailgroup.cfg that does not exist: directly in `target_dir` when
// `temporary_folder`, else in target_dir + "\data". Existing files are never
// touched.
void CreateMissingTargetFiles(FileSystem* fs, const std::string& target_dir,
                              bool temporary_folder);

// True when the target's system.cfg (data\system.cfg, else system.cfg)
// names the charset "utf-8", in any letter case.
bool CheckTargetVersion(FileSystem* fs, const std::string& target_dir);

// target_mail_dir = the mail store named by system.cfg, converted from
// UTF-8 with `code_page`, else target_dir + "\store".
void FindTargetMailDir(FileSystem* fs, const CodePage& code_page,
                       AppState* state);

// The first step of start-up in both front ends, once the source and
// target folders are known: trims both folders (the target settled, see
// SettledTargetDir) and finds the two mail stores (the source's "mail"
// folder; the target's as above), trimmed too.
// Reads system.cfg and writes nothing; the checks come after.
void SettleDirectories(FileSystem* fs, const CodePage& code_page,
                       AppState* state);

// True when `dir` can be listed, that is, it is a readable directory.
bool IsDirectory(FileSystem* fs, const std::string& dir);

// The checks that come before anything is written, on the trimmed
// directories: the source lists exist and can be read, and an installed
// target has its folder, its data folder and a readable system.cfg
// (data\system.cfg, else system.cfg) naming the charset utf-8. False with
// the message to show (ANSI; the path of what is missing follows the text)
// when one fails.
bool CheckInstallations(FileSystem* fs, const AppState& state,
                        const Texts& texts, std::string* message);

// Folders arranged so that the run would write into the source tree.
enum class PathOverlap {
  kNone,
  kTargetInSource,     // the target (or temporary) folder is in the source
  kMailStoreInSource,  // the target mail store is in the source, or it
                       // holds the source
};

// Compares the folders by identity (links and spellings resolved), once
// the mail store directories are known.
PathOverlap FindPathOverlap(FileSystem* fs, const AppState& state);

// True when writing `path` would write a file of either installation: a
// file or folder of the source tree, the configuration folder of an
// installed target (data\) or a configuration file of a temporary folder,
// system.cfg, or anything in the target mail store; links (hard links too)
// to the lists and configuration files count as those files.
bool IsInstallationPath(FileSystem* fs, const AppState& state,
                        const std::string& path);

// True when records may go into `dir`: it is not inside either
// installation or mail store. Compared by identity (links, other
// spellings, short names), as the console's checks are; a folder not made
// yet counts as where its nearest existing parent is.
bool MayHoldRecords(FileSystem* fs, const std::string& dir,
                    const AppState& state);

}  // namespace vm

#endif  // VM_APP_STARTUP_H_
