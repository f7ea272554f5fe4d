#include "platform/file_system.h"

#include "platform/helpers/file_system_wrapper.h"
#include "util/md5.h"

namespace vm {

namespace {

class AppendingByPath : public AppendingFile {
 public:
  AppendingByPath(FileSystem* fs, std::string path)
      : fs_(fs), path_(std::move(path)) {}
  bool Append(const std::string& contents, std::string* error) override {
    return fs_->AppendFile(path_, contents, error);
  }

 private:
  FileSystem* fs_;
  std::string path_;
};

}  // namespace

std::unique_ptr<AppendingFile> FileSystem::OpenAppending(
    const std::string& path, std::string* error) {
  if (!Exists(path)) {
    if (error != nullptr) *error = "cannot open " + DisplayPath(path);
    return nullptr;
  }
  return std::make_unique<AppendingByPath>(this, path);
}

CopyResult FileSystem::CopyNewRecorded(const std::string& from,
                                       const std::string& to,
                                       std::string* error, CopiedFile* copied) {
  *copied = CopiedFile{};
  const CopyResult result = CopyNew(from, to, error);
  if (result != CopyResult::kCopied) return result;
  FileStamp stamp;
  if (StampOf(to, &stamp)) {
    copied->size = stamp.size;
    copied->stamp = stamp;
    return result;
  }
  // The file was just written, so this read is served from the cache.
  std::string bytes;
  if (ReadFile(to, &bytes, nullptr)) {
    copied->size = bytes.size();
    copied->md5 = Md5Hex(bytes);
  }
  return result;
}

void FileSystem::StatusesIn(const std::string& dir,
                            const std::vector<std::string>& names,
                            std::vector<std::optional<EntryStatus>>* statuses) {
  statuses->assign(names.size(), std::nullopt);
  for (size_t i = 0; i < names.size(); ++i) {
    EntryStatus status;
    if (StatusOf(dir + "\\" + names[i], &status)) (*statuses)[i] = status;
  }
}

CopyResult FileSystem::CopyStaged(const std::string& from,
                                  const std::string& to, std::string* error,
                                  CopiedFile* copied) {
  if (copied == nullptr) return CopyNew(from, to, error);
  return CopyNewRecorded(from, to, error, copied);
}

PublishResult FileSystem::PublishDir(const std::string& from,
                                     const std::string& to,
                                     std::string* error) {
  if (error != nullptr) {
    *error = "cannot rename " + DisplayPath(from) + " to " + DisplayPath(to);
  }
  return PublishResult::kFailed;
}

PublishResult FileSystem::RenameNew(const std::string& from,
                                    const std::string& to, std::string* error) {
  if (error != nullptr) {
    *error = "cannot rename " + DisplayPath(from) + " to " + DisplayPath(to);
  }
  return PublishResult::kFailed;
}

bool FileSystem::ReadFileBy(const std::string& path, const PieceWriter& take,
                            std::string* error) {
  std::string contents;
  if (!ReadFile(path, &contents, error)) return false;
  return contents.empty() || take(contents);
}

bool FileSystem::ReplaceContentsBy(const std::string& path,
                                   const ContentsProducer& produce,
                                   std::string* error) {
  std::string contents;
  if (!produce([&contents](std::string_view piece) {
        contents.append(piece);
        return true;
      })) {
    if (error != nullptr) *error = "cannot write " + DisplayPath(path);
    return false;
  }
  return ReplaceContents(path, contents, error);
}

std::unique_ptr<FileSystem> FileSystem::Confined(
    const std::vector<std::string>& /*roots*/, std::string* /*error*/) {
  return std::make_unique<FileSystemWrapper>(this);
}

}  // namespace vm
