#ifndef VM_DIALOG_WIN32_END_STATUS_H_
#define VM_DIALOG_WIN32_END_STATUS_H_

#include <string>

#include "session/run_session.h"

namespace vm {

// The status line (UTF-8) when `session` has ended: how it ended, what it
// counted and, when it verified mail, how (the "byte by byte" box decides
// for both verifications, so the line says which one ran).
std::string EndStatusText(RunSession& session);

}  // namespace vm

#endif  // VM_DIALOG_WIN32_END_STATUS_H_
