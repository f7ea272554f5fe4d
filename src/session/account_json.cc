#include "session/account_json.h"

#include <charconv>
#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string_view>

#include "migrate/outcome_table.h"
#include "platform/code_page.h"
#include "session/account_list.h"

namespace vm {
namespace {

// A JSON string: printable ASCII as it stands; anything else (escapes,
// UTF-8, bytes that are not UTF-8 and become U+FFFD) as the library that
// writes the rest of the report writes it.
void AppendString(std::string* out, std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
      *out +=
          nlohmann::json(std::string(text))
              .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
      return;
    }
  }
  *out += '"';
  *out += text;
  *out += '"';
}

template <typename Number>
void AppendNumber(std::string* out, Number n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof(digits), n).ptr;
  out->append(digits, end);
}

// An object's members, one a line, opened at `indent` spaces.
class Members {
 public:
  Members(std::string* out, int indent) : out_(out), indent_(indent) {
    *out_ += '{';
  }
  // Starts the member `name`; its value is appended next.
  std::string* Name(std::string_view name) {
    *out_ += first_ ? "\n" : ",\n";
    first_ = false;
    out_->append(static_cast<size_t>(indent_) + 2, ' ');
    *out_ += '"';
    *out_ += name;
    *out_ += "\": ";
    return out_;
  }
  void String(std::string_view name, std::string_view text) {
    AppendString(Name(name), text);
  }
  template <typename Number>
  void Count(std::string_view name, Number n) {
    AppendNumber(Name(name), n);
  }
  void End() {
    if (!first_) {
      *out_ += '\n';
      out_->append(static_cast<size_t>(indent_), ' ');
    }
    *out_ += '}';
  }

 private:
  std::string* out_;
  const int indent_;
  bool first_ = true;
};

// The counts of a folder or an account, written in name order among the
// object's other members: Until(name) writes those that sort before it.
class Counts {
 public:
  Counts(Members* members, const FolderRecord& f) : m_(members), f_(f) {}
  void Until(std::string_view name) {
    while (next_ < std::size(kNames) &&
           (name.empty() || kNames[next_] < name)) {
      Put(next_++);
    }
  }

 private:
  static constexpr std::string_view kNames[] = {
      "already_present", "checked",      "copied",          "copied_bytes",
      "different",       "failed",       "missing",         "removed",
      "removed_bytes",   "source_bytes", "source_messages", "verification"};

  void Put(size_t i) {
    const FolderCounts& c = f_.counts;
    const std::string_view name = kNames[i];
    switch (i) {
      case 0:
        return m_->Count(name, c.present);
      case 1:
        return m_->Count(name, f_.checked);
      case 2:
        return m_->Count(name, c.copied);
      case 3:
        return m_->Count(name, c.copied_bytes);
      case 4:
        return m_->Count(name, f_.different);
      case 5:
        return m_->Count(name, c.failed);
      case 6:
        return m_->Count(name, f_.missing);
      case 7:
        return m_->Count(name, c.removed);
      case 8:
        return m_->Count(name, c.removed_bytes);
      case 9:
        return m_->Count(name, c.bytes);
      case 10:
        return m_->Count(name, c.messages);
      default:
        return m_->String(name, f_.Verification());
    }
  }

  Members* m_;
  const FolderRecord& f_;
  size_t next_ = 0;
};

void AppendFolder(std::string* out, const FolderRecord& f,
                  const CodePage& code_page, int indent) {
  Members m(out, indent);
  Counts counts(&m, f);
  counts.Until("name");
  m.String("name", code_page.ToUtf8(f.counts.name));
  counts.Until("");
  m.End();
}

}  // namespace

void AppendAccountJson(std::string* out, const AccountRecord& a,
                       const Texts& texts, const CodePage& code_page,
                       int indent) {
  const OutcomeReason why = AccountReason(texts, a.outcome, a.reason);
  const FolderRecord sum = a.Sum();
  Members m(out, indent);
  Counts counts(&m, sum);
  counts.Until("domain");
  m.String("domain", code_page.ToUtf8(a.domain));
  counts.Until("folders");
  std::string* folders = m.Name("folders");
  *folders += '[';
  bool first = true;
  const std::string folder_indent(static_cast<size_t>(indent) + 4, ' ');
  for (const FolderRecord& f : a.folders) {
    *folders += first ? "\n" : ",\n";
    first = false;
    *folders += folder_indent;
    AppendFolder(folders, f, code_page, indent + 4);
  }
  if (!first) {
    *folders += '\n';
    folders->append(static_cast<size_t>(indent) + 2, ' ');
  }
  *folders += ']';
  counts.Until("outcome");
  m.String("outcome", OutcomeName(a.outcome));
  m.String("reason", code_page.ToUtf8(why.text));
  m.String("reason_key", why.key);
  counts.Until("target_mailbox");
  m.String("target_mailbox", code_page.ToUtf8(a.target_box));
  m.String("user", code_page.ToUtf8(a.user));
  counts.Until("");
  m.End();
}

}  // namespace vm
