#ifndef VM_MIGRATE_SYNC_RECORD_H_
#define VM_MIGRATE_SYNC_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "migrate/doubtful_folders.h"
#include "migrate/listing_sizes.h"
#include "migrate/source_seen.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace vm {

class Clock;
struct SourceAccount;

// A folder of a target mailbox as the run left it. The mailbox folder
// itself is not one: the pending mark every sync makes and removes there
// changes it each time, and a mailbox with a mark is listed anyway.
struct SyncFolder {
  std::string name;
  EntryStatus status;
  bool taken = false;  // the status has been taken since the run's copies
  // Not empty: the folder changed within the clock's precision of the
  // moment its status was taken, which is not trusted; this is the
  // ListingDigest of its listing then, of `listed` entries.
  std::string doubt;
  uint64_t listed = 0;
};

// What the last run that listed one account's mailbox saw, on both sides,
// once it had finished with it without a failure.
struct SyncEntry {
  std::string box;       // the target mailbox folder's name in the store
  std::string lists;     // ListsDigest of the account's line
  uint64_t entries = 0;  // entries the source listing held
  EntryStatus source;
  // The ListingDigest of the source listing; with `source_doubtful`, what
  // stands for the source folder's status, which is not trusted.
  std::string source_listing;
  bool source_doubtful = false;
  bool has_folder_list = false;
  EntryStatus folder_list;
  // The target mailbox folder itself, taken once the run's pending mark
  // had gone from it, when settled: a mark made since, or a folder made,
  // removed or renamed in it, changes it. A mailbox whose source held
  // nothing is judged by it alone on the target side (see Unchanged).
  bool has_box_status = false;
  EntryStatus box_status;
  std::vector<SyncFolder> targets;
};

// The digest of what a sync compares of an account's line in the lists;
// with `mirror` it differs, so that a mirror never skips a mailbox on the
// word of a sync that did not mirror it. An entry gets the mirror's digest
// when the run left its target mailbox holding no copy whose source is
// gone: a mirror pass, or a run that made the mailbox.
std::string ListsDigest(const SourceAccount& account, bool mirror = false);

// What a run can tell of the user list at its end, for the record to vouch
// it (see SyncRecord::users()).
struct UsersSeen {
  std::string path;  // the user list's file
  // When the run never read the list: the status the record vouched, which
  // the file still had as the run began; the run put no entry.
  std::optional<EntryStatus> carried;
  // Else: the text the run's store holds (its size and MD5 digest), which
  // holds a user item of the account of every entry; the file must hold it.
  uint64_t size = 0;
  std::string digest;
};

// The record a target keeps of what each sync (and the first run) saw of
// every mailbox it listed, so that the next sync can skip the mailboxes
// where nothing changed on either side. The record only ever lets a run
// skip work: a mailbox without an entry, or whose entry differs in any
// status, is listed. Entries are keyed by the target mailbox, folded. See
// docs/sync-record.md for the file.
class SyncRecord {
 public:
  // A record of the target whose data folder is `data_folder`.
  explicit SyncRecord(FileId data_folder) : data_folder_(data_folder) {}
  SyncRecord(const SyncRecord&) = delete;
  SyncRecord& operator=(const SyncRecord&) = delete;

  // Takes the entries of a record file's text. False, keeping none, when
  // the text is not a whole record of this format and version, or is the
  // record of another target.
  bool Parse(std::string_view text);
  // What the head of a record file's text (its first lines) says of the
  // user list, as Parse would take it; none when it is not the head of a
  // record of this format and target.
  std::optional<EntryStatus> UsersInHead(std::string_view head) const;
  // The record file's text, a mailbox at a time, to `put`.
  bool Write(const PieceWriter& put) const;

  std::optional<SyncEntry> Find(const std::string& key) const;
  // A mailbox about to be listed: its entry goes until the run has
  // finished with it.
  void Forget(const std::string& key) {
    if (entries_.erase(key) != 0) changed_ = true;
  }
  // The mailbox was listed, as `seen` (entry.source_listing its listing's
  // digest), and finished without a failure; its target folders' statuses
  // are taken by Settle. A source folder that changed just before it was
  // seen (see Settled) is recorded doubtful; one whose folder list did gets
  // no entry.
  void Put(const std::string& key, const SourceSeen& seen, SyncEntry entry);
  // Takes the statuses of the target folders of the mailboxes put since the
  // last call, under `mail_dir`; a folder whose status cannot be trusted
  // (see Settled) is listed and recorded doubtful, and a mailbox with a
  // folder that cannot be looked at loses its entry. With
  // `patience_micros`, it first waits (once, that long at most) for a
  // status it finds not settled to settle, rather than list that folder.
  // With `tell`, such a folder is listed by names, and the sizes `tell`
  // knows are taken from it (TellSizes): a size it tells wrongly makes
  // the next sync list the mailbox, never skip it.
  void Settle(FileSystem* fs, const std::string& mail_dir, const Clock& clock,
              int64_t patience_micros = 0, const SizeTeller& tell = nullptr);
  // A mailbox left unlisted whose doubtful folders Unchanged found as
  // recorded: `entry` is its entry with those now trusted.
  void Confirm(const std::string& key, SyncEntry entry);

