#ifndef VM_PLATFORM_PROCESS_TAG_H_
#define VM_PLATFORM_PROCESS_TAG_H_

#include <string>

namespace vm {

// Names this process among all processes this machine runs or has run:
// its host name, process id and start time, as one line of printable
// ASCII. Left in a file, it tells a later process whether the one that
// wrote the file is still at work.
std::string ThisProcessTag();

// Whether the process `tag` names runs now on this machine. False for the
// tag of another machine, of a process that has ended (a new process with
// its id started later) and for text that is no tag.
bool ProcessIsRunning(const std::string& tag);

}  // namespace vm

#endif  // VM_PLATFORM_PROCESS_TAG_H_
