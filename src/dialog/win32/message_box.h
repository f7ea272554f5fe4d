#ifndef VM_APP_WIN32_MESSAGE_BOX_H_
#define VM_APP_WIN32_MESSAGE_BOX_H_

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

#include "session/run_session.h"

namespace vm {

struct Texts;

// The kind of one of the program's own messages: the success messages
// inform, the ones that ask the user to act (a folder to choose, a
// password to type) warn, every other one reports an error.
MessageKind KindOfMessage(const Texts& texts, const std::string& text);

// A modal message box with an OK button and the icon of `kind`.
void ShowMessageBox(HWND owner, const std::wstring& text, MessageKind kind);

// A question with Yes and No (No the default); true for Yes.
bool AskYesNo(HWND owner, const std::wstring& text);

// The message boxes of the window's thread, one at a time: a box asked for
// while another is open (its message loop dispatches the window's posted
// messages) waits for it to close, so boxes appear in the order asked and
// what follows a box happens after it.
class MessageBoxQueue {
 public:
  explicit MessageBoxQueue(HWND owner) : owner_(owner) {}
  MessageBoxQueue(const MessageBoxQueue&) = delete;
  MessageBoxQueue& operator=(const MessageBoxQueue&) = delete;

  // Shows `text` (none when empty), then calls `after` (when set). With
  // `yes`, the box asks (Yes and No, No the default) and `yes` is called
  // on Yes, before `after`.
  void Show(std::wstring text, MessageKind kind,
            std::function<void()> after = nullptr,
            std::function<void()> yes = nullptr);

 private:
  struct Box {
    std::wstring text;
    MessageKind kind;
    std::function<void()> after;
    std::function<void()> yes;
  };
  HWND owner_;
  std::deque<Box> pending_;
  bool showing_ = false;
};

}  // namespace vm

#endif  // VM_APP_WIN32_MESSAGE_BOX_H_
