#include "migrate/mailbox_verifier.h"

#include <utility>

#include "migrate/index_lookup.h"
#include "migrate/message_names.h"
#include "migrate/safe_name.h"
#include "migrate/source_mailbox.h"
#include "platform/file_system.h"

namespace vm {

namespace {

// Folded names of the entries of `dir` that are directories of their own
// (true) or anything else, a symbolic link included (false).
std::unordered_map<std::string, bool> Directories(FileSystem* fs,
                                                  const NameOps& names,
                                                  const std::string& dir) {
  std::unordered_map<std::string, bool> found;
  std::vector<DirEntry> entries;
  fs->List(dir + "\\*", &entries);
  for (const DirEntry& entry : entries) {
    found[names.Fold(entry.name)] = entry.is_directory;
  }
  return found;
}

bool IsDirectoryIn(const std::unordered_map<std::string, bool>& entries,
                   const NameOps& names, const std::string& name) {
  auto it = entries.find(names.Fold(name));
  return it != entries.end() && it->second;
}

}  // namespace

MailboxVerifier::MailboxVerifier(FileSystem* fs, bool content,
                                 const NameOps& names,
                                 std::string target_mail_dir)
    : fs_(fs),
      content_(content),
      names_(names),
      target_mail_dir_(std::move(target_mail_dir)) {}

bool MailboxVerifier::Verify(const std::string& source_box,
                             const std::string& target_box,
                             std::vector<FolderCheck>* checks) {
  checks->clear();
  if (!HasMailbox(target_box)) return false;
  CheckAll(source_box, target_box, true, checks);
  return true;
}

void MailboxVerifier::Survey(const std::string& source_box,
                             const std::string& target_box,
                             std::vector<FolderCheck>* checks) {
  checks->clear();
  CheckAll(source_box, target_box, HasMailbox(target_box), checks);
}

void MailboxVerifier::CheckAll(const std::string& source_box,
                               const std::string& target_box,
                               bool target_listed,
                               std::vector<FolderCheck>* checks) {
  const auto folders = target_listed ? Directories(fs_, names_, target_box)
                                     : std::unordered_map<std::string, bool>();
  auto check = [&](const SourceFolder& folder) {
    checks->emplace_back();
    checks->back().name = folder.target;
    CheckFolder(folder.pattern, folder.index, target_box + "\\" + folder.target,
                IsDirectoryIn(folders, names_, folder.target), &checks->back());
  };
  // Without a source mailbox there is no mail to look for.
  if (!fs_->Exists(source_box)) return;
  for (const SourceFolder& folder : StandardFolders(source_box)) check(folder);
  std::string list_path = FolderListPath(source_box);
  if (!fs_->Exists(list_path)) return;
  std::string text;
  if (!fs_->ReadFile(list_path, &text, nullptr)) {
    checks->emplace_back();
    checks->back().missing = 1;
    checks->back().problems.push_back(
        {VerifyProblem::kUnreadable, list_path, ""});
    return;
  }
  const std::vector<std::string> names = FolderListNames(text);
  for (size_t number = 0; number < names.size(); ++number) {
    // A refused name has its own failure line from the mailbox step.
    if (!IsSafeDirectoryName(names[number], names_)) continue;
    check(UserFolder(source_box, number, names[number]));
  }
}

bool MailboxVerifier::HasMailbox(const std::string& target_box) {
  if (!store_listed_) {
    store_ = Directories(fs_, names_, target_mail_dir_);
    store_listed_ = true;
  }
  return target_box.size() > target_mail_dir_.size() + 1 &&
         IsDirectoryIn(store_, names_,
                       target_box.substr(target_mail_dir_.size() + 1));
}

void MailboxVerifier::CheckFolder(const std::string& pattern,
                                  const std::string& index_path,
                                  const std::string& target,
                                  bool target_is_folder, FolderCheck* check) {
  std::vector<DirEntry> sources;
  if (!fs_->List(pattern, &sources)) {
    ++check->missing;
    check->problems.push_back({VerifyProblem::kUnreadable, pattern, ""});
    return;
  }
  std::vector<DirEntry> held;
  if (target_is_folder) fs_->List(target + "\\*", &held);
  const TargetFolderFiles targets(names_, std::move(held));

  // The name a missing message would have, from the index, read at the
  // first one missing.
  std::vector<std::string> names;
  for (const DirEntry& source : sources) {
    if (!source.is_directory) names.push_back(source.name);
  }
  std::vector<bool> sized;
  auto expected = [&](size_t i) {
    if (sized.empty()) {
      sized.assign(names.size(), false);
      std::string index;
      if (fs_->ReadFile(index_path, &index, nullptr)) {
        sized = SizeFlagsFromIndex(index, names);
      }
    }
    const DirEntry& source = sources[i];
    return target + "\\" +
           (sized[static_cast<size_t>(check->checked) - 1]
                ? SizedName(source.name, source.size)
                : source.name);
  };

  for (size_t i = 0; i < sources.size(); ++i) {
    const DirEntry& source = sources[i];
    if (source.is_directory) continue;
    ++check->checked;
    check->bytes += source.size;
    const DirEntry* copy = targets.Copy(source.name, source.size);
    if (copy != nullptr && content_) {
      std::string a, b;
      if (!fs_->ReadFile(source.path, &a, nullptr) ||
          !fs_->ReadFile(copy->path, &b, nullptr) || a != b) {
        ++check->different;
        check->problems.push_back(
            {VerifyProblem::kDifferent, source.path, copy->path});
      }
    } else if (copy == nullptr) {
      const std::vector<const DirEntry*> others = targets.Find(source.name);
      if (others.empty()) {
        ++check->missing;
        check->problems.push_back(
            {VerifyProblem::kMissing, source.path, expected(i)});
      } else {
        ++check->different;
        check->problems.push_back(
            {VerifyProblem::kDifferent, source.path, others.front()->path});
      }
    }
  }
}

}  // namespace vm
