#include "dialog/win32/message_box.h"

#include "migrate/texts.h"

namespace vm {

namespace {

constexpr char kMessageCaption[] = "VelquorMigrate";

}  // namespace

MessageKind KindOfMessage(const Texts& texts, const std::string& text) {
  if (text == texts.success_installed || text == texts.success_temporary ||
      text == texts.verify_passed) {
    return MessageKind::kInformation;
  }
  if (text == texts.target_not_found || text == texts.bad_password_text) {
    return MessageKind::kWarning;
  }
  return MessageKind::kError;
}

void ShowMessageBox(HWND owner, const std::string& text, MessageKind kind) {
  UINT icon = kind == MessageKind::kInformation ? MB_ICONINFORMATION
              : kind == MessageKind::kWarning   ? MB_ICONWARNING
                                                : MB_ICONERROR;
  MessageBoxA(owner, text.c_str(), kMessageCaption, MB_OK | icon);
}

bool AskYesNo(HWND owner, const std::string& text) {
  return MessageBoxA(owner, text.c_str(), kMessageCaption,
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

}  // namespace vm