  // Makes the statuses not Settled at `at` doubtful, or drops their entries
  // where there is no listing to stand for them; true when it changed any.
  // Only entries put or confirmed since the record was read are looked at:
  // the others were settled by the time of the file they were read from.
  // For a time of the file system's own clock (the record file's, just
  // written), which guards against a clock of this machine that runs ahead
  // of the file system's.
  bool DropUnsettledAt(StampTime at);

  // Whether the record holds an entry of the mailbox `key`.
  bool Has(const std::string& key) const { return entries_.count(key) != 0; }
  // Whether a mailbox was put since the record was read or written.
  bool put_any() const { return puts_ != 0; }

  // The user list's file (its status) as the run that wrote the record
  // left it, when that run vouched that it held a user item of the account
  // of every entry; none when no run did. A sync that finds the file with
  // this very status need not read the list to know its accounts exist.
  const std::optional<EntryStatus>& users() const { return users_; }
  // What the record is to say of the user list (see users()).
  void SetUsers(std::optional<EntryStatus> status);
  // What the run saw of the user list, for SettleUsers to vouch at the end.
  void SawUsers(std::optional<UsersSeen> seen) {
    users_seen_ = std::move(seen);
  }
  const std::optional<UsersSeen>& users_seen() const { return users_seen_; }

  size_t size() const { return entries_.size(); }
  // Whether the entries differ from the text last parsed (or there was
  // none, or it was not taken): only then is there a record to write.
  bool changed() const { return changed_; }
  // The entries are what the record file now holds.
  void Written() {
    changed_ = false;
    puts_ = 0;
    users_read_ = users_;
  }

 private:
  FileId data_folder_;
  struct Kept {
    // The entry packed (PackEntry): a record of every mailbox of a large
    // target is held for the whole run.
    std::string packed;
    bool unsettled = false;  // put since the last Settle
    bool fresh = false;      // put or confirmed since it was read
  };
  std::unordered_map<std::string, Kept> entries_;
  bool changed_ = false;
  size_t puts_ = 0;
  std::optional<EntryStatus> users_;
  std::optional<EntryStatus> users_read_;  // as the text parsed said
  bool users_fresh_ = false;               // set since it was read
  std::optional<UsersSeen> users_seen_;
};

// What Unchanged found of a mailbox it would leave unlisted.
struct Judgement {
  int folders = 0;  // the folders the skip spares
  // The entry with the doubtful folders it found as recorded and now
  // settled trusted, for SyncRecord::Confirm; null when there were none.
  std::unique_ptr<SyncEntry> confirmed;
};

// The decision of a sync for one existing account: true when the entry of
// its mailbox (key `key`, target mailbox `target_box`, source mailbox
// `source_box`) shows every folder on both sides and the account's line as
// they are now, so that listing it would find nothing new; `judgement`
// (when non-null) then tells what it found. A pending mark in the target
// mailbox makes it false; a staging folder of the mailbox is the caller's
// to look for. The target mailbox is looked at first, by one
// FileSystem::StatusesIn; a doubtful folder is listed and its listing
// compared, timed by `clock`. A mailbox whose source listing held nothing
// holds no copy that could have gone: when the mailbox folder's own status
// is as recorded (so no mark was made and no folder made or removed in it),
// its folders are not looked at. With `mirror`, only an entry with the
// mirror's digest counts; without, both.
bool Unchanged(FileSystem* fs, const SyncRecord& record, const std::string& key,
               const SourceAccount& account, const std::string& source_box,
               const std::string& target_box, const Clock& clock,
               Judgement* judgement, bool mirror = false);

// Whether the record holds the mailbox `key`, with no doubtful folder, with
// the account's line of the lists as it is now: what Unchanged asks first,
// and all it asks of a mailbox a watch's notices vouch for. `judgement` as
// for Unchanged.
bool Recorded(const SyncRecord& record, const std::string& key,
              const SourceAccount& account, Judgement* judgement, bool mirror);

}  // namespace vm

#endif  // VM_MIGRATE_SYNC_RECORD_H_
