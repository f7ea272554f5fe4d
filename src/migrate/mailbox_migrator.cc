#include "migrate/mailbox_migrator.h"

#include <utility>

#include "migrate/index_lookup.h"
#include "migrate/run_host.h"
#include "migrate/safe_name.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

namespace {

struct StandardFolder {
  const char* pattern;
  const char* index;
  const char* target;
};

constexpr StandardFolder kStandardFolders[4] = {
    {"\\*.in", "\\__r_in.ini", "\\INBOX"},
    {"\\*.sed", "\\__r_sed.ini", "\\Sent"},
    {"\\*.out", "\\__r_out.ini", "\\Draft"},
    {"\\*.del", "\\__r_del.ini", "\\Trash"},
};

// The lines of a text file as a C runtime text stream gives them: split at
// LF, a CR before the LF dropped, no empty piece after a final line end.
std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

MailboxMigrator::MailboxMigrator(FileSystem* fs, RunHost* host,
                                 const Texts& texts, Options options,
                                 MigrationStats* stats)
    : fs_(fs),
      host_(host),
      texts_(texts),
      options_(std::move(options)),
      stats_(stats),
      observer_(options_.observer != nullptr ? options_.observer
                                             : &null_observer_) {}

std::string MailboxMigrator::TargetBox(
    const SourceAccount& account, const std::string& primary_domain) const {
  const std::string& user = account.user_name;
  std::string box_name = user.substr(0, user.find('@'));
  if (account.domain != primary_domain) box_name += "@" + account.domain;
  if (!IsSafeDirectoryName(user, options_.double_byte_names) ||
      !IsSafeDirectoryName(box_name, options_.double_byte_names)) {
    return std::string();
  }
  return options_.target_mail_dir + "\\" + box_name;
}

bool MailboxMigrator::MarkPending(const SourceAccount& account,
                                  const std::string& primary_domain) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return true;
  fs_->CreateDir(options_.target_mail_dir);
  fs_->CreateDir(target_box);
  return fs_->WriteFile(target_box + "\\" + kPendingMark, "", nullptr);
}

bool MailboxMigrator::IsPending(const SourceAccount& account,
                                const std::string& primary_domain) {
  std::string target_box = TargetBox(account, primary_domain);
  return !target_box.empty() && fs_->Exists(target_box + "\\" + kPendingMark);
}

void MailboxMigrator::ClearPending(const SourceAccount& account,
                                   const std::string& primary_domain) {
  std::string target_box = TargetBox(account, primary_domain);
  if (!target_box.empty()) fs_->RemoveFile(target_box + "\\" + kPendingMark);
}

bool MailboxMigrator::MigrateMailbox(const SourceAccount& account,
                                     const std::string& primary_domain,
                                     bool resume) {
  const std::string& user = account.user_name;
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) {
    LogFailure(texts_.unsafe_mailbox_name + user);
    return false;
  }

  fs_->CreateDir(options_.target_mail_dir);
  fs_->CreateDir(target_box);
  for (const char* folder :
       {"\\INBOX", "\\Sent", "\\Draft", "\\Trash", "\\Spam"}) {
    fs_->CreateDir(target_box + folder);
  }
  std::string source_box = options_.source_dir + "\\mail\\" + user;
  if (options_.phases != nullptr) options_.phases->PhaseBegin("mail");
  resume_ = resume;
  const int32_t failed_before = stats_->failed_copies;
  MigrateFolders(source_box, target_box);
  resume_ = false;
  // With a copy failed the mark stays, so a later run tries it again.
  if (stats_->failed_copies == failed_before) {
    fs_->RemoveFile(target_box + "\\" + kPendingMark);
  }
  if (options_.phases != nullptr) options_.phases->PhaseEnd("mail");
  return true;
}

void MailboxMigrator::MigrateFolders(const std::string& source_box,
                                     const std::string& target_box) {
  for (int i = 0; i < 4; ++i) {
    const StandardFolder& folder = kStandardFolders[i];
    host_->AppendLogLine(texts_.standard_in_progress[i]);
    folder_ = FolderCounts();
    folder_.name = folder.target + 1;
    int count = CopyFolderMessages(source_box + folder.index,
                                   source_box + folder.pattern,
                                   target_box + folder.target);
    FinishFolder(texts_.standard_done[i] + " " + std::to_string(count) + "!");
  }
  MigrateUserFolders(source_box, target_box);
}

