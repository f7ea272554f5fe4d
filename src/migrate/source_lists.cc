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
  int refused_here = 0;
  SourceDomainList* domains = host->GetSourceDomains();
  domains->clear();

  std::string domain_text;
  if (!ReadList(fs, source_dir + "\\domain.ini", texts.domain_ini_missing,
                texts.domain_ini_unreadable, host, &domain_text)) {
    return false;
  }
  ConvertUtf8List(code_page, &domain_text);
  // A name listed again adds nothing (its accounts attach to the first),
  // so it is kept once: a list of millions of empty lines is one domain.
  std::unordered_set<std::string_view> listed;
  ForEachLineOfAnyEnd(domain_text, [&](std::string_view line) {
    if (!listed.insert(line).second) return;
    if (line.find('\0') != std::string_view::npos) {
      // The target keeps names as C strings: the name would be cut at the
      // NUL and become another domain.
      host->AppendLogLine(texts.name_has_nul + std::string(line));
      host->SelectLastLine();
      ++refused_here;
      return;
    }
    if (HasControlCharacter(line)) {
      // The target's XML files cannot hold it: saved, it would make the
      // whole file unreadable.
      host->AppendLogLine(texts.name_has_control + std::string(line));
      host->SelectLastLine();
      ++refused_here;
      return;
    }
    domains->push_back(SourceDomain{std::string(line), {}});
  });

  std::string text;
  if (!ReadList(fs, source_dir + "\\popusers.ini", texts.popusers_ini_missing,
                texts.popusers_ini_unreadable, host, &text)) {
    return false;
  }
  ConvertUtf8List(code_page, &text);
  const PasswordMode mode = passwords.mode;
  bool ok = true;
  ForEachLineOfAnyEnd(text, [&](std::string_view line) {
    if (!ok) return;
    std::string_view fields[4];
    size_t field_count = CutAccountFields(line, fields);
    if (field_count < 3) return;  // no domain field to match

    // Domain order decides first, then field 2 before field 3.
    SourceDomain* match = nullptr;
    std::string_view matched_field;
    for (SourceDomain& domain : *domains) {
      if (domain.name == fields[2]) {
        matched_field = fields[2];
      } else if (field_count > 3 && domain.name == fields[3]) {
        matched_field = fields[3];
      } else {
        continue;
      }
      match = &domain;
      break;
    }
    if (match == nullptr) {
      observer->OnAccountEnd(names.Fold(fields[0]), std::string(fields[2]),
                             AccountOutcome::kSkippedNoDomainLine, "", "");
      return;
    }

    SourceAccount account;
    account.user_name = names.Fold(fields[0]);
    account.domain = std::string(matched_field);
    if (account.user_name.find('\0') != std::string::npos) {
      // Cut at the NUL by the target, it would be another account.
      host->AppendLogLine(texts.name_has_nul + account.user_name);
      host->SelectLastLine();
      ++refused_here;
      observer->OnAccountEnd(account.user_name, account.domain,
                             AccountOutcome::kRefused, texts.name_has_nul, "");
      return;
    }
    if (HasControlCharacter(account.user_name)) {
      host->AppendLogLine(texts.name_has_control + account.user_name);
      host->SelectLastLine();
      ++refused_here;
      observer->OnAccountEnd(account.user_name, account.domain,
                             AccountOutcome::kRefused, texts.name_has_control,
                             "");
      return;
    }
    if (account.user_name.size() > kMaxNameBytes ||
        account.domain.size() > kMaxNameBytes) {
      // The target's records hold 64 bytes; a cut name would be another
      // account, so the account is left out, visibly.
      host->AppendLogLine(texts.name_too_long + account.user_name);
      host->SelectLastLine();
      ++refused_here;
      observer->OnAccountEnd(account.user_name, account.domain,
                             AccountOutcome::kRefused, texts.name_too_long, "");
      return;
    }

    std::string secret;
    switch (mode) {
      case PasswordMode::kSameAsUserName:
        secret = account.user_name;
        break;
      case PasswordMode::kUserNamePlusSuffix:
        if (!ReadPasswordText(passwords.suffix, &secret)) {
          ok = false;
          return;
        }
        secret = account.user_name + secret;
        break;
      case PasswordMode::kCommonPassword:
        if (!ReadPasswordText(passwords.common, &secret)) {
          ok = false;
          return;
        }
        break;
      case PasswordMode::kSourceCipherText:
        secret = std::string(fields[1]);
        break;
      default:  // not one of the four options
        ok = false;
        return;
    }
    account.password = "{md5}" + Md5Hex(secret);
    match->accounts.push_back(std::move(account));
  });
  if (refused != nullptr) *refused = refused_here;
  if (!ok) host->ShowMessage(MessageKind::kWarning, texts.bad_password_text);
  return ok;
}

}  // namespace vm
