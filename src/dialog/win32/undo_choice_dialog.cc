#include "dialog/win32/undo_choice_dialog.h"

#include <commdlg.h>

#include "dialog/win32/about_dialog.h"
#include "dialog/win32/resource.h"
#include "dialog/win32/window_text.h"
#include "migrate/texts.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

struct Choice {
  unsigned int code_page;
  const Texts* texts;
  const std::vector<RecordedRun>* runs;
  std::string folder;  // where the file picker opens
  std::string chosen;  // the answer
};

// The file picker for a manifest elsewhere; true with *path when the user
// chose a file the code page can name.
bool PickManifest(HWND owner, const Choice& choice, std::string* path) {
  wchar_t file[MAX_PATH * 4] = {};
  const std::wstring folder = WideOf(choice.code_page, choice.folder);
  OPENFILENAMEW open = {};
  open.lStructSize = sizeof(open);
  open.hwndOwner = owner;
  open.lpstrFilter = L"*.manifest\0*.manifest\0*.*\0*.*\0";
  open.lpstrFile = file;
  open.nMaxFile = sizeof(file) / sizeof(file[0]);
  open.lpstrInitialDir = folder.c_str();
  open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
               OFN_NOCHANGEDIR;
  return GetOpenFileNameW(&open) && FromWide(choice.code_page, file, path);
}

void FillList(HWND window, const Choice& choice) {
  HWND list = GetDlgItem(window, IDC_UNDO_RUNS);
  for (const RecordedRun& run : *choice.runs) {
    const std::wstring line =
        WideOf(choice.code_page, RecordedRunLine(*choice.texts, run));
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  // The newest run is the one most often undone.
  SendMessageW(list, LB_SETCURSEL, 0, 0);
  EnableWindow(GetDlgItem(window, IDOK), !choice.runs->empty());
  // A line longer than the list scrolls sideways.
  SendMessageW(list, LB_SETHORIZONTALEXTENT, 2000, 0);
}

// OK (or a double click): the selected run; the file picker: its file.
bool OnChoiceCommand(HWND window, Choice* choice, int id, int code) {
  const LRESULT at =
      SendDlgItemMessageW(window, IDC_UNDO_RUNS, LB_GETCURSEL, 0, 0);
  const bool picked =
      at != LB_ERR && static_cast<size_t>(at) < choice->runs->size();
  if (id == IDOK || (id == IDC_UNDO_RUNS && code == LBN_DBLCLK)) {
    if (!picked) return false;
    choice->chosen = (*choice->runs)[static_cast<size_t>(at)].path;
  } else if (id == IDC_UNDO_BROWSE) {
    if (!PickManifest(window, *choice, &choice->chosen)) return false;
  } else if (id != IDCANCEL) {
    return false;
  }
  EndDialog(window, id == IDCANCEL ? IDCANCEL : IDOK);
  return true;
}

INT_PTR CALLBACK ChoiceProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    FillList(window, *reinterpret_cast<Choice*>(lparam));
    CenterDialog(window);
    return TRUE;
  }
  auto* choice =
      reinterpret_cast<Choice*>(GetWindowLongPtrW(window, DWLP_USER));
  if (message == WM_COMMAND && choice != nullptr) {
    return OnChoiceCommand(window, choice, LOWORD(wparam), HIWORD(wparam));
  }
  return FALSE;
}

}  // namespace

std::string RecordedRunLine(const Texts& texts, const RecordedRun& run) {
  if (!run.readable) return texts.undo_choice_unreadable + "  " + run.path;
  return run.header.started + "  " + texts.undo_choice_domains +
         std::to_string(run.domains) + "  " + texts.undo_choice_accounts +
         std::to_string(run.accounts) + "  " + texts.undo_choice_folders +
         std::to_string(run.folders) + "  " + texts.undo_choice_files +
         std::to_string(run.files) + "  " + run.path;
}

std::string ChooseRunToUndo(HINSTANCE instance, HWND owner,
                            unsigned int code_page, const Texts& texts,
                            const std::vector<RecordedRun>& runs,
                            const std::string& folder) {
  Choice choice{code_page, &texts, &runs, folder, {}};
  if (DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UNDO_CHOICE), owner,
                      ChoiceProc, reinterpret_cast<LPARAM>(&choice)) != IDOK) {
    return std::string();
  }
  return choice.chosen;
}

}  // namespace vm
