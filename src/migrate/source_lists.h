#ifndef VM_MIGRATE_SOURCE_LISTS_H_
#define VM_MIGRATE_SOURCE_LISTS_H_

#include <string>
#include <vector>

#include "util/name_ops.h"

namespace vm {

class CodePage;
class FileSystem;
class RunHost;
class RunObserver;
struct Texts;

// The four ways a target password is made, numbered as the dialog's radio
// buttons are.
enum class PasswordMode {
  kSameAsUserName = 1,      // digest of the lower-cased user name
  kUserNamePlusSuffix = 2,  // digest of user name + suffix edit
  kCommonPassword = 3,      // digest of the common-password edit
  kSourceCipherText = 4,    // digest of the source's stored cipher text
};

// Longest user or domain name the target's records hold, in bytes.
inline constexpr size_t kMaxNameBytes = 64;
// Longest suffix or common password accepted, in bytes.
inline constexpr size_t kMaxPasswordTextBytes = 20;

// One account of popusers.ini. The account step fills `domain` with the
// matched source domain's name before adding the account.
struct SourceAccount {
  std::string user_name;  // field 0, folded (NameOps::Fold)
  std::string domain;     // field 2 or 3, whichever matched
  std::string password;   // "{md5}" + 32 lower-case hex digits
};

// One line of domain.ini with the accounts attached to it, in file order.
struct SourceDomain {
  std::string name;
  std::vector<SourceAccount> accounts;
};

using SourceDomainList = std::vector<SourceDomain>;

// How the run makes the target's passwords: the option, and the texts of
// the suffix and of the common password, untrimmed, as the user typed them.
struct PasswordOptions {
  PasswordMode mode = PasswordMode::kSameAsUserName;
  std::string suffix;
  std::string common;
};

// Reads source_dir\domain.ini and source_dir\popusers.ini into the host's
// SourceDomainList and builds every password as `passwords` says. Returns false
// after showing one message box through the host when a list is missing or
// unreadable, or a suffix / common password is empty or longer than 20 bytes
// after trimming.
//
// The list is emptied first, so a second run does not see every domain
// twice. Account lines with fewer than three fields, and accounts whose
// user name or matched domain exceeds 64 bytes, are not attached; the
// latter are named in the result list and counted in *refused (when
// non-null). `observer` (when non-null) is told of every account left out
// here: refused names, and accounts whose domain is no line of domain.ini.
// A domain.ini line that repeats an earlier one is left out.
//
// Lines end in CR LF, LF or CR. A list that begins with a UTF-8
// byte-order mark is UTF-8: it is converted with `code_page` (when
// non-null; else only the mark is removed). User names are folded by
// `names`, the run's code page.
bool LoadSourceLists(FileSystem* fs, const std::string& source_dir,
                     const Texts& texts, RunHost* host,
                     const PasswordOptions& passwords, int* refused = nullptr,
                     RunObserver* observer = nullptr,
                     const CodePage* code_page = nullptr,
                     const NameOps& names = NameOps());

// Removes leading and trailing blanks, TABs, CRs, LFs, VTs and FFs.
std::string TrimWhiteSpace(const std::string& text);

}  // namespace vm

#endif  // VM_MIGRATE_SOURCE_LISTS_H_
