#include "platform/file_system.h"

#include "util/md5.h"

namespace vm {

CopyResult FileSystem::CopyNewDigested(const std::string& from,
                                       const std::string& to,
                                       std::string* error,
                                       CopiedBytes* copied) {
  *copied = CopiedBytes{};
  const CopyResult result = CopyNew(from, to, error);
  // The file was just written, so this read is served from the cache.
  std::string bytes;
  if (result == CopyResult::kCopied && ReadFile(to, &bytes, nullptr)) {
    copied->size = bytes.size();
    copied->md5 = Md5Hex(bytes);
  }
  return result;
}

}  // namespace vm
