#include "migrate/target_mailbox.h"

#include "migrate/message_names.h"
#include "migrate/safe_name.h"
#include "platform/code_page.h"

namespace vm {

std::string TargetMailbox(const std::string& store,
                          const SourceAccount& account,
                          const std::string& primary_domain,
                          const NameOps& names, const CodePage* code_page) {
  const std::string& user = account.user_name;
  std::string box_name = user.substr(0, names.Find(user, '@'));
  if (!names.EqualsIgnoringCase(account.domain, primary_domain)) {
    box_name += "@" + account.domain;
  }
  if (!IsSafeDirectoryName(user, names) ||
      !IsSafeDirectoryName(box_name, names) ||
      IsCopyTemporaryName(box_name, names)) {
    return std::string();
  }
  // A name the code page cannot hold names no directory: its mailbox would
  // be taken for one that does not exist.
  if (code_page != nullptr &&
      (!code_page->IsValidAnsi(user) || !code_page->IsValidAnsi(box_name))) {
    return std::string();
  }
  return store + "\\" + box_name;
}

}  // namespace vm
