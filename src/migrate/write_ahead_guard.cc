#include "migrate/write_ahead_guard.h"

#include "config/target_context.h"
#include "migrate/run_manifest.h"
#include "platform/file_error.h"

namespace vm {

bool WriteAheadGuard::Refused(std::string* error) const {
  if (!manifest_->failed()) return false;
  if (error != nullptr) {
    *error = FileErrorText(
        {FileErrorKind::kNotRecorded, 0},
        "the run manifest could not be written ahead: " + manifest_->error());
  }
  return true;
}

bool WriteAheadGuard::ReadFileBy(const std::string& path,
                                 const PieceWriter& take, std::string* error) {
  return base()->ReadFileBy(path, take, error);
}

bool WriteAheadGuard::WriteFile(const std::string& path,
                                const std::string& contents,
                                std::string* error) {
  return !Refused(error) && base()->WriteFile(path, contents, error);
}

bool WriteAheadGuard::AppendFile(const std::string& path,
                                 const std::string& contents,
                                 std::string* error) {
  return !Refused(error) && base()->AppendFile(path, contents, error);
}

bool WriteAheadGuard::ReplaceContents(const std::string& path,
                                      const std::string& contents,
                                      std::string* error) {
  return !Refused(error) && base()->ReplaceContents(path, contents, error);
}

bool WriteAheadGuard::ReplaceContentsBy(const std::string& path,
                                        const ContentsProducer& produce,
                                        std::string* error) {
  return !Refused(error) && base()->ReplaceContentsBy(path, produce, error);
}

DirMade WriteAheadGuard::MakeDir(const std::string& path, std::string* error) {
  return Refused(error) ? DirMade::kFailed : base()->MakeDir(path, error);
}

CopyResult WriteAheadGuard::CopyNew(const std::string& from,
                                    const std::string& to, std::string* error) {
  return Refused(error) ? CopyResult::kFailed
                        : base()->CopyNew(from, to, error);
}

CopyResult WriteAheadGuard::CopyNewRecorded(const std::string& from,
                                            const std::string& to,
                                            std::string* error,
                                            CopiedFile* copied) {
  return Refused(error) ? CopyResult::kFailed
                        : base()->CopyNewRecorded(from, to, error, copied);
}

CopyResult WriteAheadGuard::CopyStaged(const std::string& from,
                                       const std::string& to,
                                       std::string* error, CopiedFile* copied) {
  return Refused(error) ? CopyResult::kFailed
                        : base()->CopyStaged(from, to, error, copied);
}

PublishResult WriteAheadGuard::PublishDir(const std::string& from,
                                          const std::string& to,
                                          std::string* error) {
  return Refused(error) ? PublishResult::kFailed
                        : base()->PublishDir(from, to, error);
}

PublishResult WriteAheadGuard::RenameNew(const std::string& from,
                                         const std::string& to,
                                         std::string* error) {
  return Refused(error) ? PublishResult::kFailed
                        : base()->RenameNew(from, to, error);
}

WriteAheadScope::WriteAheadScope(TargetContext* target,
                                 ManifestWriter* manifest)
    : target_(manifest != nullptr ? target : nullptr),
      unguarded_(target->fs),
      guard_(target->fs, manifest) {
  if (target_ != nullptr) target_->fs = &guard_;
}

WriteAheadScope::~WriteAheadScope() {
  if (target_ != nullptr) target_->fs = unguarded_;
}

}  // namespace vm
