#ifndef VM_MIGRATE_SOURCE_MAILBOX_H_
#define VM_MIGRATE_SOURCE_MAILBOX_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "migrate/sync_record.h"
#include "migrate/target_listing.h"
#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

class Clock;

// The layout of the source mail store, the one place that spells it out
// (the migrator, the verifier, the scan and the read-ahead all read it
// through here). The names a message gets in the target are the other half:
// see message_names.h.
//
// Each account's mailbox is the directory "<source>\mail\<user>". It holds
// the message files of all its folders side by side, told apart by their
// extension: the four standard folders use "in", "sed", "out" and "del",
// a user-made folder its number. A folder's index, which says which
// messages get a sized name in the target, is "__r_<extension>.ini".
// "Folders.ini" lists the user-made folders: line N (from 0) names folder
// number N, the name ending at the first TAB.

// A source folder: where its messages and index are, and the name of the
// target folder they go to.
struct SourceFolder {
  std::string target;   // "INBOX", "Sent", "Draft", "Trash" or the folder's
  std::string dir;      // the mailbox directory that holds its files
  std::string pattern;  // wildcard listing its message files
  std::string index;    // its index file
};

// How many standard folders a mailbox has.
constexpr size_t kStandardFolderCount = 4;

// The standard folders of mailbox `box` in the order they are migrated:
// inbox, sent, drafts, trash.
std::vector<SourceFolder> StandardFolders(const std::string& box);

// The target folders every new mailbox gets, in the order they are made:
// the standard folders' targets, then "Spam".
const std::vector<std::string>& NewMailboxFolders();

// The user-made folder numbered `number` of mailbox `box`, going to the
// target folder `name`.
SourceFolder UserFolder(const std::string& box, size_t number,
                        const std::string& name);

// One listing of a mailbox directory, which every folder of the mailbox
// takes its files from: reading the directory once per folder would cost
// time growing with folders times messages.
struct MailboxListing {
  MailboxListing() = default;
  // Lists `box`; `listed` is false when it cannot be (fully) listed, and
  // `entries` then hold what was found. Given a clock, first takes what
  // `seen` holds, for the record of what a sync saw.
  MailboxListing(FileSystem* fs, const std::string& box,
                 const Clock* clock = nullptr);

  // The entries a listing of `folder.pattern` gives, in listing order.
  std::vector<DirEntry> FilesOf(const SourceFolder& folder,
                                const NameOps& names) const;
  // Whether the mailbox holds an entry named as the last component of
  // `path`, a name of ASCII characters (letter case aside, as the file
  // system finds it). Without a full listing, `fs` is asked.
  bool Holds(FileSystem* fs, const std::string& path,
             const NameOps& names) const;
  // Reads `path`, a file of the mailbox: from `texts` when it was read
  // with the listing under that very name, else from `fs`.
  bool ReadFile(FileSystem* fs, const std::string& path,
                std::string* text) const;

  bool listed = false;
  std::vector<DirEntry> entries;
  SourceSeen seen;
  // Lists and indexes read with the listing, by their name as listed.
  std::unordered_map<std::string, std::string> texts;
  // The account's target mailbox, listed with it by a read-ahead for a
  // mirror; may be null.
  std::shared_ptr<const TargetListing> target;
};

// The source mail directory of an installation, and one account's mailbox.
std::string SourceMailDir(const std::string& source_dir);
std::string SourceMailbox(const std::string& source_dir,
                          const std::string& user);

// The list of user-made folders of mailbox `box`.
std::string FolderListPath(const std::string& box);

// The folder names of a Folders.ini text, one per line, in line order: the
// index is the folder number, so an empty or unusable name still takes its
// number. Lines end at LF (a CR before it is dropped; a final line end adds
// no empty line) and a name ends at the first TAB.
std::vector<std::string> FolderListNames(std::string_view text);

// Whether `name` has the extension of a message file of any folder: a
// standard folder's (ASCII case ignored) or a number.
bool IsMessageFileName(const std::string& name);

// Whether `name` is one of the files the migration reads whole: the folder
// list and the indexes all end in ".ini" (ASCII case ignored).
bool IsListOrIndexName(const std::string& name);

}  // namespace vm

#endif  // VM_MIGRATE_SOURCE_MAILBOX_H_
