#include "config/config_file.h"

#include <map>
#include <memory>
#include <mutex>

#include "config/target_context.h"
#include "platform/file_system.h"

namespace vm {
namespace {

// The one process-wide object per configuration file name.
struct SharedStates {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<SharedConfigState>> by_name;
};

SharedStates& AllSharedStates() {
  static SharedStates* states = new SharedStates;  // never destroyed
  return *states;
}

}  // namespace

SharedConfigState& SharedStateFor(const std::string& file_name) {
  SharedStates& states = AllSharedStates();
  std::lock_guard<std::mutex> guard(states.mutex);
  std::unique_ptr<SharedConfigState>& state = states.by_name[file_name];
  if (state == nullptr) state = std::make_unique<SharedConfigState>(file_name);
  return *state;
}

void ResetSharedConfigStates() {
  SharedStates& states = AllSharedStates();
  std::lock_guard<std::mutex> guard(states.mutex);
  for (auto& [name, state] : states.by_name) {
    ScopedConfigLock cache(&state->cache_lock);
    state->cached_document = XmlDocument();
    state->cached_time = 0;
    state->cached_fs = nullptr;
    state->cached_path.clear();
    state->named_lock.Reopen();
  }
}

bool ConfigLocksUsable(std::string* error) {
  for (const char* name : {"domain.cfg", "userauth.cfg"}) {
    *error = SharedStateFor(name).named_lock.error();
    if (!error->empty()) return false;
  }
  return true;
}

int32_t FirstChildNamed(const XmlDocument& doc, int32_t parent,
                        std::string_view name) {
  for (int32_t i = doc.Element(parent).first_child; i != 0;
       i = doc.Element(i).next) {
    if (doc.ElementName(i) == name) return i;
  }
  return 0;
}

int32_t FindList(const XmlDocument& doc, std::string_view name) {
  if (doc.ElementCount() <= 1) return 0;
  int32_t root = FirstChildNamed(doc, 0, "database");
  return root == 0 ? 0 : FirstChildNamed(doc, root, name);
}

std::string ReadFileText(FileSystem* fs, const std::string& path) {
  std::string text;
  if (!fs->ReadFile(path, &text, nullptr)) text.clear();
  return text;
}

bool WriteFileText(FileSystem* fs, const std::string& path,
                   const std::string& text) {
  return fs->ReplaceContents(path, text, nullptr);
}

ConfigFile::ConfigFile(TargetContext* context, const std::string& file_name,
                       const std::string& preferred,
                       const std::string& fallback)
    : context_(context),
      path_(context->target_dir + preferred),
      shared_(&SharedStateFor(file_name)) {
  if (!context_->fs->Exists(path_)) path_ = context->target_dir + fallback;
  LoadDocument();
}

ConfigFile::~ConfigFile() = default;

bool ConfigFile::SameFile() const {
  return shared_->cached_fs == context_->fs && shared_->cached_path == path_;
}

void ConfigFile::Load() {
  LoadDocument();
  Loaded();
}

void ConfigFile::LoadDocument() {
  int64_t time;
  {
    ScopedConfigLock cache(&shared_->cache_lock);
    if (SameFile()) {
      time = shared_->cached_time;
      document_ = shared_->cached_document;
    } else {
      time = 0;
      document_ = XmlDocument();
    }
  }
  int64_t modified;
  if (context_->fs->ModifiedTime(path_, &modified)) {
    if (modified <= time && document_.CheckWellFormed()) return;
    time = modified;
  }
  std::string text;
  {
    ScopedConfigLock file(&shared_->named_lock);
    text = ReadFileText(context_->fs, path_);
  }
  if (text.empty()) return;
  ScopedConfigLock cache(&shared_->cache_lock);
  if (!SameFile()) shared_->cached_time = 0;
  shared_->cached_fs = context_->fs;
  shared_->cached_path = path_;
  if (shared_->cached_document.LoadText(std::move(text))) {
    document_ = shared_->cached_document;
    shared_->cached_time = time;
  }
}

bool ConfigFile::Save() {
  const std::string& text = document_.DocumentText();
  if (text.empty()) return false;
  bool written;
  {
    ScopedConfigLock file(&shared_->named_lock);
    written = WriteFileText(context_->fs, path_, text);
  }
  if (written) {
    ScopedConfigLock cache(&shared_->cache_lock);
    if (!SameFile()) shared_->cached_time = 0;
    shared_->cached_fs = context_->fs;
    shared_->cached_path = path_;
    shared_->cached_document = document_;
  }
  return written;
}

}  // namespace vm
