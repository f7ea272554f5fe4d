#include "migrate/source_mailbox.h"

#include <utility>

#include "config/field_text.h"
#include "platform/wildcard.h"
#include "util/ascii.h"
#include "util/name_ops.h"

namespace vm {

namespace {

struct StandardFolder {
  const char* extension;
  const char* target;
};

constexpr StandardFolder kStandardFolders[kStandardFolderCount] = {
    {"in", "INBOX"}, {"sed", "Sent"}, {"out", "Draft"}, {"del", "Trash"}};

SourceFolder FolderOf(const std::string& box, const std::string& extension,
                      std::string target) {
  return SourceFolder{std::move(target), box, box + "\\*." + extension,
                      box + "\\__r_" + extension + ".ini"};
}

}  // namespace

std::vector<SourceFolder> StandardFolders(const std::string& box) {
  std::vector<SourceFolder> folders;
  for (const StandardFolder& folder : kStandardFolders) {
    folders.push_back(FolderOf(box, folder.extension, folder.target));
  }
  return folders;
}

const std::vector<std::string>& NewMailboxFolders() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const StandardFolder& folder : kStandardFolders) {
      list.push_back(folder.target);
    }
    list.push_back("Spam");
    return list;
  }();
  return names;
}

SourceFolder UserFolder(const std::string& box, size_t number,
                        const std::string& name) {
  return FolderOf(box, std::to_string(number), name);
}

MailboxListing::MailboxListing(FileSystem* fs, const std::string& box,
                               const Clock* clock) {
  if (clock != nullptr) seen = SeeSourceFolder(fs, box, *clock);
  listed = fs->List(box + "\\*", &entries);
  if (clock != nullptr) {
    SeeFolderList(fs, box, listed ? &entries : nullptr, &seen);
  }
}

std::vector<DirEntry> MailboxListing::FilesOf(const SourceFolder& folder,
                                              const NameOps& names) const {
  const std::string_view wildcard =
      std::string_view(folder.pattern).substr(folder.dir.size() + 1);
  std::vector<DirEntry> files;
  for (const DirEntry& entry : entries) {
    if (WildcardMatch(wildcard, entry.name, names)) files.push_back(entry);
  }
  return files;
}

bool MailboxListing::Holds(FileSystem* fs, const std::string& path,
                           const NameOps& names) const {
  if (!listed) return fs->Exists(path);
  const std::string name = path.substr(path.find_last_of('\\') + 1);
  for (const DirEntry& entry : entries) {
    if (names.EqualsIgnoringCase(entry.name, name)) return true;
  }
  return false;
}

bool MailboxListing::ReadFile(FileSystem* fs, const std::string& path,
                              std::string* text) const {
  auto it = texts.find(path.substr(path.find_last_of('\\') + 1));
  if (it == texts.end()) return fs->ReadFile(path, text, nullptr);
  *text = it->second;
  return true;
}

std::string SourceMailDir(const std::string& source_dir) {
  return source_dir + "\\mail";
}

std::string SourceMailbox(const std::string& source_dir,
                          const std::string& user) {
  return SourceMailDir(source_dir) + "\\" + user;
}

std::string FolderListPath(const std::string& box) {
  return box + "\\Folders.ini";
}

std::vector<std::string> FolderListNames(std::string_view text) {
  std::vector<std::string> names;
  ForEachLine(text, [&](std::string_view line) {
    names.emplace_back(line.substr(0, line.find('\t')));
    return true;
  });
  return names;
}

bool IsMessageFileName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return false;
  std::string ext = NameOps().Fold(name.substr(dot + 1));
  for (const StandardFolder& folder : kStandardFolders) {
    if (ext == folder.extension) return true;
  }
  return ext.find_first_not_of("0123456789") == std::string::npos;
}

bool IsListOrIndexName(const std::string& name) {
  return name.size() >= 4 &&
         EqualsIgnoringAsciiCase(std::string_view(name).substr(name.size() - 4),
                                 ".ini");
}

}  // namespace vm
