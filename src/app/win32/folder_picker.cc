#include "app/win32/folder_picker.h"

#include <windows.h>
// After <windows.h>, which they need.
#include <shlobj.h>

#include <memory>

#include "platform/code_page.h"

namespace vm {
namespace {

// UTF-8 here; shown in the system's ANSI code page.
constexpr char kTitleUtf8[] = "请选择临时保存文件夹！";
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  }
  return 0;
}

}  // namespace

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

  BROWSEINFOA info = {};
  info.hwndOwner = nullptr;
  info.pidlRoot = root;
  std::unique_ptr<CodePage> ansi = OpenCodePage("");
  std::string title = ansi != nullptr ? ansi->ToAnsi(kTitleUtf8) : "";
  info.lpszTitle = title.c_str();
  info.ulFlags = kBrowseFlags;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial.c_str());

  bool chosen = false;
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  if (item != nullptr) {
    chosen = true;
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(item, path)) *result = WithTrailingBackslash(path);
    CoTaskMemFree(item);
  }
  if (root != nullptr) CoTaskMemFree(root);
  shell_malloc->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace vm
