#ifndef VM_CONFIG_CONFIG_TEST_UTIL_H_
#define VM_CONFIG_CONFIG_TEST_UTIL_H_

#include <string>

#include "config/config_file.h"
#include "config/target_context.h"
#include "platform/clock.h"
#include "platform/mem_file_system.h"

namespace vm {

// The empty files the start-up writes for a target without them.
inline const char kEmptyDomainCfg[] =
    "<database>\r\n<domain>\r\n</domain>\r\n<domainalias>\r\n</domainalias>"
    "\r\n</database>";
inline const char kEmptyUserauthCfg[] =
    "<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n</useralias>\r\n"
    "</database>";

class FixedClock : public Clock {
 public:
  explicit FixedClock(int64_t now) : now_(now) {}
  int64_t NowSeconds() const override { return now_; }
  void Set(int64_t now) { now_ = now; }

 private:
  int64_t now_;
};

// A target directory "C:\target" on an in-memory file system, with the
// process-wide file caches reset.
class MemTarget {
 public:
  MemTarget() : clock(1700000000) {
    ResetSharedConfigStates();
    fs.CreateDir(kDir);
    context.fs = &fs;
    context.clock = &clock;
    context.target_dir = kDir;
  }
  ~MemTarget() { ResetSharedConfigStates(); }

  std::string Path(const std::string& name) const {
    return std::string(kDir) + "\\" + name;
  }
  void Put(const std::string& name, const std::string& text) {
    fs.WriteFile(Path(name), text, nullptr);
  }
  std::string Get(const std::string& name) {
    std::string text;
    fs.ReadFile(Path(name), &text, nullptr);
    return text;
  }

  static constexpr char kDir[] = "C:\\target";
  MemFileSystem fs;
  FixedClock clock;
  TargetContext context;
};

}  // namespace vm

#endif  // VM_CONFIG_CONFIG_TEST_UTIL_H_
