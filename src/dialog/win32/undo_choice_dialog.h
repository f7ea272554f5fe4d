#ifndef VM_DIALOG_WIN32_UNDO_CHOICE_DIALOG_H_
#define VM_DIALOG_WIN32_UNDO_CHOICE_DIALOG_H_

#include <windows.h>

#include <string>
#include <vector>

#include "migrate/undo_choices.h"

namespace vm {

struct Texts;

// The line the choice shows for a run (ANSI): its start and what it
// added, then its manifest; a manifest that does not read is named so.
std::string RecordedRunLine(const Texts& texts, const RecordedRun& run);

// The choice of a run to undo (template IDD_UNDO_CHOICE): `runs` as
// RecordedRuns lists them, the newest selected, or a manifest elsewhere
// through the file picker (which opens in `folder`). Returns the chosen
// manifest's path in `code_page`; empty when the user cancelled (or chose
// a file the code page cannot name, which no run of this program wrote).
std::string ChooseRunToUndo(HINSTANCE instance, HWND owner,
                            unsigned int code_page, const Texts& texts,
                            const std::vector<RecordedRun>& runs,
                            const std::string& folder);

}  // namespace vm

#endif  // VM_DIALOG_WIN32_UNDO_CHOICE_DIALOG_H_
