// What an undo checks before it touches the target (the manifest is of
// this target, in this code page), and how it words each item.

#include <string>

#include "migrate/texts.h"
#include "migrate/undo_run.h"
#include "platform/file_system.h"
#include "util/ascii.h"

namespace vm {

std::string ManifestDataFolder(FileSystem* fs, const std::string& target_dir) {
  const std::string data = target_dir + "\\data";
  FileLocation where;
  if (fs->Locate(data, &where) && where.exists) return data;
  return target_dir;
}

bool ManifestIsOfTarget(FileSystem* fs, const RunManifest& manifest,
                        const std::string& target_dir) {
  FileLocation where;
  return fs->Locate(ManifestDataFolder(fs, target_dir), &where) &&
         where.Is(manifest.header.data_folder);
}

namespace {

// One spelling for the names a code page goes by ("GBK", "CP936", "936").
std::string CodePageKey(const std::string& name) {
  std::string key = AsciiLowered(name);
  if (key == "cp936" || key == "936" || key == "ms936" ||
      key == "windows-936") {
    return "gbk";
  }
  return key == "utf8" || key == "cp65001" || key == "65001" ? "utf-8" : key;
}

}  // namespace

bool ManifestCodePageAgrees(const RunManifest& manifest,
                            const std::string& code_page) {
  const std::string& recorded = manifest.header.code_page;
  return recorded.empty() || CodePageKey(recorded) == CodePageKey(code_page);
}

std::string UndoLine(const Texts& texts, const UndoItem& item, bool preview) {
  if (item.kind == ManifestEntry::Kind::kPassword) {
    if (item.outcome == UndoOutcome::kRemoved) {
      return (preview ? texts.undo_password_would_restore
                      : texts.undo_password_restored) +
             item.what;
    }
    if (item.outcome == UndoOutcome::kGone) {
      return (item.never_made ? texts.undo_password_never_made
                              : texts.undo_password_unneeded) +
             item.what;
    }
  }
  if (item.never_made) return texts.undo_never_made + item.what;
  const bool held = item.kind == ManifestEntry::Kind::kHeldFile ||
                    item.kind == ManifestEntry::Kind::kRemovedDir;
  if (held && item.outcome == UndoOutcome::kRemoved) {
    return (preview ? texts.undo_would_put_back : texts.undo_put_back) +
           item.what;
  }
  if (held && item.outcome == UndoOutcome::kGone) {
    return texts.undo_in_place + item.what;
  }
  switch (item.outcome) {
    case UndoOutcome::kRemoved:
      return (preview ? texts.undo_would_remove : texts.undo_removed) +
             item.what;
    case UndoOutcome::kGone:
      return texts.undo_gone + item.what;
    case UndoOutcome::kStopped:
      return texts.undo_not_reached + item.what;
    case UndoOutcome::kKept:
      break;
  }
  return (preview ? texts.undo_would_keep : texts.undo_kept) + item.what +
         texts.why_open + item.reason + texts.why_close;
}

}  // namespace vm
