#ifndef VM_DIALOG_WIN32_RECORD_FOLDERS_H_
#define VM_DIALOG_WIN32_RECORD_FOLDERS_H_

#include <string>
#include <vector>

namespace vm {

// The folders the dialog program's records may go to, best first: the
// folder `name` beside the program, then under the common application
// data folder (for a program folder a standard user may not write, or one
// inside an installation). Paths in `code_page`; a folder it cannot name
// is left out.
std::vector<std::string> DialogRecordFolders(unsigned int code_page,
                                             const std::string& name);

// The address (UTF-8, file:///...) of the user guide the zip puts beside
// the program, for the links of the HTML report; empty when the program's
// folder is unknown.
std::string InstalledGuideAddress();

// The folder part of a path in the code page, before its last separator;
// empty when it has none.
std::string DirectoryOf(unsigned int code_page, const std::string& path);

}  // namespace vm

#endif  // VM_DIALOG_WIN32_RECORD_FOLDERS_H_
