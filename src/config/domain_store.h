#ifndef VM_CONFIG_DOMAIN_STORE_H_
#define VM_CONFIG_DOMAIN_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/added_items.h"
#include "config/config_file.h"

namespace vm {

struct TargetContext;

// The settings of one target domain; each field bears the name of its
// element in domain.cfg.
struct DomainRecord {
  static constexpr size_t kMaxDomainBytes = 64;
  static constexpr size_t kMaxDescriptionBytes = 128;

  std::string domain;       // at most kMaxDomainBytes
  int32_t type = 0;         // 1 for the primary domain; AddDomain decides it
  std::string description;  // at most kMaxDescriptionBytes
  int32_t pwdencrypt = 0;
  int32_t publicuserinfo = 0;
  int32_t everyonegroup = 0;  // read only
  int64_t maxmailboxquota = 0;
  int32_t maxmailboxmailnum = 0;
  int64_t netstorequota = 0;
  int32_t netstoretotallimit = 0;
  int32_t defaultwarninglimit = 0;
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
  int32_t expiretime = 0;
  int32_t chgpassword = 0;
  int32_t pwdexpiredays = 0;
  int32_t pwdlength = 0;
  int32_t pwdlevel = 0;
  int32_t addressnum = 0;
  int32_t signaturenum = 0;
  int32_t externalmailnum = 0;
  int32_t mailfilternum = 0;
  int32_t maxpop3mailsize = 0;
  int32_t maxpop3mailtotal = 0;
  int32_t sendmaxmsgsize = 0;
  int32_t sendfreq = 0;
  int32_t localtimes = 0;
  int32_t localsize = 0;
  int32_t remotetimes = 0;
  int32_t remotesize = 0;
};

// The target's domain configuration file domain.cfg: TargetDir\data\domain.cfg
// when it exists, else TargetDir\domain.cfg. Domain names compare with ASCII
// letters folded (NameOps). Additions are saved as ConfigFile describes.
class DomainStore : public ConfigFile {
 public:
  // Chooses the path and loads the file. `context` must outlive the store;
  // AddDomain may set its primary_domain.
  explicit DomainStore(TargetContext* context);
  ~DomainStore() override;

  // Whether an item of the domain list has this domain name.
  bool DomainExists(const std::string& name) EXCLUDES(mutex_);
  // Whether an item of the alias list has this alias domain name.
  bool AliasDomainExists(const std::string& name) EXCLUDES(mutex_);
  // The name of the first domain whose type reads as 1; empty when none.
  std::string FindPrimaryDomain() EXCLUDES(mutex_);

  // Appends the record as an item of the domain list, in memory; a later
  // save writes it. The item's type is 1 (and the context's primary_domain
  // becomes the record's domain) while the primary domain is empty, else
  // 0; the primary domain is settled even when the addition then fails.
  // False without any change for an empty domain, a domain over 64 bytes
  // or a description over 128 bytes. False when the file has no domain
  // list.
  bool AddDomain(const DomainRecord& record) EXCLUDES(mutex_);

  // Replaces *domains with the settings of every domain item, in file
  // order. An item whose sendcontrol (recvcontrol) is 1 gets its
  // extdomainlist as its send (receive) domain list and the control 8 when
  // its allowalldomain is 1 or 3, else 12. False when the file has no
  // domain list.
  bool LoadAllDomains(std::vector<DomainRecord>* domains) EXCLUDES(mutex_);

  // The domains the saves since the last call wrote, in the order added,
  // each with the item's bytes as the file got them (for a record of the
  // run). A domain another writer added meanwhile is not among them.
  std::vector<SavedAddition> TakeSavedAdditions() EXCLUDES(mutex_);

  // Takes the items (newest first) out of the domain list, in memory; a
  // later save writes that, re-checking each against the file as another
  // writer may have changed it meanwhile (see PendingRemovals). An item is
  // named by its domain element. Returns the outcomes against the document
  // as it is now.
  std::vector<RemovalOutcome> RemoveAddedDomains(
      const std::vector<AddedItem>& items) EXCLUDES(mutex_);
  // The final outcomes of the removals the saves since the last call
  // wrote, in the order they were requested.
  std::vector<RemovalOutcome> TakeSavedRemovals() EXCLUDES(mutex_);

 protected:
  bool Merge(XmlDocument* fresh) override REQUIRES(mutex_);
  void PendingSaved() override REQUIRES(mutex_);
  std::vector<SavedAddition> AboutToWriteLocked() const override
      REQUIRES(mutex_);

 private:
  struct PendingDomain : PendingAddition {
    DomainRecord record;
    const char* type;
  };
  // Appends the item; false when the document has no domain list or a
  // field could not be written.
  bool AppendItem(PendingDomain* added) REQUIRES(mutex_);
  bool DomainExistsLocked(const std::string& name) const REQUIRES(mutex_);
  bool AliasDomainExistsLocked(const std::string& name) const REQUIRES(mutex_);

  // Added since the last save.
  std::vector<PendingDomain> pending_domains_ GUARDED_BY(mutex_);
  std::vector<SavedAddition> saved_additions_ GUARDED_BY(mutex_);
  PendingRemovals removals_ GUARDED_BY(mutex_);
};

}  // namespace vm

#endif  // VM_CONFIG_DOMAIN_STORE_H_
