#ifndef VM_MIGRATE_PASSWORD_FOLLOW_H_
#define VM_MIGRATE_PASSWORD_FOLLOW_H_

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "migrate/run_manifest.h"
#include "util/name_ops.h"

namespace vm {

class DomainStore;
class FileSystem;
class UserStore;
struct ImportSteps;

// What the manifests of one target say the tool wrote into its
// configuration files: for each account, the bytes of every item it wrote
// for it (when it added it, and when a mirror pass rewrote its password),
// and the domains it added. Accounts and domains are compared as the
// stores compare them (NameOps::Fold).
class RecordedAccounts {
 public:
  struct Account {
    std::string user;    // as the manifest names it
    std::string domain;  // the account's domain as given
  };

  explicit RecordedAccounts(const NameOps& names) : names_(names) {}

  // Takes in the records of one manifest (in any order of manifests).
  void Add(const RunManifest& manifest);
  // One item the tool wrote for an account, and one domain it added.
  void AddItem(const std::string& user, const std::string& domain,
               const std::string& item);
  void AddDomain(const std::string& domain);
  void Clear() { *this = RecordedAccounts(names_); }

  // Whether the tool wrote the account's item with exactly these bytes.
  bool Wrote(const std::string& user, const std::string& domain,
             const std::string& item) const;
  bool Recorded(const std::string& user, const std::string& domain) const;

  // Each account and domain once, in the order first recorded.
  const std::vector<Account>& accounts() const { return accounts_; }
  const std::vector<std::string>& domains() const { return domains_; }

 private:
  std::string Key(const std::string& user, const std::string& domain) const;

  NameOps names_;
  std::unordered_map<std::string, std::unordered_set<std::string>> items_;
  std::vector<Account> accounts_;
  std::unordered_set<std::string> domain_keys_;
  std::vector<std::string> domains_;
};

// The records of every manifest of the target `target_dir` kept in its
// run records folder (RunRecordsFolder). A manifest that does not read, or
// that is another target's, adds nothing: what it names is not known to
// be the tool's.
RecordedAccounts ReadRecordedAccounts(FileSystem* fs,
                                      const std::string& target_dir,
                                      const NameOps& names);

// `item` (an account's item, "<item>" through "</item>") with the bytes of
// its password field written for `password` as the user store writes that
// field, every other byte as it was. Empty when the item does not parse
// or has no password field.
std::string WithPassword(const std::string& item, const std::string& password);

// A mirror pass's look at the accounts, after the account step, against
// what `recorded` says the tool wrote:
//
// - With `passwords`: an account of the source lists that the target holds
//   and whose password there differs from the one the run makes gets the
//   new one when its item is still exactly bytes the tool wrote for it:
//   only the password field's bytes change, recorded in the manifest (the
//   item before and after, flushed) before the store's save writes them.
//   An item changed since by the server or an administrator is left as it
//   is, with a line. No password is ever written into a line.
// - An account or domain the tool added that the target still holds but
//   the source lists no longer name is listed; nothing is removed.
//
// Counted in steps.stats; a save or a manifest that fails is a failure
// line.
void FollowSource(UserStore* users, DomainStore* domains,
                  const RecordedAccounts& recorded, bool passwords,
                  const ImportSteps& steps);

}  // namespace vm

#endif  // VM_MIGRATE_PASSWORD_FOLLOW_H_
