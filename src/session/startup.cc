#include "session/startup.h"

#include "migrate/source_mailbox.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "util/ascii.h"
#include "xml/xml_document.h"
#include "xml/xml_text.h"

namespace vm {

namespace {

struct Skeleton {
  const char* name;
  const char* text;
};

constexpr Skeleton kSkeletons[] = {
    {"domain.cfg",
     "<database>\r\n<domain>\r\n</domain>\r\n<domainalias>\r\n</domainalias>"
     "\r\n</database>"},
    {"userauth.cfg",
     "<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n</useralias>\r\n"
     "</database>"},
    {"mailgroup.cfg", "<database>\r\n<group>\r\n</group>\r\n</database>"},
};

// The path of system.cfg: data\system.cfg when it exists, else system.cfg.
std::string SystemConfigPath(FileSystem* fs, const std::string& target_dir) {
  std::string path = target_dir + "\\data\\system.cfg";
  return fs->Exists(path) ? path : target_dir + "\\system.cfg";
}

std::string ReadSystemConfig(FileSystem* fs, const std::string& target_dir) {
  std::string text;
  fs->ReadFile(SystemConfigPath(fs, target_dir), &text, nullptr);
  return text;
}

// Where `path` leads; nothing (an empty chain) when it cannot be told.
FileLocation Where(FileSystem* fs, const std::string& path) {
  FileLocation where;
  if (path.empty() || !fs->Locate(path, &where)) where = FileLocation();
  return where;
}

// A readable file, else the message naming it.
bool CheckReadable(FileSystem* fs, const std::string& path,
                   const std::string& missing, const std::string& unreadable,
                   std::string* message) {
  // Read through, block by block: the run reads the list again, so the
  // check holds no copy of it.
  const auto read_on = [](std::string_view) { return true; };
  if (!fs->Exists(path)) {
    *message = missing;
  } else if (!fs->ReadFileBy(path, read_on, nullptr)) {
    *message = unreadable;
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::string TrimDirectory(const std::string& dir) {
  std::string_view trimmed = TrimAsciiSpace(dir);
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.remove_suffix(1);
  return std::string(trimmed);
}

std::string SettledTargetDir(FileSystem* fs, const std::string& dir) {
  const std::string_view given = TrimAsciiSpace(dir);
  if (given.empty()) return "";
  return TrimDirectory(fs->AbsolutePath(std::string(given)));
}

std::string DirectoryOfImagePath(const std::string& image_path,
                                 const CodePage& code_page) {
  std::string path(TrimAsciiSpace(image_path));
  if (!path.empty() && path[0] == '"') {
    size_t close = path.find('"', 1);
    path = path.substr(1, close == std::string::npos ? close : close - 1);
  } else {
    // Neither the quote, the blank nor ".exe" can be part of a double-byte
    // character, so plain byte searches find them.
    const std::string lower = AsciiLowered(path);
    for (size_t exe = lower.find(".exe"); exe != std::string::npos;
         exe = lower.find(".exe", exe + 1)) {
      size_t end = exe + 4;
      if (end == path.size() || IsAsciiSpace(path[end])) {
        path.resize(end);
        break;
      }
    }
  }
  // The last backslash that is a character of its own.
  size_t slash = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\') {
      slash = i;
    } else if (static_cast<unsigned char>(path[i]) >= 0x80 &&
               i + 1 < path.size() &&
               !code_page.IsValidAnsi(path.substr(i, 1)) &&
               code_page.IsValidAnsi(path.substr(i, 2))) {
      ++i;  // a lead byte: the next byte belongs to its character
    }
  }
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void CreateMissingTargetFiles(FileSystem* fs, const std::string& target_dir,
                              bool temporary_folder) {
  std::string dir = temporary_folder ? target_dir : target_dir + "\\data";
  for (const Skeleton& skeleton : kSkeletons) {
    std::string path = dir + "\\" + skeleton.name;
    // Written whole or not at all: a run killed here must not leave a
    // cut file that later runs would find present and never fill in.
    if (!fs->Exists(path)) fs->ReplaceContents(path, skeleton.text, nullptr);
  }
}

bool CheckTargetVersion(FileSystem* fs, const std::string& target_dir) {
  std::string text = ReadSystemConfig(fs, target_dir);
  if (text.empty()) return false;
  XmlDocument doc;
  doc.LoadText(std::move(text));
  doc.MoveTo(0, 0, 0);
  if (!doc.SeekElement("database")) return false;
  doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0);
  if (!doc.SeekChild("charset")) return false;
  return EqualsIgnoringAsciiCase(doc.ChildText(), "utf-8");
}

bool IsDirectory(FileSystem* fs, const std::string& dir) {
  std::vector<DirEntry> entries;
  return !dir.empty() && fs->List(dir + "\\*", &entries);
}

void FindTargetMailDir(FileSystem* fs, const CodePage& code_page,
                       AppState* state) {
  std::string store;
  std::string text = ReadSystemConfig(fs, state->target_dir);
  if (!text.empty()) {
    XmlDocument doc;
    doc.LoadText(std::move(text));
    doc.MoveTo(0, 0, 0);
    if (doc.SeekElement("database") && doc.EnterElement() &&
        doc.SeekElement("advanced") && doc.EnterElement() &&
        doc.SeekElement("directory") &&
        doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0) &&
        doc.SeekChild("mailstore")) {
      store = Utf8ToAnsi(doc.ChildText(), code_page);
    }
  }
  state->target_mail_dir =
      store.empty() ? state->target_dir + "\\store" : store;
}

void SettleDirectories(FileSystem* fs, const CodePage& code_page,
                       AppState* state) {
  state->source_dir = TrimDirectory(state->source_dir);
  state->target_dir = SettledTargetDir(fs, state->target_dir);
  state->source_mail_dir = TrimDirectory(SourceMailDir(state->source_dir));
  FindTargetMailDir(fs, code_page, state);
  state->target_mail_dir = TrimDirectory(state->target_mail_dir);
}

bool CheckInstallations(FileSystem* fs, const AppState& state,
                        const Texts& texts, std::string* message) {
  // The run shows these same texts when a list goes missing later.
  if (!CheckReadable(fs, state.source_dir + "\\domain.ini",
                     texts.domain_ini_missing, texts.domain_ini_unreadable,
                     message) ||
      !CheckReadable(fs, state.source_dir + "\\popusers.ini",
                     texts.popusers_ini_missing, texts.popusers_ini_unreadable,
                     message)) {
    return false;
  }
  if (!state.target_installed) return true;
  const std::string data = state.target_dir + "\\data";
  const std::string system = SystemConfigPath(fs, state.target_dir);
  // Paths are shown as the platform shows every path.
  if (!IsDirectory(fs, state.target_dir)) {
    *message = texts.target_dir_missing + fs->DisplayPath(state.target_dir);
  } else if (!IsDirectory(fs, data)) {
    *message = texts.target_data_missing + fs->DisplayPath(data);
  } else if (!CheckReadable(
                 fs, system,
                 texts.system_config_missing +
                     fs->DisplayPath(data + "\\system.cfg"),
                 texts.system_config_unreadable + fs->DisplayPath(system),
                 message)) {
    return false;
  } else if (!CheckTargetVersion(fs, state.target_dir)) {
    *message = texts.target_too_old;
  } else {
    return true;
  }
  return false;
}

PathOverlap FindPathOverlap(FileSystem* fs, const AppState& state) {
  FileLocation source = Where(fs, state.source_dir);
  if (!source.exists) return PathOverlap::kNone;
  const FileId& source_id = source.chain.front();
  if (Where(fs, state.target_dir).IsWithin(source_id)) {
    return PathOverlap::kTargetInSource;
  }
  FileLocation store = Where(fs, state.target_mail_dir);
  if (store.IsWithin(source_id) ||
      (store.exists && source.IsWithin(store.chain.front()))) {
    return PathOverlap::kMailStoreInSource;
  }
  return PathOverlap::kNone;
}

bool IsInstallationPath(FileSystem* fs, const AppState& state,
                        const std::string& path) {
  const FileLocation where = Where(fs, path);
  const std::string config =
      state.target_installed ? state.target_dir + "\\data" : state.target_dir;
  std::vector<std::string> folders = {state.source_dir, state.source_mail_dir,
                                      state.target_mail_dir};
  if (state.target_installed) folders.push_back(config);
  for (const std::string& folder : folders) {
    const FileLocation f = Where(fs, folder);
    if (f.exists && where.IsWithin(f.chain.front())) return true;
  }
  const std::string files[] = {
      state.source_dir + "\\domain.ini", state.source_dir + "\\popusers.ini",
      config + "\\domain.cfg",           config + "\\userauth.cfg",
      config + "\\mailgroup.cfg",        config + "\\system.cfg",
      state.target_dir + "\\system.cfg"};
  for (const std::string& file : files) {
    const FileLocation f = Where(fs, file);
    if (f.exists && where.Is(f.chain.front())) return true;
  }
  return false;
}

bool MayHoldRecords(FileSystem* fs, const std::string& dir,
                    const AppState& state) {
  if (dir.empty()) return false;
  const FileLocation where = Where(fs, dir);
  for (const std::string* installation :
       {&state.source_dir, &state.target_dir, &state.source_mail_dir,
        &state.target_mail_dir}) {
    const FileLocation f = Where(fs, *installation);
    if (f.exists && where.IsWithin(f.chain.front())) return false;
  }
  return true;
}

}  // namespace vm
