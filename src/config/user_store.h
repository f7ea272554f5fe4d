#ifndef VM_CONFIG_USER_STORE_H_
#define VM_CONFIG_USER_STORE_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/added_items.h"
#include "config/config_file.h"
#include "config/item_replacements.h"

namespace vm {

struct TargetContext;

// One account as the user store writes it; each field bears the name of its
// element in userauth.cfg.
struct UserRecord {
  std::string name;      // the account's user name; stored up to any "@"
  std::string domain;    // the account's domain
  std::string password;  // written as held
  int32_t authtype = 0;
  int32_t accountstatus = 0;
  std::string fullname;
  std::string description;
  int32_t publicinfo = 0;
  int64_t mailquota = 0;
  int32_t mailtotallimit = 0;
  int64_t netstorequota = 0;
  int32_t netstoretotallimit = 0;
  int32_t warninglimit = 0;
  std::string mailstorepath;
  std::string netstorepath;
  int32_t sendcontrol = 0;
  int32_t recvcontrol = 0;
  std::string senddomainlist;
  std::string recvdomainlist;
  int32_t pop3control = 0;
  int32_t imapcontrol = 0;
  int32_t webmailcontrol = 0;
  int32_t netstorecontrol = 0;
  int32_t calendarcontrol = 0;
  int32_t notebookcontrol = 0;
  int32_t modifyuserinfo = 0;
  int32_t externalpop3 = 0;
  int32_t autoforward = 0;
  int32_t autoreply = 0;
  int32_t spamcontrol = 0;
  int32_t publiccontact = 0;
  int32_t smsnotify = 0;
  int32_t sendsms = 0;
  int32_t sendmaxmsgsize = 0;
  int32_t sendfreq = 0;
  int32_t localtimes = 0;
  int32_t localsize = 0;
  int32_t remotetimes = 0;
  int32_t remotesize = 0;
  int32_t chgpassword = 0;
  int32_t pwdexpiredays = 0;
  int32_t expiretime = 0;
};

// Results of UserStore::AddUser.
enum class AddUserResult { kAdded, kFailed, kExists, kAliasExists };

// The target's user configuration file userauth.cfg:
// TargetDir\data\userauth.cfg when it exists, else TargetDir\userauth.cfg.
// An item whose
// domain element is empty belongs to the context's primary domain.
//
// The existence checks answer from an index of the loaded items, kept in
// step with every addition, so they cost the same however many users the
// file holds. Names and domains compare with ASCII letters folded, and a
// name is compared in its stored form: the part before any "@".
class UserStore : public ConfigFile {
 public:
  // Chooses the path and loads the file. `context` must outlive the store.
  explicit UserStore(TargetContext* context);
  // The path the store would read for `context`, chosen as it chooses it.
  static std::string PathFor(TargetContext* context);
  ~UserStore() override;

  // Appends the account as an item of the user list, in memory; a later
  // save writes it (see ConfigFile). Returns kAdded; kFailed when
  // the name (or its part before "@") is empty or the file lacks database
  // or user; kExists or kAliasExists when a user or a user alias
  // of that name and domain exists (nothing added).
  AddUserResult AddUser(const UserRecord& user) EXCLUDES(mutex_);

  // False when AddUser would refuse an account of this name whatever its
  // domain: the name (its part before "@") is empty or the file has no
  // user list.
  bool CanAdd(const std::string& name) const EXCLUDES(mutex_);

  // About `count` accounts are to be added: the first addition makes room
  // in the document for that many items like itself, so that the text of a
  // large user list is not copied to grow while the accounts go in.
  void ExpectAdditions(size_t count) EXCLUDES(mutex_);

  // Whether a user item (an alias item) has this name and domain; an empty
  // domain stands for the primary domain.
  bool UserExists(const std::string& name, const std::string& domain) const
      EXCLUDES(mutex_);
  bool AliasExists(const std::string& name, const std::string& domain) const
      EXCLUDES(mutex_);

  // The additions (name and domain as given to AddUser) that the saves
  // since the last call did not write because another writer had added a
  // user or an alias of that name meanwhile: to this store they exist.
  std::vector<std::pair<std::string, std::string>> TakeAddedByOthers()
      EXCLUDES(mutex_);

  // The accounts the saves since the last call wrote, in the order added,
  // each with the item's bytes as the file got them (for a record of the
  // run). The ones TakeAddedByOthers names are not among them.
  std::vector<SavedAddition> TakeSavedAdditions() EXCLUDES(mutex_);

