// Feeds arbitrary index files, Folders.ini lists and listed message names to
// the mailbox step.
//
// The size flags of one pass over an index must equal the flags of a plain
// search (first line holding the name). The mailbox step, run on an
// in-memory source whose names and lists come from the input, must never
// create, write or copy anything outside the account's target mailbox, and
// must copy every message of every folder it accepted.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "migrate/index_lookup.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/safe_name.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/wildcard.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"

namespace vm {
namespace {

const Texts& GbkTexts() {
  static const Texts* texts = [] {
    std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
    FUZZ_CHECK(gbk != nullptr);
    return new Texts(MakeTexts(*gbk));
  }();
  return *texts;
}

std::vector<bool> PlainSizeFlags(const std::string& index,
                                 const std::vector<std::string>& names) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < index.size()) {
    size_t end = index.find('\n', start);
    if (end == std::string::npos) end = index.size();
    std::string line = index.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  std::vector<bool> flags;
  for (const std::string& name : names) {
    bool flag = false;
    for (const std::string& line : lines) {
      if (line.find(name) != std::string::npos) {
        flag = SizeFlagOfIndexLine(line);
        break;
      }
    }
    flags.push_back(flag);
  }
  return flags;
}

// Passes everything to an in-memory file system and aborts on any change
// made outside `root`, or through a path with an empty, "." or ".."
// component below it.
class GuardedFileSystem : public FileSystemWrapper {
 public:
  GuardedFileSystem(MemFileSystem* base, std::string root)
      : FileSystemWrapper(base), root_(std::move(root)) {}

  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override {
    Check(path);
    return FileSystemWrapper::WriteFile(path, contents, error);
  }
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    Check(path);
    return FileSystemWrapper::ReplaceContents(path, contents, error);
  }
  DirMade MakeDir(const std::string& path, std::string* error) override {
    if (root_.compare(0, path.size(), path) != 0) Check(path);
    return FileSystemWrapper::MakeDir(path, error);
  }
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    Check(to);
    CopyResult result = FileSystemWrapper::CopyNew(from, to, error);
    if (result == CopyResult::kCopied) ++copies;
    return result;
  }
  // The mailbox listing (which every folder takes its files from) also
  // holds `extra` as inbox files: names and kinds as a hostile tree's
  // directory listing could give them.
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    bool listed = FileSystemWrapper::List(pattern, entries);
    if (pattern == box_pattern) {
      for (DirEntry entry : extra) {
        entry.name += ".in";
        entry.path = pattern.substr(0, pattern.size() - 1) + entry.name;
        entries->push_back(std::move(entry));
      }
    }
    return listed;
  }
  bool RemoveFile(const std::string& path, std::string* error) override {
    Check(path);
    return FileSystemWrapper::RemoveFile(path, error);
  }

  std::atomic<int> copies{0};
  std::vector<DirEntry> extra;
  std::string box_pattern;  // the listing of the whole source mailbox

 private:
  void Check(const std::string& path) const {
    if (std::getenv("FUZZ_VERBOSE") != nullptr) {
      std::fprintf(stderr, "change at %s\n", path.c_str());
    }
    FUZZ_CHECK(path.size() > root_.size() + 1);
    FUZZ_CHECK(path.compare(0, root_.size(), root_) == 0);
    FUZZ_CHECK(path[root_.size()] == '\\');
    // Components split at backslashes that are not the second byte of a
    // GBK character.
    std::string rest = path.substr(root_.size() + 1) + "\\";
    std::string part;
    for (size_t i = 0; i < rest.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(rest[i]);
      if (c >= 0x81 && c <= 0xfe && i + 1 < rest.size()) {
        part += rest.substr(i++, 2);
        continue;
      }
      if (c != '\\') {
        FUZZ_CHECK(c != '/' && c != ':');
        part += rest[i];
        continue;
      }
      FUZZ_CHECK(!part.empty() && part != "." && part != "..");
      part.clear();
    }
  }

  std::string root_;
};

}  // namespace
}  // namespace vm

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vm;
  FuzzedDataProvider in(data, size);

  // Part one: the index reader on its own, with names as a directory
  // listing gives them: unique and not empty.
  std::vector<std::string> names;
  const int name_count = in.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < name_count; ++i) {
    std::string name = in.ConsumeRandomLengthString(16);
    if (!name.empty() &&
        std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  }
  std::string index = in.ConsumeRandomLengthString(4096);
  FUZZ_CHECK(SizeFlagsFromIndex(index, names) == PlainSizeFlags(index, names));

  // Part two: one mailbox with a fuzzed user name, Folders.ini and index.
  const std::string user = in.ConsumeRandomLengthString(24);
  const std::string folders_ini = in.ConsumeRandomLengthString(512);
  const bool folders_is_dir = in.ConsumeBool();
  MemFileSystem mem;
  const std::string box = "C:\\src\\mail\\" + user;
  mem.CreateDir("C:\\src", nullptr);
  mem.CreateDir("C:\\src\\mail", nullptr);
  mem.CreateDir("C:\\out", nullptr);
  mem.CreateDir("C:\\out\\store", nullptr);
  const bool box_made =
      IsSafeDirectoryName(user, NameOps()) && mem.CreateDir(box, nullptr);
  int messages = 0;
  if (box_made) {
    if (folders_is_dir) {
      mem.CreateDir(box + "\\Folders.ini", nullptr);
    } else {
      mem.WriteFile(box + "\\Folders.ini", folders_ini, nullptr);
    }
    mem.WriteFile(box + "\\__r_in.ini", index, nullptr);
    mem.WriteFile(box + "\\__r_0.ini", index, nullptr);
    for (const char* ext : {".in", ".0", ".1"}) {
      const std::string name = "1" + std::string(ext);
      if (mem.WriteFile(box + "\\" + name, "message " + name, nullptr)) {
        ++messages;
      }
    }
  }

  GuardedFileSystem fs(&mem, "C:\\out\\store");
  fs.box_pattern = box + "\\*";
  const int extra_count = in.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < extra_count; ++i) {
    DirEntry entry;
    entry.name = in.ConsumeRandomLengthString(16);
    entry.is_special = in.ConsumeBool();
    entry.unconvertible_name = in.ConsumeBool();
    fs.extra.push_back(std::move(entry));
  }
  RecordingHost host;
  MigrationStats stats;
  MailboxMigrator::Options options;
  options.source_dir = "C:\\src";
  options.target_mail_dir = "C:\\out\\store";
  options.jobs = in.ConsumeIntegralInRange<int>(1, 4);
  MailboxMigrator migrator(&fs, &host, GbkTexts(), options, &stats);
  SourceAccount account{user, "example.com", ""};
  const bool migrated = migrator.MigrateMailbox(account, "example.com");
  if (!migrated) {
    FUZZ_CHECK(fs.copies == 0);
    FUZZ_CHECK(migrator.failure_lines() == 1);
    return 0;
  }
  // The in-memory file system splits paths at every backslash byte, also
  // the second byte of a GBK character, so some copies can fail here; each
  // must be reported.
  FUZZ_CHECK(migrator.failure_lines() >= stats.failed_copies);
  FUZZ_CHECK(host.lines.size() >= static_cast<size_t>(stats.failed_copies));
  // The inbox message is always copied; a user-made folder's only when a
  // line of Folders.ini named a folder the step accepted.
  if (box_made) FUZZ_CHECK(fs.copies >= 1);
  FUZZ_CHECK(fs.copies <= messages);
  // Every refused listed entry is a failure line; a hostile name never
  // reaches a path (GuardedFileSystem checks every change).
  int refused = 0;
  for (const DirEntry& entry : fs.extra) {
    // A name whose last byte before ".in" leads a double-byte character
    // does not end in ".in": it is no inbox file.
    const std::string name = entry.name + ".in";
    if (!WildcardMatch("*.in", name, NameOps())) continue;
    if (entry.is_special || entry.unconvertible_name ||
        !IsSafeDirectoryName(name, NameOps())) {
      ++refused;
    }
  }
  FUZZ_CHECK(stats.failed_copies >= refused);
  return 0;
}
