#ifndef VM_SESSION_UNDO_REPORT_HTML_H_
#define VM_SESSION_UNDO_REPORT_HTML_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "migrate/undo_run.h"

namespace vm {

class CodePage;

// What the undo's page says of the undo besides its items (UTF-8).
struct UndoPageHeader {
  std::string version;
  int64_t started = 0;
  int64_t ended = 0;
  std::string target;    // as the undo was given it
  std::string manifest;  // the manifest it undid, by its absolute path
  bool dry_run = false;
  bool stopped = false;
};

// The report of an undo as one HTML page, in the style of a run's (the
// same policy, style sheet and escaping; see WriteHtmlReport): the verdict
// in the words the undo ends with, the undo's facts, one tile per outcome
// (the tiles divide the items: removed, gone, never made, kept, not
// reached, outside the target), every kept item with its reason, then
// every item, a collapsible section per account (domains, and paths of no
// account, each in a section of their own). Written a piece at a time
// through `add`; false as soon as `add` fails.
bool WriteUndoHtmlReport(const std::function<bool(std::string_view)>& add,
                         const UndoPageHeader& header, const UndoResult& result,
                         const CodePage& code_page);

}  // namespace vm

#endif  // VM_SESSION_UNDO_REPORT_HTML_H_
