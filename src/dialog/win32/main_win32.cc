// VelquorMigrate.exe: the dialog program administrators run on the source
// machine.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <memory>

#include "config/shared_config_states.h"
#include "dialog/win32/folder_picker.h"
#include "dialog/win32/message_box.h"
#include "dialog/win32/migration_app.h"
#include "dialog/win32/migration_dialog.h"
#include "dialog/win32/window_text.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/code_page_win32.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace vm {
namespace {

class WindowsShell : public StartUpShell {
 public:
  WindowsShell(HINSTANCE instance, unsigned int code_page, const Texts& texts,
               FileSystem* fs, SharedConfigStates* config_states)
      : instance_(instance),
        code_page_(code_page),
        texts_(texts),
        fs_(fs),
        config_states_(config_states) {}

  void ShowMessage(const std::string& text) override {
    ShowMessageBox(nullptr, WideOf(code_page_, text),
                   KindOfMessage(texts_, text));
  }

  bool PickFolder(std::string* folder, const std::string& initial) override {
    return vm::PickFolder(code_page_, folder, initial,
                          texts_.pick_output_folder);
  }

  void RunMainDialog(const AppState& state) override {
    MigrationDialog dialog(instance_, state, texts_, fs_, config_states_);
    dialog.RunModal();
  }

 private:
  HINSTANCE instance_;
  unsigned int code_page_;
  const Texts& texts_;
  FileSystem* fs_;
  SharedConfigStates* config_states_;
};

int Main(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES |
                                                         ICC_PROGRESS_CLASS |
                                                         ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  // Every text and path of the program in the run's code page, whatever
  // the system's ANSI code page is.
  std::unique_ptr<CodePage> code_page = OpenCodePage(kDialogCodePage);
  if (code_page == nullptr) return 1;
  Texts texts = MakeTexts(*code_page);
  std::unique_ptr<FileSystem> fs = NewDiskFileSystem(kDialogCodePage);
  std::unique_ptr<Registry> registry = OpenSystemRegistry(kDialogCodePage);
  // The configuration files' shared state, one for the program's runs.
  SharedConfigStates config_states;
  WindowsShell shell(instance, CodePageId(kDialogCodePage), texts, fs.get(),
                     &config_states);
  MigrationApp app(registry.get(), fs.get(), *code_page, texts, &shell);
  app.StartUp();
  return 0;
}

}  // namespace
}  // namespace vm

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return vm::Main(instance);
}
