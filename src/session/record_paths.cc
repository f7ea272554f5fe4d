#include "session/record_paths.h"

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "session/startup.h"
#include "util/name_ops.h"

namespace vm {
namespace {

// Whether `path` is itself a symbolic link (or reparse point): listed by
// its own name, it shows as a special entry. Wildcards in a record's name
// are never a pattern here.
bool IsLink(FileSystem* fs, const std::string& path) {
  if (path.find_first_of("*?") != std::string::npos) return false;
  std::vector<DirEntry> entries;
  if (!fs->List(path, &entries)) return false;
  for (const DirEntry& entry : entries) {
    if (entry.is_special) return true;
  }
  return false;
}

}  // namespace

std::string ShownRecordPath(const FileSystem& fs, const CodePage& code_page,
                            const std::string& path) {
  return code_page.ToUtf8(fs.DisplayPath(fs.AbsolutePath(path)));
}

RecordFolderFiles WriteRecordFolder(FileSystem* disk, const NameOps& names,
                                    const AppState& state,
                                    const std::vector<std::string>& dirs,
                                    const std::string& base,
                                    const RecordLog& log,
                                    const RecordReport& report) {
  RecordFolderFiles files;
  auto failed = [&files](const std::string& path, const std::string& error) {
    files.error = path + (error.empty() ? "" : ": " + error);
  };
  for (const std::string& dir : dirs) {
    // Records never go into either installation.
    if (!MayHoldRecords(disk, dir, state)) continue;
    // Each missing folder of the path, from the top (after the drive).
    for (size_t at = names.Find(dir, '\\'); at != std::string::npos;
         at = names.Find(dir, '\\', at + 1)) {
      if (at > 0 && dir[at - 1] != ':') {
        disk->CreateDir(dir.substr(0, at), nullptr);
      }
    }
    disk->CreateDir(dir, nullptr);
    std::string path = dir + "\\" + base;
    for (int n = 2;
         disk->Exists(path + ".log") || disk->Exists(path + ".json") ||
         disk->Exists(path + ".html");
         ++n) {
      path = dir + "\\" + base + "-" + std::to_string(n);
    }
    std::string error;
    if (!disk->WriteFile(path + ".log", "\xEF\xBB\xBF" + log(path + ".json"),
                         &error)) {
      failed(path + ".log", error);
      continue;
    }
    files.error.clear();
    files.log = path + ".log";
    // The JSON for scripts, and the page for people beside it.
    for (const auto& [format, ext] :
         {std::pair{ReportFormat::kJson, ".json"},
          std::pair{ReportFormat::kHtml, ".html"}}) {
      if (!report(path + ext, format, &error)) {
        failed(path + ext, error);
        break;
      }
      (format == ReportFormat::kJson ? files.json : files.html) = path + ext;
    }
    return files;
  }
  return files;
}

std::string RecordFilesProblem(FileSystem* fs, const CodePage& code_page,
                               const AppState& state,
                               const std::vector<NamedRecordFile>& files,
                               const std::string& protected_file) {
  FileLocation protected_at;
  if (!protected_file.empty()) fs->Locate(protected_file, &protected_at);
  std::vector<FileLocation> seen;
  for (const auto& [option, path] : files) {
    if (path.empty()) continue;
    const std::string ansi = code_page.ToAnsi(path);
    const std::string named = option + " " + path;
    if (IsInstallationPath(fs, state, ansi)) {
      return named + " is a file of the source or target installation";
    }
    if (IsLink(fs, ansi)) {
      return named + " is a symbolic link; name the file itself";
    }
    FileLocation where;
    fs->Locate(ansi, &where);
    if (protected_at.exists && where.Is(protected_at.chain.front())) {
      return named + " is the manifest the undo reads";
    }
    for (const FileLocation& other : seen) {
      if (other.exists && where.Is(other.chain.front())) {
        return "--log and --report name the same file";
      }
    }
    seen.push_back(where);
  }
  if (files.size() == 2 && !files[0].second.empty() &&
      files[0].second == files[1].second) {
    return "--log and --report name the same file";
  }
  return "";
}

}  // namespace vm
