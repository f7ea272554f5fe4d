#ifndef VM_MIGRATE_MAILBOX_IN_FLIGHT_H_
#define VM_MIGRATE_MAILBOX_IN_FLIGHT_H_

// The mailbox migrator's record of one mailbox in flight, shared by its
// implementation files: mailbox_migrator.cc (listing and copying),
// mailbox_marks.cc (pending marks), mailbox_record.cc (the sync record's
// entry) and mailbox_release.cc (the end of a mailbox: publish, record,
// flush).

#include <memory>
#include <string>
#include <vector>

#include "migrate/folder_copy.h"
#include "migrate/folder_maker.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/mirror_pass.h"
#include "migrate/staged_mailbox.h"

namespace vm {

// One mailbox being migrated; lives until its end piece is released.
struct MailboxMigrator::Mailbox {
  MailboxTally tally;
  MailboxDone done;  // told how it ended when released
  // Set while it is built under its staging name, to publish on release.
  std::shared_ptr<StagedMailbox> staged;
  // The mark file its staging folder still lacks, and the maker that
  // writes it with the folders; it is published only with its mark.
  std::string mark;
  std::shared_ptr<const FolderMaker> marker;
  // What the record is told once it ends without a failure; `listed` once
  // its source folder was listed whole.
  std::string record_key;
  bool listed = false;
  SourceSeen seen;
  SyncEntry entry;
  // A mirror looks at it (an existing mailbox of a mirror pass), and
  // what it took out of which folder.
  bool mirror = false;
  std::vector<MirrorPass::Folder> mirrored;
};

}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_IN_FLIGHT_H_
