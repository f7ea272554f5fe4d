#include "config/domain_store.h"

#include <string>

#include "config/field_text.h"
#include "config/item_writer.h"
#include "config/target_context.h"

namespace vm {
namespace {

std::string ChildTextOf(const XmlDocument& doc, int32_t item,
                        std::string_view name) {
  int32_t child = FirstChildNamed(doc, item, name);
  return child == 0 ? std::string() : doc.ElementText(child);
}

// Whether any item of `list` has a child `field` whose text equals `name`.
bool ListHasName(const XmlDocument& doc, const NameOps& names,
                 std::string_view list, std::string_view field,
                 const std::string& name) {
  int32_t list_index = FindList(doc, list);
  if (list_index == 0) return false;
  for (int32_t item = doc.Element(list_index).first_child; item != 0;
       item = doc.Element(item).next) {
    if (doc.ElementName(item) != "item") continue;
    if (names.EqualsIgnoringCase(ChildTextOf(doc, item, field), name)) {
      return true;
    }
  }
  return false;
}

// The fields in the order the target's own tools write them, which is not
// the record's field order.
void WriteDomainFields(const DomainRecord& r, const char* type, ItemWriter* w) {
  w->Always("domain", r.domain);
  w->Always("type", type);
  w->Number("pwdencrypt", r.pwdencrypt);
  w->Text("description", r.description);
  w->Number("publicuserinfo", r.publicuserinfo);
  w->Number("maxmailboxquota", r.maxmailboxquota);
  w->Number("maxmailboxmailnum", r.maxmailboxmailnum);
  w->Number("netstorequota", r.netstorequota);
  w->Number("netstoretotallimit", r.netstoretotallimit);
  w->Number("defaultwarninglimit", r.defaultwarninglimit);
  w->Number("sendcontrol", r.sendcontrol);
  w->Number("recvcontrol", r.recvcontrol);
  w->Text("senddomainlist", r.senddomainlist);
  w->Text("recvdomainlist", r.recvdomainlist);
  w->Number("pop3control", r.pop3control);
  w->Number("imapcontrol", r.imapcontrol);
  w->Number("webmailcontrol", r.webmailcontrol);
  w->Number("netstorecontrol", r.netstorecontrol);
  w->Number("calendarcontrol", r.calendarcontrol);
  w->Number("notebookcontrol", r.notebookcontrol);
  w->Number("modifyuserinfo", r.modifyuserinfo);
  w->Number("externalpop3", r.externalpop3);
  w->Number("autoforward", r.autoforward);
  w->Number("autoreply", r.autoreply);
  w->Number("spamcontrol", r.spamcontrol);
  w->Number("publiccontact", r.publiccontact);
  w->Number("smsnotify", r.smsnotify);
  w->Number("sendsms", r.sendsms);
  w->Number("expiretime", r.expiretime);
  w->Number("sendfreq", r.sendfreq);
  w->Number("sendmaxmsgsize", r.sendmaxmsgsize);
  w->Number("localtimes", r.localtimes);
  w->Number("localsize", r.localsize);
  w->Number("remotetimes", r.remotetimes);
  w->Number("remotesize", r.remotesize);
  w->Number("chgpassword", r.chgpassword);
  w->Number("pwdexpiredays", r.pwdexpiredays);
  w->Number("pwdlength", r.pwdlength);
  w->Number("pwdlevel", r.pwdlevel);
  w->Number("addressnum", r.addressnum);
  w->Number("mailfilternum", r.mailfilternum);
  w->Number("signaturenum", r.signaturenum);
  w->Number("externalmailnum", r.externalmailnum);
  w->Number("maxpop3mailsize", r.maxpop3mailsize);
  w->Number("maxpop3mailtotal", r.maxpop3mailtotal);
}

// The record fields read by LoadAllDomains, by element name; the two
// conversion-only elements are handled beside them.
struct Int32Field {
  const char* name;
  int32_t DomainRecord::*field;
};

constexpr Int32Field kInt32Fields[] = {
    {"type", &DomainRecord::type},
    {"pwdencrypt", &DomainRecord::pwdencrypt},
    {"publicuserinfo", &DomainRecord::publicuserinfo},
    {"everyonegroup", &DomainRecord::everyonegroup},
    {"maxmailboxmailnum", &DomainRecord::maxmailboxmailnum},
    {"netstoretotallimit", &DomainRecord::netstoretotallimit},
    {"defaultwarninglimit", &DomainRecord::defaultwarninglimit},
    {"sendcontrol", &DomainRecord::sendcontrol},
    {"recvcontrol", &DomainRecord::recvcontrol},
    {"pop3control", &DomainRecord::pop3control},
    {"imapcontrol", &DomainRecord::imapcontrol},
    {"webmailcontrol", &DomainRecord::webmailcontrol},
    {"netstorecontrol", &DomainRecord::netstorecontrol},
    {"calendarcontrol", &DomainRecord::calendarcontrol},
    {"notebookcontrol", &DomainRecord::notebookcontrol},
    {"modifyuserinfo", &DomainRecord::modifyuserinfo},
    {"externalpop3", &DomainRecord::externalpop3},
    {"autoforward", &DomainRecord::autoforward},
    {"autoreply", &DomainRecord::autoreply},
    {"spamcontrol", &DomainRecord::spamcontrol},
    {"publiccontact", &DomainRecord::publiccontact},
    {"smsnotify", &DomainRecord::smsnotify},
    {"sendsms", &DomainRecord::sendsms},
    {"expiretime", &DomainRecord::expiretime},
    {"chgpassword", &DomainRecord::chgpassword},
    {"pwdexpiredays", &DomainRecord::pwdexpiredays},
    {"pwdlength", &DomainRecord::pwdlength},
    {"pwdlevel", &DomainRecord::pwdlevel},
    {"addressnum", &DomainRecord::addressnum},
    {"signaturenum", &DomainRecord::signaturenum},
    {"externalmailnum", &DomainRecord::externalmailnum},
    {"mailfilternum", &DomainRecord::mailfilternum},
    {"maxpop3mailsize", &DomainRecord::maxpop3mailsize},
    {"maxpop3mailtotal", &DomainRecord::maxpop3mailtotal},
    {"sendmaxmsgsize", &DomainRecord::sendmaxmsgsize},
    {"sendfreq", &DomainRecord::sendfreq},
    {"localtimes", &DomainRecord::localtimes},
    {"localsize", &DomainRecord::localsize},
    {"remotetimes", &DomainRecord::remotetimes},
    {"remotesize", &DomainRecord::remotesize},
};

// A send or receive control of 1 names an explicit domain list in the
// older form; it becomes 8 (all domains) or 12 (the listed ones).
void ConvertControl(int32_t* control, std::string* list, int32_t allow_all,
                    const std::string& ext_list) {
  if (*control != 1) return;
  *list = ext_list;
  *control = (allow_all == 1 || allow_all == 3) ? 8 : 12;
}

DomainRecord ReadDomainItem(const XmlDocument& doc, int32_t item) {
  DomainRecord r;
  int32_t allow_all = 0;
  std::string ext_list;
  for (int32_t child = doc.Element(item).first_child; child != 0;
       child = doc.Element(child).next) {
    std::string name = doc.ElementName(child);
    std::string text = doc.ElementText(child);
    if (EqualsIgnoringAsciiCase(name, "domain")) {
      r.domain = text.substr(0, DomainRecord::kMaxDomainBytes);
    } else if (EqualsIgnoringAsciiCase(name, "description")) {
      r.description = text.substr(0, DomainRecord::kMaxDescriptionBytes);
    } else if (EqualsIgnoringAsciiCase(name, "senddomainlist")) {
      r.senddomainlist = text;
    } else if (EqualsIgnoringAsciiCase(name, "recvdomainlist")) {
      r.recvdomainlist = text;
    } else if (EqualsIgnoringAsciiCase(name, "extdomainlist")) {
      ext_list = text;
    } else if (EqualsIgnoringAsciiCase(name, "allowalldomain")) {
      allow_all = ParseDecimal32(text);
    } else if (EqualsIgnoringAsciiCase(name, "maxmailboxquota")) {
      r.maxmailboxquota = ParseDecimal64(text);
    } else if (EqualsIgnoringAsciiCase(name, "netstorequota")) {
      r.netstorequota = ParseDecimal64(text);
    } else {
      for (const Int32Field& f : kInt32Fields) {
        if (EqualsIgnoringAsciiCase(name, f.name)) {
          r.*f.field = ParseDecimal32(text);
          break;
        }
      }
    }
  }
  ConvertControl(&r.sendcontrol, &r.senddomainlist, allow_all, ext_list);
  ConvertControl(&r.recvcontrol, &r.recvdomainlist, allow_all, ext_list);
  return r;
}

}  // namespace

DomainStore::DomainStore(TargetContext* context)
    : ConfigFile(context, "domain.cfg", "\\data\\domain.cfg", "\\domain.cfg"),
      removals_("domain", {"domain"}, &context_->names) {}

DomainStore::~DomainStore() { Close(); }

bool DomainStore::DomainExists(const std::string& name) {
  MutexLock guard(&mutex_);
  return DomainExistsLocked(name);
}

bool DomainStore::AliasDomainExists(const std::string& name) {
  MutexLock guard(&mutex_);
  return AliasDomainExistsLocked(name);
}

bool DomainStore::DomainExistsLocked(const std::string& name) const {
  return ListHasName(document_, context_->names, "domain", "domain", name);
}

bool DomainStore::AliasDomainExistsLocked(const std::string& name) const {
  return ListHasName(document_, context_->names, "domainalias", "aliasdomain",
                     name);
}

std::string DomainStore::FindPrimaryDomain() {
  MutexLock guard(&mutex_);
  int32_t list = FindList(document_, "domain");
  if (list == 0) return "";
  for (int32_t item = document_.Element(list).first_child; item != 0;
       item = document_.Element(item).next) {
    if (document_.ElementName(item) != "item") continue;
    int32_t type = FirstChildNamed(document_, item, "type");
    if (type != 0 && ParseDecimal32(document_.ElementText(type)) == 1) {
      return ChildTextOf(document_, item, "domain");
    }
  }
  return "";
}

bool DomainStore::AddDomain(const DomainRecord& record) {
  MutexLock guard(&mutex_);
  std::string_view domain = UpToNul(record.domain);
  if (domain.empty() || domain.size() > DomainRecord::kMaxDomainBytes ||
      UpToNul(record.description).size() > DomainRecord::kMaxDescriptionBytes) {
    return false;
  }
  const char* type = "0";
  if (context_->primary_domain.empty()) {
    type = "1";
    context_->primary_domain = std::string(domain);
  }
  PendingDomain added;
  added.name = record.domain;
  added.record = record;
  added.type = type;
  if (FindList(document_, "domain") == 0) return false;
  // Even an item cut short stays in the document.
  NoteAddition();
  if (!AppendItem(&added)) return false;
  pending_domains_.push_back(std::move(added));
  return true;
}

bool DomainStore::AppendItem(PendingDomain* added) {
  ItemWriter writer(&document_, "domain");
  if (!writer.opened()) return false;
  WriteDomainFields(added->record, added->type, &writer);
  added->written = writer.Written();
  return writer.ok();
}

bool DomainStore::Merge(XmlDocument* fresh) {
  document_ = std::move(*fresh);
  for (PendingDomain& added : pending_domains_) {
    // Another writer added it meanwhile: it exists, as a check would say.
    if (DomainExistsLocked(added.record.domain) ||
        AliasDomainExistsLocked(added.record.domain)) {
      added.written = AddedItem{};
      continue;
    }
    if (!AppendItem(&added)) return false;
  }
  return removals_.Reapply(&document_);
}

void DomainStore::PendingSaved() {
  MoveWrittenAdditions(&pending_domains_, &saved_additions_);
  removals_.Saved();
}

std::vector<SavedAddition> DomainStore::AboutToWriteLocked() const {
  return WrittenAdditions(pending_domains_);
}

std::vector<SavedAddition> DomainStore::TakeSavedAdditions() {
  MutexLock guard(&mutex_);
  std::vector<SavedAddition> taken;
  taken.swap(saved_additions_);
  return taken;
}

std::vector<RemovalOutcome> DomainStore::RemoveAddedDomains(
    const std::vector<AddedItem>& items) {
  MutexLock guard(&mutex_);
  if (items.empty()) return {};
  NoteRemoval();
  return removals_.Request(&document_, items);
}

std::vector<RemovalOutcome> DomainStore::TakeSavedRemovals() {
  MutexLock guard(&mutex_);
  return removals_.TakeSaved();
}

bool DomainStore::LoadAllDomains(std::vector<DomainRecord>* domains) {
  MutexLock guard(&mutex_);
  domains->clear();
  int32_t list = FindList(document_, "domain");
  if (list == 0) return false;
  for (int32_t item = document_.Element(list).first_child; item != 0;
       item = document_.Element(item).next) {
    if (document_.ElementName(item) != "item") continue;
    domains->push_back(ReadDomainItem(document_, item));
  }
  return true;
}

}  // namespace vm
