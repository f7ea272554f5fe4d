#ifndef VM_DIALOG_WIN32_DIALOG_MESSAGES_H_
#define VM_DIALOG_WIN32_DIALOG_MESSAGES_H_

#include <windows.h>

#include <string>

#include "session/run_session.h"

namespace vm {

// The main dialog's own window messages. Threads other than the window's
// only ever post them: the window never makes a thread wait for it to
// draw, and a thread that needs an answer waits for it itself.

// Posted by the worker so that its message boxes belong to the user
// interface thread (the worker goes on); lparam is a PostedBox to take.
constexpr UINT kShowMessage = WM_APP + 1;
// Posted when the progress model has news (at most one waits at a time).
constexpr UINT kProgress = WM_APP + 2;
// Posted by the worker as its last act; lparam is the EndMessage to take.
constexpr UINT kRunEnded = WM_APP + 3;
// Posted by the account count with the number in wparam.
constexpr UINT kExistingCounted = WM_APP + 4;
// Posted by the worker with a yes-or-no question (whether to wait for
// another run on the target; whether to undo what a preview listed):
// lparam points to the Question the worker waits on.
constexpr UINT kAskWait = WM_APP + 5;
// Posted when result-list changes land in an empty queue.
constexpr UINT kLines = WM_APP + 6;
// Posted by the reading of the manifests an undo offers as its last act.
constexpr UINT kRunsListed = WM_APP + 7;
// Posted by the worker after each pass of a watch; lparam is the status
// line (a std::string, UTF-8) to take.
constexpr UINT kWatchStatus = WM_APP + 8;
// Sent when the window moves to a monitor of another DPI.
constexpr UINT kDpiChanged = 0x02E0;

// A message box a worker asked for.
struct PostedBox {
  std::wstring text;
  MessageKind kind;
};

}  // namespace vm

#endif  // VM_DIALOG_WIN32_DIALOG_MESSAGES_H_
