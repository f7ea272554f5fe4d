#ifndef VM_TESTS_SUPPORT_MEM_TARGET_H_
#define VM_TESTS_SUPPORT_MEM_TARGET_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "testing/fault_injection_file_system.h"
#include "testing/fixed_clock.h"
#include "testing/golden.h"
#include "testing/mem_file_system.h"

namespace vm {

// A target directory "C:\t" beside a source installation directory
// "C:\src" on one in-memory file system, with the configuration files'
// shared states of its own. The target starts with the empty domain.cfg and
// userauth.cfg that start-up writes.
class MemTarget {
 public:
  MemTarget() {
    fs.CreateDir(kDir, nullptr);
    fs.CreateDir(kSource, nullptr);
    context.fs = &fs;
    context.clock = &clock;
    context.target_dir = kDir;
    context.states = states.get();
    Put("domain.cfg", Golden("config/domain_empty.cfg"));
    Put("userauth.cfg", Golden("config/userauth_empty.cfg"));
  }
  MemTarget(const MemTarget&) = delete;
  MemTarget& operator=(const MemTarget&) = delete;

  // Starts the shared states afresh, as a new run would. The stores that
  // still exist keep the old ones.
  void NewRun() {
    retired.push_back(std::move(states));
    states = std::make_unique<SharedConfigStates>();
    context.states = states.get();
  }

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
  std::vector<std::unique_ptr<SharedConfigStates>> retired;
  std::unique_ptr<SharedConfigStates> states =
      std::make_unique<SharedConfigStates>();
  TargetContext context;
};

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_MEM_TARGET_H_
