#include "platform/absolute_path_posix.h"

#include <string_view>
#include <vector>

namespace vm {
namespace {

// The parts of `path` between separators, empty ones included.
void AppendParts(std::string_view path, const NameOps& names,
                 std::vector<std::string>* parts) {
  size_t begin = 0;
  for (size_t i = 0; i < path.size(); i += names.CharLength(path, i)) {
    if (path[i] == '/' || path[i] == '\\') {
      parts->emplace_back(path.substr(begin, i - begin));
      begin = i + 1;
    }
  }
  parts->emplace_back(path.substr(begin));
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string path = "/";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) path += '\\';
    path += parts[i];
  }
  return path;
}

}  // namespace

std::string AbsolutePosixPath(
    const std::string& path, const std::string& working_folder,
    const NameOps& names,
    const std::function<bool(const std::string&)>& is_plain_folder) {
  std::vector<std::string> given;
  const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
  if (!absolute) AppendParts(working_folder, names, &given);
  AppendParts(path, names, &given);
  std::vector<std::string> parts;
  for (std::string& part : given) {
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      parts.push_back(std::move(part));
    } else if (parts.empty()) {
      // The root's parent is the root.
    } else if (parts.back() != ".." && is_plain_folder(Joined(parts))) {
      parts.pop_back();
    } else {
      parts.push_back(std::move(part));
    }
  }
  return Joined(parts);
}

}  // namespace vm
