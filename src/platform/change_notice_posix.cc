#include "platform/change_notice.h"

namespace vm {

// Linux tells changes one folder at a time (inotify), not for a tree of a
// hundred thousand mailboxes; the watch polls instead.
std::unique_ptr<ChangeNotice> WatchFolderTree(const CodePage&,
                                              const std::string&) {
  return NoticeTimer();
}

}  // namespace vm
