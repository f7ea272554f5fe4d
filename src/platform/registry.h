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

// The machine's registry, its texts in the code page of that name (the
// system's ANSI code page when empty); on POSIX a registry with no keys.
std::unique_ptr<Registry> OpenSystemRegistry(
    const std::string& code_page_name = "");

// Full path of the running program's executable, in the code page of that
// name (the system's ANSI code page when empty); empty when the code page
// cannot name it.
std::string ProgramPath(const std::string& code_page_name = "");

}  // namespace vm

#endif  // VM_PLATFORM_REGISTRY_H_
