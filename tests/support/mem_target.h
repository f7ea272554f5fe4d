#ifndef VM_TESTS_SUPPORT_MEM_TARGET_H_
#define VM_TESTS_SUPPORT_MEM_TARGET_H_

#include <string>

#include "config/config_file.h"
#include "config/target_context.h"
#include "testing/fault_injection_file_system.h"
#include "testing/fixed_clock.h"
#include "testing/mem_file_system.h"
#include "tests/support/golden.h"

namespace vm {

// A target directory "C:\t" beside a source installation directory
// "C:\src" on one in-memory file system, with the process-wide file caches
// reset. The target starts with the empty domain.cfg and userauth.cfg that
// start-up writes.
class MemTarget {
 public:
  MemTarget() {
    ResetSharedConfigStates();
    fs.CreateDir(kDir, nullptr);
    fs.CreateDir(kSource, nullptr);
    context.fs = &fs;
    context.clock = &clock;
    context.target_dir = kDir;
    Put("domain.cfg", Golden("config/domain_empty.cfg"));
    Put("userauth.cfg", Golden("config/userauth_empty.cfg"));
  }
  ~MemTarget() { ResetSharedConfigStates(); }

  std::string Path(const std::string& name) const {
    return std::string(kDir) + "\\" + name;
  }
  void Put(const std::string& name, const std::string& text) {
    EXPECT_TRUE(fs.WriteFile(Path(name), text, nullptr)) << name;
  }
  std::string Get(const std::string& name) { return Read(Path(name)); }
  std::string Read(const std::string& path) {
    std::string text;
    fs.ReadFile(path, &text, nullptr);
    return text;
  }
  // Writes a file under the source directory, making its directories.
  void PutSource(const std::string& name, const std::string& text) {
    std::string path = kSource;
    for (size_t at = 0; (at = name.find('\\', at)) != std::string::npos; ++at) {
      fs.CreateDir(path + "\\" + name.substr(0, at), nullptr);
    }
    EXPECT_TRUE(fs.WriteFile(path + "\\" + name, text, nullptr)) << name;
  }

  static constexpr char kDir[] = "C:\\t";
  static constexpr char kSource[] = "C:\\src";
  MemFileSystem mem;
  FaultInjectionFileSystem fs{&mem};  // over `mem`
  FixedClock clock;
  TargetContext context;
};

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_MEM_TARGET_H_
