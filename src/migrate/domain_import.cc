#include "migrate/domain_import.h"

#include <string>
#include <vector>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "migrate/import_steps.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/run_manifest.h"
#include "migrate/run_observer.h"
#include "migrate/safe_name.h"
#include "migrate/texts.h"

namespace vm {

namespace {

DomainRecord MigratedDomain(const std::string& name) {
  DomainRecord record;
  record.domain = name;
  record.maxmailboxquota = 20 * 1048576;
  record.maxmailboxmailnum = 10000;
  record.netstorequota = 100 * 1048576;
  record.netstoretotallimit = 1000;
  record.defaultwarninglimit = 80;
  record.addressnum = 100;
  record.signaturenum = 5;
  record.externalmailnum = 5;
  record.mailfilternum = 10;
  record.maxpop3mailsize = 5 * 1048576;
  record.maxpop3mailtotal = 100;
  return record;
}

// Saves the domain store when due (at the end: whatever is pending). The
// manifest names the domains a save is about to write before it writes
// them, and confirms them after. A failed save keeps them pending; only
// when the last save fails too does each domain in `held` (added since
// the last save) get its failure line and is no longer counted.
void CommitDomains(DomainStore* store, const ImportSteps& s,
                   RunObserver* observer, bool at_end,
                   std::vector<std::string>* held) {
  const bool ok = at_end ? store->SavePending() : store->SaveIfDue();
  const std::vector<SavedAddition> saved = store->TakeSavedAdditions();
  if (s.manifest != nullptr) {
    for (const SavedAddition& added : saved) {
      s.manifest->Add(DomainEntry(added, ManifestEntry::Step::kSaved));
    }
  }
  if (!ok && at_end) {
    const std::string why = s.texts.why_open +
                            SaveErrorWords(s.texts, store->last_save_error()) +
                            s.texts.why_close;
    for (const std::string& name : *held) {
      const std::string line = s.texts.domain_not_saved + name + why;
      s.host->AppendLogLine(line);
      s.host->SelectLastLine();
      ++*s.failure_lines;
      --s.stats->domain_count;
      observer->OnDomainSaveFailed(name, line);
    }
  }
  if (at_end || !store->HasPending()) held->clear();
}

// One source domain: told as present, refused, failed or added (then held
// for the next save).
void ImportDomain(DomainStore* store, const ImportSteps& s,
                  RunObserver* observer, const std::string& name,
                  std::vector<std::string>* held) {
  if (store->DomainExists(name)) {
    observer->OnDomain(name, DomainOutcome::kExists);
  } else if (store->AliasDomainExists(name)) {
    observer->OnDomain(name, DomainOutcome::kAlias);
  } else if (!IsSafeDirectoryName(name, s.target->names)) {
    // Its accounts' mailboxes would be path pieces ("..\evil"): it is
    // written nowhere, and its accounts are refused by the account step.
    s.host->AppendLogLine(s.texts.unsafe_domain_name + name);
    s.host->SelectLastLine();
    ++*s.failure_lines;
    observer->OnDomain(name, DomainOutcome::kFailed);
  } else {
    s.host->AppendLogLine(s.texts.importing_domain + name);
    s.host->SelectLastLine();
    // A name longer than the record's field is refused by the store, so it
    // is reported like any other failed addition.
    if (!store->AddDomain(MigratedDomain(name))) {
      s.host->AppendLogLine(s.texts.domain_failed);
      ++*s.failure_lines;
      observer->OnDomain(name, DomainOutcome::kFailed);
    } else {
      // Only what was added counts: not a failed addition, nor one whose
      // save fails later.
      observer->OnDomain(name, DomainOutcome::kAdded);
      held->push_back(name);
      ++s.stats->domain_count;
    }
  }
}

}  // namespace

void ImportDomains(DomainStore* store, const ImportSteps& steps) {
  RunObserver null_observer;
  RunObserver* observer =
      steps.observer != nullptr ? steps.observer : &null_observer;
  steps.stats->domain_count = 0;
  steps.target->primary_domain = store->FindPrimaryDomain();
  if (steps.manifest != nullptr) {
    store->SetWriteAhead(WriteAheadOf(steps.manifest, &DomainEntry));
  }
  // Domains added since the store last saved; a failed save names each.
  std::vector<std::string> held;
  for (const SourceDomain& source : *steps.host->GetSourceDomains()) {
    ImportDomain(store, steps, observer, source.name, &held);
    CommitDomains(store, steps, observer, false, &held);
  }
  CommitDomains(store, steps, observer, true, &held);
}

}  // namespace vm
