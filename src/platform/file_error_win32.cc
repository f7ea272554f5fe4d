#include "platform/file_error_win32.h"

#include "platform/file_error.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

FileErrorKind KindOfCode(DWORD code) {
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileErrorKind::kNoSpace;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileErrorKind::kPermission;
    case ERROR_WRITE_PROTECT:
      return FileErrorKind::kReadOnly;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileErrorKind::kNotFound;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return FileErrorKind::kNameTooLong;
    case ERROR_FILE_TOO_LARGE:
      return FileErrorKind::kTooLarge;
    case ERROR_CANT_ACCESS_FILE:
      return FileErrorKind::kNotRegular;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileErrorKind::kTooManyOpen;
    case kLinkRefused:
      return FileErrorKind::kIsLink;
    default:
      return FileErrorKind::kOther;
  }
}

}  // namespace

void SetWin32Error(UINT code_page, std::string* error, DWORD code) {
  if (error == nullptr) return;
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  error->clear();
  if (length != 0 && text != nullptr) {
    FromWide(code_page, std::wstring(text, length), error);
  }
  if (text != nullptr) LocalFree(text);
  while (!error->empty() && (error->back() == '\n' || error->back() == '\r' ||
                             error->back() == ' ')) {
    error->pop_back();
  }
  if (error->empty()) *error = "error " + std::to_string(code);
  *error = FileErrorText({KindOfCode(code), static_cast<long>(code)}, *error);
}

}  // namespace vm
