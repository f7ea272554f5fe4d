#include "platform/entry_status_win32.h"

#include <cstddef>
#include <unordered_map>

#include "platform/file_handle_win32.h"

namespace vm {

StampTime TimeOfTicks(LONGLONG ticks) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  return {seconds - kSecondsFrom1601To1970, static_cast<uint32_t>(rest * 100)};
}

void ListedStatuses(const std::wstring& dir,
                    const std::vector<std::wstring>& names,
                    std::vector<std::optional<EntryStatus>>* statuses) {
  statuses->assign(names.size(), std::nullopt);
  std::unordered_map<std::wstring, size_t> wanted;
  for (size_t i = 0; i < names.size(); ++i) wanted.emplace(names[i], i);
  FileHandle folder(CreateFileW(
      dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder.valid() || !GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return;
  }
  // A mailbox's folder lists a few entries: one call reads them all.
  alignas(LONGLONG) char buffer[16 * 1024];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder.get(), kind, buffer,
                                      sizeof(buffer))) {
    kind = FileIdBothDirectoryInfo;
    size_t offset = 0;
    for (;;) {
      const auto* entry =
          reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      auto it = wanted.find(std::wstring(
          entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
      if (it != wanted.end() &&
          (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        EntryStatus status;
        status.id = {info.dwVolumeSerialNumber,
                     static_cast<uint64_t>(entry->FileId.QuadPart)};
        status.is_directory =
            (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        status.size = static_cast<uint64_t>(entry->EndOfFile.QuadPart);
        status.modified = TimeOfTicks(entry->LastWriteTime.QuadPart);
        status.changed = TimeOfTicks(entry->ChangeTime.QuadPart);
        (*statuses)[it->second] = status;
      }
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

}  // namespace vm