void MailboxMigrator::MigrateUserFolders(const std::string& source_box,
                                         const std::string& target_box) {
  std::string list_path = source_box + "\\Folders.ini";
  if (!fs_->Exists(list_path)) return;
  std::string text;
  if (!fs_->ReadFile(list_path, &text, nullptr)) {
    // The user-made folders cannot be known: say so rather than leave
    // their mail behind unmentioned.
    LogFailure(texts_.folder_indent + texts_.folder_list_unreadable +
               list_path);
    return;
  }

  // Every directory is made before any folder is copied. The folder number
  // is the line number, so a refused line still uses up its number.
  std::vector<std::string> names;
  for (std::string& line : TextLines(text)) {
    std::string name = line.substr(0, line.find('\t'));
    if (IsSafeDirectoryName(name, options_.double_byte_names)) {
      fs_->CreateDir(target_box + "\\" + name);
    }
    names.push_back(std::move(name));
  }

  const std::string& indent = texts_.folder_indent;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (!IsSafeDirectoryName(name, options_.double_byte_names)) {
      LogFailure(indent + texts_.unsafe_folder_name + name);
      continue;
    }
    std::string number = std::to_string(i);
    host_->AppendLogLine(indent + name + texts_.user_folder_in_progress);
    folder_ = FolderCounts();
    folder_.name = name;
    CopyFolderMessages(source_box + "\\__r_" + number + ".ini",
                       source_box + "\\*." + number, target_box + "\\" + name);
    FinishFolder(indent + name + texts_.user_folder_done);
  }
}

int MailboxMigrator::CopyFolderMessages(const std::string& index_path,
                                        const std::string& pattern,
                                        const std::string& target_folder) {
  std::vector<DirEntry> entries;
  fs_->List(pattern, &entries);
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) {
    if (!entry.is_directory) names.push_back(entry.name);
  }

  // One read of the index gives the flag of every message of the folder.
  std::vector<bool> sized(names.size(), false);
  if (!names.empty() && fs_->Exists(index_path)) {
    std::string index;
    if (fs_->ReadFile(index_path, &index, nullptr)) {
      sized = SizeFlagsFromIndex(index, names);
    } else {
      // The messages are still copied, under their plain names.
      unreadable_index_ = index_path;
    }
  }

  int count = 0;
  size_t n = 0;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory) continue;
    const std::string plain = target_folder + "\\" + entry.name;
    // The size is the low 32 bits of the listed size, as a signed number.
    const std::string sized_name = plain + ",S=" +
                                   std::to_string(static_cast<int32_t>(
                                       static_cast<uint32_t>(entry.size))) +
                                   ".0.S";
    const std::string& target = sized[n++] ? sized_name : plain;
    std::string error;
    CopyResult result;
    if (options_.sync && !resume_ &&
        (fs_->Exists(plain) || fs_->Exists(sized_name))) {
      result = CopyResult::kTargetExists;
    } else {
      result = CopyMessage(entry.path, target, &error);
    }
    if (result == CopyResult::kFailed) {
      failed_paths_.push_back(error.empty() ? entry.path
                                            : entry.path + " (" + error + ")");
      ++folder_.failed;
    } else if (result == CopyResult::kCopied) {
      ++folder_.copied;
      folder_.copied_bytes += entry.size;
    } else {
      ++folder_.present;
    }
    ++folder_.messages;
    folder_.bytes += entry.size;
    observer_->OnMessage(entry.size, result == CopyResult::kCopied);
    // A sync counts what it copied; a message the mailbox holds already is
    // not migrated again.
    if (options_.sync && result == CopyResult::kTargetExists) continue;
    ++stats_->mail_count;
    ++count;
  }
  return count;
}

CopyResult MailboxMigrator::CopyMessage(const std::string& from,
                                        const std::string& to,
                                        std::string* error) {
  CopyResult result = fs_->CopyNew(from, to, error);
  if (result != CopyResult::kTargetExists || !resume_) return result;
  // An interrupted copy leaves a file shorter than its source under the
  // target name; a message that arrived there by other means is kept.
  std::string source, copy;
  if (!fs_->ReadFile(from, &source, error)) return CopyResult::kFailed;
  if (!fs_->ReadFile(to, &copy, nullptr) || copy == source ||
      copy.size() >= source.size() ||
      source.compare(0, copy.size(), copy) != 0) {
    return result;
  }
  if (!fs_->RemoveFile(to)) {
    if (error != nullptr) *error = "cannot replace the partial copy " + to;
    return CopyResult::kFailed;
  }
  return fs_->CopyNew(from, to, error);
}

void MailboxMigrator::FinishFolder(const std::string& done_line) {
  host_->RemoveLastLine();
  host_->AppendLogLine(done_line);
  observer_->OnFolder(folder_);
  for (const std::string& path : failed_paths_) {
    ++stats_->failed_copies;
    LogFailure(texts_.folder_indent + texts_.copy_failed + path);
  }
  failed_paths_.clear();
  if (!unreadable_index_.empty()) {
    host_->AppendLogLine(texts_.folder_indent + texts_.index_unreadable +
                         unreadable_index_);
    unreadable_index_.clear();
  }
  host_->SelectLastLine();
}

void MailboxMigrator::LogFailure(const std::string& line) {
  host_->AppendLogLine(line);
  host_->SelectLastLine();
  ++failure_lines_;
}

}  // namespace vm
