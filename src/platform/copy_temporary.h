#ifndef VM_PLATFORM_COPY_TEMPORARY_H_
#define VM_PLATFORM_COPY_TEMPORARY_H_

namespace vm {

// Where a copy cannot be an unnamed file until it is complete, FileSystem::
// CopyNew writes it in the target folder under a temporary name that starts
// with "." and holds kCopyTempInfix, and renames it into place once it is
// complete. No message file is named so (such a source name is refused),
// so a temporary is never taken for a message; one left by a killed run is
// removed by the next run that finishes the mailbox.
inline constexpr char kCopyTempInfix[] = ".vmtmp.";

}  // namespace vm

#endif  // VM_PLATFORM_COPY_TEMPORARY_H_
