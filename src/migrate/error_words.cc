#include "migrate/texts.h"

#include "config/config_file.h"
#include "platform/code_page.h"
#include "platform/file_error.h"

// How a failed file operation or save is put in the result list's words.

namespace vm {
namespace {

std::string KindWords(const Texts& texts, const FileError& e) {
  const std::string& words = texts.why_kind[static_cast<int>(e.kind)];
  return e.kind == FileErrorKind::kOther && e.code != 0
             ? words + " " + std::to_string(e.code)
             : words;
}

}  // namespace

std::string FileErrorWords(const Texts& texts, const std::string& error) {
  return KindWords(texts, ParseFileError(error));
}

std::string FileErrorMessage(const Texts& texts, const std::string& error,
                             const CodePage* utf8) {
  const size_t kind_end = error.find("] ");
  const std::string words =
      error.compare(0, 1, "[") == 0 && kind_end != std::string::npos
          ? error.substr(kind_end + 2)
          : error;
  return FileErrorWords(texts, error) + ": " +
         (utf8 != nullptr ? utf8->ToAnsi(words) : words);
}

std::string SaveErrorWords(const Texts& texts, const SaveError& error) {
  switch (error.failure) {
    case SaveFailure::kNone:
      break;
    case SaveFailure::kNothingLoaded:
      return texts.why_config_not_loaded;
    case SaveFailure::kLockTimeout:
      return texts.why_lock_timeout;
    case SaveFailure::kUnmergeable:
      return texts.why_config_unmergeable;
    case SaveFailure::kUnreadable:
      return texts.why_config_unreadable + KindWords(texts, error.file);
    case SaveFailure::kWrite:
      return KindWords(texts, error.file);
    case SaveFailure::kRecord:
      return texts.why_record_unwritten + KindWords(texts, error.file);
  }
  return "";
}

}  // namespace vm
