#ifndef VM_APP_WIN32_MIGRATION_APP_H_
#define VM_APP_WIN32_MIGRATION_APP_H_

#include <string>

#include "session/startup.h"

namespace vm {

class CodePage;
class FileSystem;
class Registry;
struct Texts;

// The registry keys start-up reads, under HKEY_LOCAL_MACHINE. The source's
// service is looked for in the control set the system runs on, then in the
// first one (a system whose CurrentControlSet is no link to it keeps the
// service there).
inline constexpr char kSourceServiceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\Velquor Server\\";
inline constexpr char kSourceServiceFallbackKey[] =
    "SYSTEM\\ControlSet001\\Services\\Velquor Server\\";
inline constexpr char kSourceImageValue[] = "ImagePath";
inline constexpr char kTargetServerKey[] =
    "Software\\Solvane Tarnwick\\Server\\";
inline constexpr char kTargetProgValue[] = "ProgPath";

// The code page of the dialog program's byte strings and runs: the
// source's files are GBK whatever language the system speaks, and every
// window text is converted from it (an English Windows shows them too).
inline constexpr char kDialogCodePage[] = "GBK";

// What start-up needs from the windowing side: message boxes, the folder
// picker and the main dialog. The program uses the real windows; tests use
// a recorder.
class StartUpShell {
 public:
  virtual ~StartUpShell() = default;
  // A modal message box with an OK button only.
  virtual void ShowMessage(const std::string& text) = 0;
  // The folder browser; true with *folder ending in a backslash when the
  // user confirmed a folder.
  virtual bool PickFolder(std::string* folder, const std::string& initial) = 0;
  // Shows the main dialog modally; returns when it has been closed.
  virtual void RunMainDialog(const AppState& state) = 0;
};

// The application object: detects both installations, prepares the target
// files and runs the main dialog. Lives for the whole process.
class MigrationApp {
 public:
  MigrationApp(Registry* registry, FileSystem* fs, const CodePage& code_page,
               const Texts& texts, StartUpShell* shell);
  MigrationApp(const MigrationApp&) = delete;
  MigrationApp& operator=(const MigrationApp&) = delete;

  // Runs start-up and, when it succeeds, the main dialog. Always returns
  // false: the process ends when it returns.
  bool StartUp();

  const AppState& state() const { return state_; }

 private:
  // Fills target_dir either from the registry or from the folder picker.
  // False when the user chose no folder (the message has been shown).
  bool FindTarget();
  // Reads the source's image path; false when neither service key exists.
  bool ReadImagePath(std::string* image_path);

  Registry* registry_;
  FileSystem* fs_;
  const CodePage& code_page_;
  const Texts& texts_;
  StartUpShell* shell_;
  AppState state_;
};

}  // namespace vm

#endif  // VM_APP_WIN32_MIGRATION_APP_H_
