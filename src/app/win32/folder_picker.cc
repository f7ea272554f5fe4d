#include "app/win32/folder_picker.h"

#include <windows.h>
// After <windows.h>, which they need.
#include <shlobj.h>

#include <memory>

#include "platform/code_page.h"
#include "platform/utf16_win32.h"

namespace vm {
namespace {

constexpr char kTitleUtf8[] = "请选择临时保存文件夹！";
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

}  // namespace

bool ToAnsiPath(const wchar_t* wide, std::string* ansi) {
  std::unique_ptr<CodePage> code_page = OpenCodePage("");
  const std::string utf8 = ToUtf8(wide);
  if (code_page == nullptr || utf8.empty()) return false;
  *ansi = code_page->ToAnsi(utf8);
  return code_page->ToUtf8(*ansi) == utf8;
}

std::string InitialSelection(const std::string& initial) {
  if (!initial.empty() && initial.back() == '\\') {
    return initial.substr(0, initial.size() - 1);
  }
  return initial;
}

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + "\\";
}

bool PickFolder(std::string* result, std::string initial) {
  if (result == nullptr) return false;
  IMalloc* shell_malloc = nullptr;
  if (FAILED(SHGetMalloc(&shell_malloc)) || shell_malloc == nullptr) {
    return false;
  }
  initial = InitialSelection(initial);
  // The new-style browser needs COM in an apartment; the call is harmless
  // when the thread already has one.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  LPITEMIDLIST root = nullptr;
  SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &root);

  BROWSEINFOW info = {};
  info.hwndOwner = nullptr;
  info.pidlRoot = root;
  std::wstring title = Utf8ToWide(kTitleUtf8);
  info.lpszTitle = title.c_str();
  info.ulFlags = kBrowseFlags;
  info.lpfn = BrowseCallback;
  bool converted = false;
  std::wstring wide_initial = ToWide(CP_ACP, initial, 0, &converted);
  info.lParam = reinterpret_cast<LPARAM>(wide_initial.c_str());

  bool chosen = false;
  LPITEMIDLIST item = SHBrowseForFolderW(&info);
  if (item != nullptr) {
    chosen = true;
    wchar_t path[MAX_PATH] = {};
    std::string ansi;
    if (SHGetPathFromIDListW(item, path)) {
      // A folder the program's code page cannot name is no choice.
      chosen = ToAnsiPath(path, &ansi);
      if (chosen) *result = WithTrailingBackslash(ansi);
    }
    CoTaskMemFree(item);
  }
  if (root != nullptr) CoTaskMemFree(root);
  shell_malloc->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace vm
