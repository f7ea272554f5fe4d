#include "platform/path_resolution_posix.h"

#include <sys/stat.h>

#include <string>

#include "platform/posix_io.h"

namespace vm {

// The native UTF-8 path of an ANSI, backslash-separated path as spelled,
// without looking at the disk; empty when the path is not valid in the
// code page.
std::string PathResolver::Spelled(const std::string& path) const {
  if (!code_page_->IsValidAnsi(path)) return "";
  std::string utf8 = code_page_->ToUtf8(path);
  for (char& c : utf8) {
    if (c == '\\') c = '/';
  }
  return utf8;
}

// Native for a path about to be created, which most often does not
// exist yet: a new entry in a directory whose listing is known needs no
// look-up of its own.
std::string PathResolver::NativeToCreate(const std::string& path) const {
  const std::string utf8 = Spelled(path);
  if (utf8.empty()) return utf8;
  const std::string resolved = Resolve(utf8);
  // Another spelling was found; the exact one is taken if it exists too.
  struct stat st;
  if (resolved == utf8 || ::lstat(utf8.c_str(), &st) == 0) return utf8;
  return resolved;
}

// Maps an ANSI, backslash-separated path to the native UTF-8 path,
// resolving each component without regard to ASCII case when the exact
// name does not exist. A path that is not valid in the code page gives
// the empty path, which no system call accepts: replacing its bad bytes
// would let two different names reach the same file.
std::string PathResolver::Native(const std::string& path) const {
  std::string utf8 = Spelled(path);
  struct stat st;
  if (utf8.empty() || ::lstat(utf8.c_str(), &st) == 0) return utf8;
  return Resolve(utf8);
}

// The native path of `utf8`, which does not exist as spelled. Most such
// paths name a new entry in a directory that does exist as spelled, or
// one level further down (a file in a mailbox not made yet): they are
// resolved from their end, each level one look-up of its directory,
// instead of a look-up of every component of a deep path.
std::string PathResolver::Resolve(const std::string& utf8) const {
  const size_t slash = utf8.find_last_of('/');
  const std::string parent = slash == std::string::npos ? std::string()
                             : slash == 0               ? std::string("/")
                                                        : utf8.substr(0, slash);
  const std::string last =
      slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return ResolveEach(utf8);
  bool parent_found = false;
  std::string match = folded_names_.Find(parent, last, &parent_found);
  if (parent_found) {
    if (match.empty()) match = RawName(parent, last);
    return match.empty() ? utf8 : Join(parent, match);
  }
  if (parent.empty() || parent == "/") return ResolveEach(utf8);
  const std::string resolved_parent = Resolve(parent);
  // Nothing below a missing directory can exist.
  if (resolved_parent == parent) return utf8;
  match = folded_names_.Find(resolved_parent, last, &parent_found);
  if (match.empty() && parent_found) match = RawName(resolved_parent, last);
  return Join(resolved_parent, match.empty() ? last : match);
}

// Resolve component by component, from the root.
std::string PathResolver::ResolveEach(const std::string& utf8) const {
  struct stat st;
  std::string resolved = utf8[0] == '/' ? "/" : "";
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t end = utf8.find('/', pos);
    if (end == std::string::npos) end = utf8.size();
    std::string component = utf8.substr(pos, end - pos);
    pos = end + 1;
    if (component.empty()) continue;
    std::string candidate = Join(resolved, component);
    if (component == "." || component == ".." ||
        ::lstat(candidate.c_str(), &st) == 0) {
      resolved = candidate;
      continue;
    }
    std::string match = folded_names_.Find(resolved, component);
    if (match.empty()) match = RawName(resolved, component);
    if (match.empty()) {
      // Nothing below a missing component can exist: keep the rest as
      // given.
      resolved = candidate;
      if (pos < utf8.size()) {
        resolved.push_back('/');
        resolved.append(utf8, pos, std::string::npos);
      }
      return resolved;
    }
    resolved = Join(resolved, match);
  }
  return resolved;
}

// `name` (UTF-8) spelled in the code page's own bytes, when an entry of
// that spelling exists in `dir`: some archive tools unpack names so.
std::string PathResolver::RawName(const std::string& dir,
                                  const std::string& name) const {
  bool ascii = true;
  for (unsigned char c : name) ascii = ascii && c < 0x80;
  if (ascii) return "";
  std::string raw = code_page_->ToAnsi(name);
  struct stat st;
  if (raw == name || ::lstat(Join(dir, raw).c_str(), &st) != 0) return "";
  return raw;
}

}  // namespace vm
