#include "migrate/source_lists.h"

#include <utility>

#include "migrate/run_host.h"
#include "migrate/run_observer.h"
#include "migrate/texts.h"
#include "platform/file_system.h"
#include "util/md5.h"
#include "util/split_string.h"

namespace vm {

namespace {

// Lines as a text stream reads them: LF or CR LF ends a line and is
// removed; nothing else is changed; a final line end adds no empty line.
template <typename Fn>
void ForEachLine(const std::string& text, Fn fn) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    fn(text.substr(start, stop - start));
    start = end + 1;
  }
}

// Reads a list file; false after showing the right message.
bool ReadList(FileSystem* fs, const std::string& path,
              const std::string& missing, const std::string& unreadable,
              RunHost* host, std::string* text) {
  if (!fs->Exists(path)) {
    host->ShowMessage(missing);
    return false;
  }
  if (!fs->ReadFile(path, text, nullptr)) {
    host->ShowMessage(unreadable);
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

std::string AsciiLower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string TrimWhiteSpace(const std::string& text) {
  const char* kWhite = " \t\r\n\v\f";
  size_t begin = text.find_first_not_of(kWhite);
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(kWhite);
  return text.substr(begin, end - begin + 1);
}

bool LoadSourceLists(FileSystem* fs, const std::string& source_dir,
                     const Texts& texts, RunHost* host, int* refused,
                     RunObserver* observer) {
  RunObserver null_observer;
  if (observer == nullptr) observer = &null_observer;
  int refused_here = 0;
  SourceDomainList* domains = host->GetSourceDomains();
  domains->clear();

  std::string text;
  if (!ReadList(fs, source_dir + "\\domain.ini", texts.domain_ini_missing,
                texts.domain_ini_unreadable, host, &text)) {
    return false;
  }
  ForEachLine(text, [&](std::string line) {
    if (line.find('\0') != std::string::npos) {
      // The target keeps names as C strings: the name would be cut at the
      // NUL and become another domain.
      host->AppendLogLine(texts.name_has_nul + line);
      host->SelectLastLine();
      ++refused_here;
      return;
    }
    domains->push_back(SourceDomain{std::move(line), {}});
  });

  if (!ReadList(fs, source_dir + "\\popusers.ini", texts.popusers_ini_missing,
                texts.popusers_ini_unreadable, host, &text)) {
    return false;
  }
  PasswordMode mode = host->GetPasswordMode();
  bool ok = true;
  std::vector<std::string> fields;
  ForEachLine(text, [&](const std::string& line) {
    if (!ok) return;
    SplitString(line, "\t", &fields);
    if (fields.size() < 3) return;  // no domain field to match

    // Domain order decides first, then field 2 before field 3.
    SourceDomain* match = nullptr;
    const std::string* matched_field = nullptr;
    for (SourceDomain& domain : *domains) {
      if (domain.name == fields[2]) {
        matched_field = &fields[2];
      } else if (fields.size() > 3 && domain.name == fields[3]) {
        matched_field = &fields[3];
      } else {
        continue;
      }
      match = &domain;
      break;
    }
    if (match == nullptr) {
      observer->OnAccountEnd(AsciiLower(fields[0]), fields[2],
                             AccountOutcome::kSkippedNoDomainLine, "", "");
      return;
    }

    SourceAccount account;
    account.user_name = AsciiLower(fields[0]);
    account.domain = *matched_field;
    if (account.user_name.find('\0') != std::string::npos) {
      // Cut at the NUL by the target, it would be another account.
      host->AppendLogLine(texts.name_has_nul + account.user_name);
      host->SelectLastLine();
      ++refused_here;
      observer->OnAccountEnd(account.user_name, account.domain,
                             AccountOutcome::kRefused, texts.name_has_nul, "");
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
        if (!ReadPasswordText(host->SuffixText(), &secret)) {
          ok = false;
          return;
        }
        secret = account.user_name + secret;
        break;
      case PasswordMode::kCommonPassword:
        if (!ReadPasswordText(host->CommonPasswordText(), &secret)) {
          ok = false;
          return;
        }
        break;
      case PasswordMode::kSourceCipherText:
        secret = fields[1];
        break;
      default:  // not one of the four options
        ok = false;
        return;
    }
    account.password = "{md5}" + Md5Hex(secret);
    match->accounts.push_back(std::move(account));
  });
  if (refused != nullptr) *refused = refused_here;
  if (!ok) host->ShowMessage(texts.bad_password_text);
  return ok;
}

}  // namespace vm
