#include "migrate/user_list_vouch.h"

#include <chrono>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>

#include "migrate/doubtful_folders.h"
#include "migrate/lazy_users.h"
#include "migrate/mailbox_migrator.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/md5.h"

namespace vm {

namespace {

// The status of the user list's file; false when it is no file.
bool ListStatus(FileSystem* fs, const std::string& path, EntryStatus* status) {
  return fs->StatusOf(path, status) && !status->is_directory;
}

StampTime Later(StampTime t, int64_t micros) {
  const int64_t ns = t.seconds * 1'000'000'000 + t.nanoseconds + micros * 1000;
  return {ns / 1'000'000'000, static_cast<uint32_t>(ns % 1'000'000'000)};
}

// Takes the file's status once it is settled by `clock`, waiting up to
// `patience_micros` of real time when that would be enough; false when it
// is not settled then.
bool SettledStatus(FileSystem* fs, const std::string& path, const Clock& clock,
                   int64_t patience_micros, EntryStatus* status) {
  const auto give_up = std::chrono::steady_clock::now() +
                       std::chrono::microseconds(patience_micros);
  for (;;) {
    // The time first: a change after it can only make the file newer.
    const StampTime at = clock.NowStamp();
    if (!ListStatus(fs, path, status)) return false;
    if (Settled(*status, at)) return true;
    if (patience_micros <= 0 || !Settled(*status, Later(at, patience_micros)) ||
        std::chrono::steady_clock::now() >= give_up) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

bool UserListIs(FileSystem* fs, const std::string& path,
                const std::optional<EntryStatus>& vouched) {
  EntryStatus now;
  return vouched.has_value() && ListStatus(fs, path, &now) && now == *vouched;
}

std::optional<UsersSeen> SeenUsers(LazyUsers* users, bool vouched_at_start,
                                   const SyncRecord& record,
                                   const SourceDomainList& domains,
                                   const MailboxMigrator& mailboxes,
                                   const std::string& primary_domain) {
  UsersSeen seen;
  seen.path = users->path();
  if (vouched_at_start &&
      (users->loaded() ? users->get()->Untouched() : !record.put_any())) {
    seen.carried = record.users();
    return seen;
  }
  if (!users->loaded()) return std::nullopt;
  if (!users->get()->SavedText(&seen.size, &seen.digest)) return std::nullopt;
  std::unordered_set<std::string> matched;
  for (const SourceDomain& domain : domains) {
    for (const SourceAccount& listed : domain.accounts) {
      const SourceAccount account{listed.user_name, domain.name, {}};
      const std::string box = mailboxes.TargetBox(account, primary_domain);
      if (box.empty()) continue;
      std::string key = mailboxes.RecordKey(box);
      if (!record.Has(key)) continue;
      if (!users->get()->UserExists(account.user_name, domain.name)) {
        return std::nullopt;
      }
      matched.insert(std::move(key));
    }
  }
  // An entry of an account no longer listed is vouched by nothing.
  if (matched.size() != record.size()) return std::nullopt;
  return seen;
}

void SettleUsers(FileSystem* fs, const Clock& clock, int64_t patience_micros,
                 SyncRecord* record) {
  // Taken: a later pass of a watch tells its own.
  const std::optional<UsersSeen> seen = record->users_seen();
  record->SawUsers(std::nullopt);
  EntryStatus before;
  if (!seen.has_value() ||
      !SettledStatus(fs, seen->path, clock, seen->carried ? 0 : patience_micros,
                     &before)) {
    record->SetUsers(std::nullopt);
    return;
  }
  if (seen->carried.has_value()) {
    record->SetUsers(before == *seen->carried ? seen->carried : std::nullopt);
    return;
  }
  // Read between two statuses: a settled file that keeps its status was
  // not written meanwhile, so what is read is what that status stands for.
  Md5 digest;
  const bool read = fs->ReadFileBy(
      seen->path,
      [&digest, limit = seen->size](std::string_view piece) {
        digest.Update(piece);
        return digest.size() <= limit;
      },
      nullptr);
  EntryStatus after;
  const bool same = read && digest.size() == seen->size &&
                    digest.Hex() == seen->digest &&
                    ListStatus(fs, seen->path, &after) && after == before;
  record->SetUsers(same ? std::optional<EntryStatus>(before) : std::nullopt);
}

}  // namespace vm
