#include "migrate/source_lists.h"

#include <string_view>
#include <unordered_set>
#include <utility>

#include "migrate/run_host.h"
#include "migrate/run_observer.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "util/ascii.h"
#include "util/md5.h"

namespace vm {

namespace {

// The fields of an account line that the loader uses (0 to 3), cut at each
// TAB (an empty piece after a final TAB is no field), without
// keeping the rest: a line of millions of TABs costs nothing. Returns how
// many of the four exist.
size_t CutAccountFields(std::string_view line, std::string_view fields[4]) {
  size_t count = 0;
  size_t pos = 0;
  while (count < 4) {
    size_t tab = line.find('\t', pos);
    if (tab == std::string_view::npos) {
      if (pos < line.size()) fields[count++] = line.substr(pos);
      break;
    }
    fields[count++] = line.substr(pos, tab - pos);
    pos = tab + 1;
  }
  return count;
}

// A control character other than TAB, which no XML text may hold. (No
// trail byte of a double-byte character is below 0x40.)
bool HasControlCharacter(std::string_view name) {
  for (char c : name) {
    if (c > 0 && c < 0x20 && c != '\t') return true;
  }
  return false;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A list re-saved by an editor as UTF-8 begins with a byte-order mark: its
// text is converted to the code page, so the first name neither carries
// the mark nor any other name stays in UTF-8.
void ConvertUtf8List(const CodePage* code_page, std::string* text) {
  if (text->compare(0, kUtf8Bom.size(), kUtf8Bom) != 0) return;
  text->erase(0, kUtf8Bom.size());
  if (code_page != nullptr) *text = code_page->ToAnsi(*text);
}

// Reads a list file; false after showing the right message.
bool ReadList(FileSystem* fs, const std::string& path,
              const std::string& missing, const std::string& unreadable,
              RunHost* host, std::string* text) {
  if (!fs->Exists(path)) {
    host->ShowMessage(MessageKind::kError, missing);
    return false;
  }
  if (!fs->ReadFile(path, text, nullptr)) {
    host->ShowMessage(MessageKind::kError, unreadable);
    return false;
  }
  return true;
}

// The edit text for a password option, trimmed; false when it is empty or
// longer than 20 bytes.
bool ReadPasswordText(const std::string& raw, std::string* text) {
  *text = TrimWhiteSpace(raw);
  return !text->empty() && text->size() <= kMaxPasswordTextBytes;
}

// Reads domain.ini into the host's list: each name once, names the target
// could not hold refused with a line. False after showing the message when
// the list cannot be read.
bool ReadDomainList(FileSystem* fs, const std::string& source_dir,
                    const Texts& texts, RunHost* host,
                    const CodePage* code_page, int* refused) {
  std::string text;
  if (!ReadList(fs, source_dir + "\\domain.ini", texts.domain_ini_missing,
                texts.domain_ini_unreadable, host, &text)) {
    return false;
  }
  ConvertUtf8List(code_page, &text);
  SourceDomainList* domains = host->GetSourceDomains();
  // A name listed again adds nothing (its accounts attach to the first),
  // so it is kept once: a list of millions of empty lines is one domain.
  std::unordered_set<std::string_view> listed;
  ForEachLineOfAnyEnd(text, [&](std::string_view line) {
    if (!listed.insert(line).second) return;
    // The target keeps names as C strings: a name with a NUL would be cut
    // and become another domain. Its XML files cannot hold a control
    // character: saved, it would make the whole file unreadable.
    const bool nul = line.find('\0') != std::string_view::npos;
    if (nul || HasControlCharacter(line)) {
      host->AppendLogLine((nul ? texts.name_has_nul : texts.name_has_control) +
                          std::string(line));
      host->SelectLastLine();
      ++*refused;
      return;
    }
    domains->push_back(SourceDomain{std::string(line), {}});
  });
  return true;
}

// The lines of popusers.ini, each added to the account list of its domain.
class AccountLines {
 public:
  AccountLines(const Texts& texts, RunHost* host,
               const PasswordOptions& passwords, RunObserver* observer,
               const NameOps& names)
      : texts_(texts),
        host_(host),
        observer_(observer),
        names_(names),
        domains_(host->GetSourceDomains()),
        passwords_(passwords) {}

  // Adds the account of one line; false (and nothing more is added) when
  // the password texts are not usable.
  bool Add(std::string_view line);

  int refused() const { return refused_; }

 private:
  // Domain order decides first, then field 2 before field 3.
  SourceDomain* MatchDomain(const std::string_view fields[4], size_t count,
                            std::string_view* matched) const;
  // Refuses a name the target could not hold, with its line.
  bool Refused(const SourceAccount& account);
  // The account's password digest; false when the option's text is not
  // usable.
  bool SetPassword(std::string_view cipher, SourceAccount* account) const;

  const Texts& texts_;
  RunHost* host_;
  RunObserver* observer_;
  const NameOps& names_;
  SourceDomainList* domains_;
  const PasswordOptions& passwords_;
  int refused_ = 0;
};

SourceDomain* AccountLines::MatchDomain(const std::string_view fields[4],
                                        size_t count,
                                        std::string_view* matched) const {
  for (SourceDomain& domain : *domains_) {
    if (domain.name == fields[2]) {
      *matched = fields[2];
      return &domain;
    }
    if (count > 3 && domain.name == fields[3]) {
      *matched = fields[3];
      return &domain;
    }
  }
  return nullptr;
}

bool AccountLines::Refused(const SourceAccount& account) {
  const std::string* why = nullptr;
  if (account.user_name.find('\0') != std::string::npos) {
    // Cut at the NUL by the target, it would be another account.
    why = &texts_.name_has_nul;
  } else if (HasControlCharacter(account.user_name)) {
    why = &texts_.name_has_control;
  } else if (account.user_name.size() > kMaxNameBytes ||
             account.domain.size() > kMaxNameBytes) {
    // The target's records hold 64 bytes; a cut name would be another
    // account, so the account is left out, visibly.
    why = &texts_.name_too_long;
  } else {
    return false;
  }
  host_->AppendLogLine(*why + account.user_name);
  host_->SelectLastLine();
  ++refused_;
  observer_->OnAccountEnd(account.user_name, account.domain,
                          AccountOutcome::kRefused, *why, "");
  return true;
}

bool AccountLines::SetPassword(std::string_view cipher,
                               SourceAccount* account) const {
  std::string secret;
  switch (passwords_.mode) {
    case PasswordMode::kSameAsUserName:
      secret = account->user_name;
      break;
    case PasswordMode::kUserNamePlusSuffix:
      if (!ReadPasswordText(passwords_.suffix, &secret)) return false;
      secret = account->user_name + secret;
      break;
    case PasswordMode::kCommonPassword:
      if (!ReadPasswordText(passwords_.common, &secret)) {
        return false;
      }
      break;
    case PasswordMode::kSourceCipherText:
      secret = std::string(cipher);
      break;
    default:  // not one of the four options
      return false;
  }
  account->password = "{md5}" + Md5Hex(secret);
  return true;
}

bool AccountLines::Add(std::string_view line) {
  std::string_view fields[4];
  const size_t count = CutAccountFields(line, fields);
  if (count < 3) return true;  // no domain field to match
  std::string_view matched;
  SourceDomain* match = MatchDomain(fields, count, &matched);
  if (match == nullptr) {
    observer_->OnAccountEnd(names_.Fold(fields[0]), std::string(fields[2]),
                            AccountOutcome::kSkippedNoDomainLine, "", "");
    return true;
  }
  SourceAccount account;
  account.user_name = names_.Fold(fields[0]);
  account.domain = std::string(matched);
  if (Refused(account)) return true;
  if (!SetPassword(fields[1], &account)) return false;
  match->accounts.push_back(std::move(account));
  return true;
}

}  // namespace

std::string TrimWhiteSpace(const std::string& text) {
  const char* kWhite = " \t\r\n\v\f";
  size_t begin = text.find_first_not_of(kWhite);
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(kWhite);
  return text.substr(begin, end - begin + 1);
}

bool LoadSourceLists(FileSystem* fs, const std::string& source_dir,
                     const Texts& texts, RunHost* host,
                     const PasswordOptions& passwords, int* refused,
                     RunObserver* observer, const CodePage* code_page,
                     const NameOps& names) {
  RunObserver null_observer;
  if (observer == nullptr) observer = &null_observer;
  int refused_domains = 0;
  host->GetSourceDomains()->clear();
  if (!ReadDomainList(fs, source_dir, texts, host, code_page,
                      &refused_domains)) {
    return false;
  }
  std::string text;
  if (!ReadList(fs, source_dir + "\\popusers.ini", texts.popusers_ini_missing,
                texts.popusers_ini_unreadable, host, &text)) {
    return false;
  }
  ConvertUtf8List(code_page, &text);
  AccountLines accounts(texts, host, passwords, observer, names);
  bool ok = true;
  ForEachLineOfAnyEnd(text, [&](std::string_view line) {
    if (ok) ok = accounts.Add(line);
  });
  // The lists stay for the whole run: no room beyond their accounts.
  for (SourceDomain& domain : *host->GetSourceDomains()) {
    domain.accounts.shrink_to_fit();
  }
  if (refused != nullptr) *refused = refused_domains + accounts.refused();
  if (!ok) host->ShowMessage(MessageKind::kWarning, texts.bad_password_text);
  return ok;
}

}  // namespace vm
