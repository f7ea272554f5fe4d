#include <limits.h>
#include <unistd.h>

#include "platform/code_page.h"
#include "platform/registry.h"

namespace vm {
namespace {

// POSIX machines have no registry: every key is missing.
class EmptyRegistry : public Registry {
 public:
  bool ReadString(const std::string&, const std::string&, std::string* result,
                  bool* found) override {
    result->clear();
    *found = false;
    return false;
  }
};

}  // namespace

std::unique_ptr<Registry> OpenSystemRegistry(const std::string&) {
  return std::make_unique<EmptyRegistry>();
}

std::string ProgramPath(const std::string& code_page_name) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "";
  std::string utf8(buffer, static_cast<size_t>(n));
  std::unique_ptr<CodePage> code_page = OpenCodePage(code_page_name);
  return code_page != nullptr ? code_page->ToAnsi(utf8) : utf8;
}

}  // namespace vm
