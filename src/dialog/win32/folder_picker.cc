#include "dialog/win32/folder_picker.h"

#include <windows.h>
// After <windows.h>, which they need.
#include <shobjidl.h>

#include "platform/wide_text_win32.h"

namespace vm {
namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* operator->() const { return pointer_; }
  T** out() { return &pointer_; }
  T* get() const { return pointer_; }

 private:
  T* pointer_ = nullptr;
};

// Opens the dialog at `initial` when the shell knows that folder.
void SetStartFolder(UINT code_page, IFileOpenDialog* dialog,
                    const std::string& initial) {
  std::wstring wide;
  if (initial.empty() || !ToWide(code_page, initial, &wide)) return;
  ComPtr<IShellItem> folder;
  if (SUCCEEDED(SHCreateItemFromParsingName(wide.c_str(), nullptr,
                                            IID_PPV_ARGS(folder.out())))) {
    dialog->SetFolder(folder.get());
  }
}

// Shows the dialog; true with the chosen folder's path in the code page.
bool Show(UINT code_page, const std::string& initial, const std::string& title,
          std::string* result) {
  ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr,
                              CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(dialog.out())))) {
    return false;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM |
                     FOS_PATHMUSTEXIST);
  std::wstring wide_title;
  if (ToWide(code_page, title, &wide_title) && !wide_title.empty()) {
    dialog->SetTitle(wide_title.c_str());
  }
  SetStartFolder(code_page, dialog.get(), initial);
  ComPtr<IShellItem> item;
  if (FAILED(dialog->Show(nullptr)) || FAILED(dialog->GetResult(item.out()))) {
    return false;
  }
  wchar_t* path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) return false;
  std::string ansi;
  // A folder the program's code page cannot name is no choice.
  const bool chosen = ToAnsiPath(code_page, path, &ansi);
  CoTaskMemFree(path);
  if (chosen) *result = WithTrailingBackslash(ansi);
  return chosen;
}

}  // namespace

bool ToAnsiPath(unsigned int code_page, const wchar_t* wide,
                std::string* ansi) {
  std::string text;
  if (wide == nullptr || *wide == L'\0' || !FromWide(code_page, wide, &text)) {
    return false;
  }
  *ansi = std::move(text);
  return true;
}

std::string InitialFolder(unsigned int code_page, const std::string& initial) {
  // The program's own path names its folder: what lies before the last
  // backslash. Paths come from the system in its code page, whose trail
  // bytes may be 0x5C: the folder is found on the wide form.
  std::wstring wide;
  if (!ToWide(code_page, initial, &wide)) return initial;
  size_t slash = wide.find_last_of(L'\\');
  if (slash == std::wstring::npos) return initial;
  // "C:\x.exe" opens at "C:\"; "D:\Temp\" at "D:\Temp".
  std::wstring folder = wide.substr(0, slash);
  if (folder.size() == 2 && folder[1] == L':') folder.push_back(L'\\');
  std::string text;
  FromWide(code_page, folder, &text);
  return text;
}

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + "\\";
}

bool PickFolder(unsigned int code_page, std::string* result,
                const std::string& initial, const std::string& title) {
  if (result == nullptr) return false;
  // The dialog needs COM in an apartment; the call is harmless when the
  // thread already has one.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool chosen =
      Show(code_page, InitialFolder(code_page, initial), title, result);
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace vm
