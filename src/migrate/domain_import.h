#ifndef VM_MIGRATE_DOMAIN_IMPORT_H_
#define VM_MIGRATE_DOMAIN_IMPORT_H_

namespace vm {

class DomainStore;
struct ImportSteps;

// The domain step: settles target->primary_domain from the file, then adds
// every source domain of the host's list that the target knows neither as a
// domain nor as an alias, with the default settings of a migrated domain.
// Logs "importing domain" before and a failure line after each failed
// addition (also counted in *steps.failure_lines). Sets the domain count
// to the number of domains submitted. Tells steps.observer (when non-null)
// the outcome of every source domain.
void ImportDomains(DomainStore* store, const ImportSteps& steps);

}  // namespace vm

#endif  // VM_MIGRATE_DOMAIN_IMPORT_H_
