#include "migrate/mailbox_verifier.h"

#include <map>

#include "migrate/safe_name.h"
#include "migrate/source_lists.h"
#include "platform/file_system.h"

namespace vm {

namespace {

struct Folder {
  const char* pattern;
  const char* target;
};

constexpr Folder kStandardFolders[4] = {{"\\*.in", "INBOX"},
                                        {"\\*.sed", "Sent"},
                                        {"\\*.out", "Draft"},
                                        {"\\*.del", "Trash"}};

}  // namespace

MailboxVerifier::MailboxVerifier(FileSystem* fs, bool content,
                                 const NameOps& names)
    : fs_(fs), content_(content), names_(names) {}

std::vector<FolderCheck> MailboxVerifier::Verify(
    const std::string& source_box, const std::string& target_box) {
  std::vector<FolderCheck> checks;
  // Without a source mailbox there is no mail to look for.
  if (!fs_->Exists(source_box)) return checks;
  for (const Folder& folder : kStandardFolders) {
    checks.emplace_back();
    checks.back().name = folder.target;
    CheckFolder(source_box + folder.pattern, target_box + "\\" + folder.target,
                &checks.back());
  }
  std::string list_path = source_box + "\\Folders.ini";
  if (!fs_->Exists(list_path)) return checks;
  std::string text;
  if (!fs_->ReadFile(list_path, &text, nullptr)) {
    checks.emplace_back();
    checks.back().missing.push_back(list_path);
    return checks;
  }
  // The folder number is the line number, as the mailbox step counts.
  size_t start = 0;
  for (int number = 0; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string name = line.substr(0, line.find('\t'));
    // A refused name has its own failure line from the mailbox step.
    if (!IsSafeDirectoryName(name, names_)) continue;
    checks.emplace_back();
    checks.back().name = name;
    CheckFolder(source_box + "\\*." + std::to_string(number),
                target_box + "\\" + name, &checks.back());
  }
  return checks;
}

void MailboxVerifier::CheckFolder(const std::string& pattern,
                                  const std::string& target,
                                  FolderCheck* check) {
  std::vector<DirEntry> sources;
  if (!fs_->List(pattern, &sources)) {
    check->missing.push_back(pattern);
    return;
  }
  // One listing of the target folder gives every size; names compare
  // without ASCII case, as the file system resolves them.
  std::vector<DirEntry> targets;
  fs_->List(target + "\\*", &targets);
  std::map<std::string, const DirEntry*> by_name;
  for (const DirEntry& entry : targets) {
    if (!entry.is_directory) by_name[names_.Fold(entry.name)] = &entry;
  }
  for (const DirEntry& source : sources) {
    if (source.is_directory) continue;
    ++check->checked;
    const int32_t size32 =
        static_cast<int32_t>(static_cast<uint32_t>(source.size));
    const DirEntry* copy = nullptr;
    for (const std::string& name :
         {source.name, source.name + ",S=" + std::to_string(size32) + ".0.S"}) {
      auto it = by_name.find(names_.Fold(name));
      if (it != by_name.end()) {
        copy = it->second;
        break;
      }
    }
    if (copy == nullptr) {
      check->missing.push_back(source.path);
      continue;
    }
    bool same = copy->size == source.size;
    if (same && content_) {
      std::string a, b;
      same = fs_->ReadFile(source.path, &a, nullptr) &&
             fs_->ReadFile(copy->path, &b, nullptr) && a == b;
    }
    if (!same) check->different.push_back(source.path);
  }
}

}  // namespace vm
