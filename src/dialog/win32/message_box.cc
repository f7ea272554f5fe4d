#include "dialog/win32/message_box.h"

#include <utility>

#include "migrate/texts.h"

namespace vm {

namespace {

constexpr wchar_t kMessageCaption[] = L"VelquorMigrate";

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

void ShowMessageBox(HWND owner, const std::wstring& text, MessageKind kind) {
  UINT icon = kind == MessageKind::kInformation ? MB_ICONINFORMATION
              : kind == MessageKind::kWarning   ? MB_ICONWARNING
                                                : MB_ICONERROR;
  MessageBoxW(owner, text.c_str(), kMessageCaption, MB_OK | icon);
}

bool AskYesNo(HWND owner, const std::wstring& text) {
  return MessageBoxW(owner, text.c_str(), kMessageCaption,
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void MessageBoxQueue::Show(std::wstring text, MessageKind kind,
                           std::function<void()> after,
                           std::function<void()> yes) {
  pending_.push_back({std::move(text), kind, std::move(after), std::move(yes)});
  if (showing_) return;  // the open box's caller shows it next
  showing_ = true;
  while (!pending_.empty()) {
    Box box = std::move(pending_.front());
    pending_.pop_front();
    if (!box.text.empty() && box.yes) {
      const UINT icon = box.kind == MessageKind::kInformation
                            ? MB_ICONINFORMATION
                            : MB_ICONWARNING;
      if (MessageBoxW(owner_, box.text.c_str(), kMessageCaption,
                      MB_YESNO | MB_DEFBUTTON2 | icon) == IDYES) {
        box.yes();
      }
    } else if (!box.text.empty()) {
      ShowMessageBox(owner_, box.text, box.kind);
    }
    if (box.after) box.after();
  }
  showing_ = false;
}

}  // namespace vm
