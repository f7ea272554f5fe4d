#ifndef VM_APP_WIN32_MESSAGE_BOX_H_
#define VM_APP_WIN32_MESSAGE_BOX_H_

#include <windows.h>

#include <string>

#include "session/run_session.h"

namespace vm {

struct Texts;

// The kind of one of the program's own messages: the success messages
// inform, the ones that ask the user to act (a folder to choose, a
// password to type) warn, every other one reports an error.
MessageKind KindOfMessage(const Texts& texts, const std::string& text);

// A modal message box with an OK button and the icon of `kind`; `text` is
// ANSI.
void ShowMessageBox(HWND owner, const std::string& text, MessageKind kind);

// A question with Yes and No; true for Yes.
bool AskYesNo(HWND owner, const std::string& text);

}  // namespace vm

#endif  // VM_APP_WIN32_MESSAGE_BOX_H_