  // Takes the items (newest first) out of the user list, in memory; a
  // later save writes that, re-checking each against the file as another
  // writer may have changed it meanwhile (see PendingRemovals). An item is
  // named by its name and domain elements. Returns the outcomes against
  // the document as it is now; the existence checks follow it.
  std::vector<RemovalOutcome> RemoveAddedUsers(
      const std::vector<AddedItem>& items) EXCLUDES(mutex_);
  // The final outcomes of the removals the saves since the last call
  // wrote, in the order they were requested.
  std::vector<RemovalOutcome> TakeSavedRemovals() EXCLUDES(mutex_);
  // What RemoveAddedUsers would answer now, without changing anything.
  std::vector<RemovalOutcome> CheckAddedUsers(
      const std::vector<AddedItem>& items) const EXCLUDES(mutex_);

  // A user item as the document holds it now: its bytes ("<item>" through
  // "</item>") and its password text; both empty when there is none.
  struct FoundUser {
    std::string item;
    std::string password;
  };
  // For each account (name and domain as AddUser takes them), the last
  // user item of that stored name and domain; an item whose domain
  // element is empty counts for the primary domain. One walk over the
  // list, however many are asked.
  std::vector<FoundUser> FindUsers(
      const std::vector<std::pair<std::string, std::string>>& accounts) const
      EXCLUDES(mutex_);

  // Gives user items other bytes, in memory; a later save writes that,
  // re-checking each against the file as another writer may have changed
  // it meanwhile (see PendingReplacements). Returns the outcomes against
  // the document as it is now.
  std::vector<ReplacementOutcome> ReplaceUsers(
      const std::vector<ItemReplacement>& items) EXCLUDES(mutex_);
  // What ReplaceUsers would answer now, without changing anything.
  std::vector<ReplacementOutcome> CheckReplacements(
      const std::vector<ItemReplacement>& items) const EXCLUDES(mutex_);
  // The final outcomes of the replacements the saves since the last call
  // wrote, in the order they were requested.
  std::vector<ReplacementOutcome> TakeSavedReplacements() EXCLUDES(mutex_);

  // Whether a user or a user alias of the document as it is now (another
  // writer's items included once a save merged them) belongs to `domain`:
  // an item with that domain, or with an empty domain element when
  // `domain` is the primary domain.
  bool DomainInUse(const std::string& domain) const EXCLUDES(mutex_);

 protected:
  void Loaded() override REQUIRES(mutex_);
  bool Merge(XmlDocument* fresh) override REQUIRES(mutex_);
  void PendingSaved() override REQUIRES(mutex_);
  std::vector<SavedAddition> AboutToWriteLocked() const override
      REQUIRES(mutex_);

 private:
  class NameIndex;
  struct PendingUser : PendingAddition {
    UserRecord user;
    int64_t now;  // its creation time
  };

  // Appends the item to the user list and indexes it; false when the
  // document has no user list. *complete is false when a field could not
  // be written.
  bool AppendItem(PendingUser* added, bool* complete) REQUIRES(mutex_);
  bool UserExistsLocked(const std::string& name,
                        const std::string& domain) const REQUIRES(mutex_);
  bool AliasExistsLocked(const std::string& name,
                         const std::string& domain) const REQUIRES(mutex_);

  // Added since the last save.
  // A deque: the additions of seconds between two saves of a large file
  // are thousands, and a vector of them would be copied as it grows and
  // keep the room of the largest for the rest of the run.
  std::deque<PendingUser> pending_users_ GUARDED_BY(mutex_);
  size_t expected_additions_ GUARDED_BY(mutex_) = 0;
  // Of those, the ones the last merge found in the file already; they go
  // to added_by_others_ once the save succeeds.
  std::vector<std::pair<std::string, std::string>> merged_existing_
      GUARDED_BY(mutex_);
  std::vector<std::pair<std::string, std::string>> added_by_others_
      GUARDED_BY(mutex_);
  std::vector<SavedAddition> saved_additions_ GUARDED_BY(mutex_);

  std::unique_ptr<NameIndex> users_ GUARDED_BY(mutex_);
  std::unique_ptr<NameIndex> aliases_ GUARDED_BY(mutex_);
  PendingRemovals removals_ GUARDED_BY(mutex_);
  PendingReplacements replacements_ GUARDED_BY(mutex_);
};

}  // namespace vm

#endif  // VM_CONFIG_USER_STORE_H_
