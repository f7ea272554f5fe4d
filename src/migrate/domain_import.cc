#include "migrate/domain_import.h"

#include <string>
#include <vector>

#include "config/domain_store.h"
#include "config/target_context.h"
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

}  // namespace

void ImportDomains(DomainStore* store, TargetContext* target, RunHost* host,
                   const Texts& texts, MigrationStats* stats,
                   int* failure_lines, RunObserver* observer,
                   ManifestWriter* manifest) {
  RunObserver null_observer;
  if (observer == nullptr) observer = &null_observer;
  stats->domain_count = 0;
  target->primary_domain = store->FindPrimaryDomain();
  // Domains added since the store last saved; a failed save names each.
  std::vector<std::string> held;
  auto commit = [&](bool at_end) {
    const bool ok = at_end ? store->SavePending() : store->SaveIfDue();
    // What the save wrote goes into the run's manifest with it.
    const std::vector<SavedAddition> saved = store->TakeSavedAdditions();
    if (manifest != nullptr) {
      for (const SavedAddition& added : saved)
        manifest->Add(DomainEntry(added));
      // A flush rewrites the manifest: only with a save, not per call.
      if (at_end || !saved.empty()) manifest->Flush();
    }
    if (!ok) {
      const std::string why = texts.why_open +
                              SaveErrorWords(texts, store->last_save_error()) +
                              texts.why_close;
      for (const std::string& name : held) {
        const std::string line = texts.domain_not_saved + name + why;
        host->AppendLogLine(line);
        host->SelectLastLine();
        ++*failure_lines;
        --stats->domain_count;
        observer->OnDomainSaveFailed(name, line);
      }
    }
    // After a failure the additions stay pending and a later save may
    // still write them; they were reported (and their mail marked) now.
    if (!ok || !store->HasPending()) held.clear();
  };
  for (const SourceDomain& source : *host->GetSourceDomains()) {
    const std::string& name = source.name;
    if (store->DomainExists(name)) {
      observer->OnDomain(name, DomainOutcome::kExists);
      continue;
    }
    if (store->AliasDomainExists(name)) {
      observer->OnDomain(name, DomainOutcome::kAlias);
      continue;
    }
    if (!IsSafeDirectoryName(name, target->names)) {
      // Its accounts' mailboxes would be path pieces ("..\evil"): it is
      // written nowhere, and its accounts are refused by the account step.
      host->AppendLogLine(texts.unsafe_domain_name + name);
      host->SelectLastLine();
      ++*failure_lines;
      observer->OnDomain(name, DomainOutcome::kFailed);
      continue;
    }
    host->AppendLogLine(texts.importing_domain + name);
    host->SelectLastLine();
    // A name longer than the record's field is refused by the store, so it
    // is reported like any other failed addition.
    if (!store->AddDomain(MigratedDomain(name))) {
      host->AppendLogLine(texts.domain_failed);
      ++*failure_lines;
      observer->OnDomain(name, DomainOutcome::kFailed);
    } else {
      // Only what was added counts: not a failed addition, nor one whose
      // save fails later.
      observer->OnDomain(name, DomainOutcome::kAdded);
      held.push_back(name);
      ++stats->domain_count;
    }
    commit(false);
  }
  commit(true);
}

}  // namespace vm
