// VelquorMigrate.exe: the dialog program administrators run on the source
// machine.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <memory>

#include "dialog/win32/folder_picker.h"
#include "dialog/win32/message_box.h"
#include "dialog/win32/migration_app.h"
#include "dialog/win32/migration_dialog.h"
#include "config/shared_config_states.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace vm {
namespace {

class WindowsShell : public StartUpShell {
 public:
  WindowsShell(HINSTANCE instance, const Texts& texts, FileSystem* fs,
               SharedConfigStates* config_states)
      : instance_(instance),
        texts_(texts),
        fs_(fs),
        config_states_(config_states) {}

  void ShowMessage(const std::string& text) override {
    ShowMessageBox(nullptr, text, KindOfMessage(texts_, text));
  }

  bool PickFolder(std::string* folder, const std::string& initial) override {
    return vm::PickFolder(folder, initial, texts_.pick_output_folder);
  }

  void RunMainDialog(const AppState& state) override {
    MigrationDialog dialog(instance_, state, texts_, fs_, config_states_);
    dialog.RunModal();
  }

 private:
  HINSTANCE instance_;
  const Texts& texts_;
  FileSystem* fs_;
  SharedConfigStates* config_states_;
};

int Main(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES |
                                                         ICC_PROGRESS_CLASS |
                                                         ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  // Every text of the program in the system's ANSI code page.
  std::unique_ptr<CodePage> code_page = OpenCodePage("");
  if (code_page == nullptr) return 1;
  Texts texts = MakeTexts(*code_page);
  std::unique_ptr<FileSystem> fs = NewDiskFileSystem();
  std::unique_ptr<Registry> registry = OpenSystemRegistry();
  // The configuration files' shared state, one for the program's runs.
  SharedConfigStates config_states;
  WindowsShell shell(instance, texts, fs.get(), &config_states);
  MigrationApp app(registry.get(), fs.get(), *code_page, texts, &shell);
  app.StartUp();
  return 0;
}

}  // namespace
}  // namespace vm

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return vm::Main(instance);
}
