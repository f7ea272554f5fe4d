#ifndef VM_MIGRATE_UNDONE_MARK_H_
#define VM_MIGRATE_UNDONE_MARK_H_

#include <string>
#include <string_view>

namespace vm {

// An undo that removed everything its run added marks the run's manifest:
// it appends LF, `undone FIELD` (when, UTC, as "2026-05-04T08:00:00Z") and
// LF to the bytes as they are. After a whole last line that makes an empty
// line; after a line torn by a kill it ends that line. Either way the
// run's own bytes are exactly the text less that suffix. A program that
// predates the mark reads the empty or torn line as damage and refuses to
// undo the run again; see docs/manifest.md.

// The bytes to append for an undo done at `when`.
std::string UndoneMark(const std::string& when);

// The bytes the run wrote: `text` without its undo marks (the last, and
// any before it). `*when` gets the first mark's time; empty when there is
// none. A suffix that is not exactly a mark is no mark: the text is the
// run's, and its reader judges it.
std::string_view RunBytes(std::string_view text, std::string* when);

}  // namespace vm

#endif  // VM_MIGRATE_UNDONE_MARK_H_
