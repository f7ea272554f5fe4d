#ifndef VM_PLATFORM_REGISTRY_H_
#define VM_PLATFORM_REGISTRY_H_

#include <memory>
#include <string>

namespace vm {

// Read access to string values under HKEY_LOCAL_MACHINE.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens `key` for reading, in the 32-bit view of the registry first and
  // then in the 64-bit view, and reads the string `value` from the first
  // that has it; a REG_EXPAND_SZ value is returned with its variables
  // expanded. False when the key cannot be opened in either view; *found
  // tells whether the value itself was read (an empty result otherwise).
  virtual bool ReadString(const std::string& key, const std::string& value,
                          std::string* result, bool* found) = 0;
};

// The machine's registry; on POSIX a registry with no keys.
std::unique_ptr<Registry> OpenSystemRegistry();

// Full path of the running program's executable, ANSI bytes.
std::string ProgramPath();

}  // namespace vm

#endif  // VM_PLATFORM_REGISTRY_H_
