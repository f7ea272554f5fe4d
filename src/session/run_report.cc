#include "session/run_report.h"

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string_view>

#include "migrate/outcome_table.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/run_record.h"

namespace vm {

namespace {

nlohmann::json CountsJson(const FolderRecord& f) {
  return {{"source_messages", f.counts.messages},
          {"source_bytes", f.counts.bytes},
          {"copied", f.counts.copied},
          {"copied_bytes", f.counts.copied_bytes},
          {"already_present", f.counts.present},
          {"failed", f.counts.failed},
          {"verification", f.Verification()},
          {"checked", f.checked},
          {"missing", f.missing},
          {"different", f.different},
          {"removed", f.counts.removed},
          {"removed_bytes", f.counts.removed_bytes}};
}

// A spreadsheet runs a field that starts with one of these as a formula;
// a name from the source tree is data.
bool LooksLikeFormula(const std::string& text) {
  return !text.empty() &&
         std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
}

std::string CsvCounts(const FolderRecord& f) {
  std::string row;
  for (uint64_t n :
       {static_cast<uint64_t>(f.counts.messages), f.counts.bytes,
        static_cast<uint64_t>(f.counts.copied), f.counts.copied_bytes,
        static_cast<uint64_t>(f.counts.present),
        static_cast<uint64_t>(f.counts.failed),
        static_cast<uint64_t>(f.checked), static_cast<uint64_t>(f.missing),
        static_cast<uint64_t>(f.different)}) {
    row += "," + std::to_string(n);
  }
  return row;
}

// The columns that came after reason_key, appended at the end of a row.
std::string CsvLaterCounts(const FolderRecord& f) {
  return "," + std::to_string(f.counts.removed) + "," +
         std::to_string(f.counts.removed_bytes);
}

}  // namespace

std::string IsoTime(int64_t seconds) {
  // Days since 1970 to a civil date (proleptic Gregorian calendar).
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];
  std::snprintf(
      text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
      static_cast<long long>(year), static_cast<long long>(month),
      static_cast<long long>(day), static_cast<long long>(rest / 3600),
      static_cast<long long>(rest / 60 % 60),
      static_cast<long long>(rest % 60));
  return text;
}

namespace {

// Invalid bytes left after the conversion become U+FFFD rather than an
// exception.
std::string Dumped(const nlohmann::json& value) {
  return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json ReportJsonWithoutAccounts(const ReportHeader& header,
                                         const RunRecord& record,
                                         const CodePage& code_page) {
  using nlohmann::json;
  auto u = [&code_page](const std::string& ansi) {
    return code_page.ToUtf8(ansi);
  };
  json report;
  report["tool"] = "velquor-migrate";
  report["version"] = header.version;
  report["started"] = IsoTime(header.started);
  report["ended"] = IsoTime(header.ended);
  report["manifest"] = header.manifest;
  json options = json::object();
  for (const auto& [name, value] : header.options) options[name] = value;
  for (const auto& [name, value] : header.flags) options[name] = value;
  report["options"] = options;

  json domain_outcomes = json::object();
  const Texts texts = MakeTexts(code_page);
  for (const DomainOutcomeWords& w : DomainOutcomeTable()) {
    domain_outcomes[w.name] = 0;
  }
  json domains = json::array();
  for (const DomainRecordOutcome& d : record.domains()) {
    const OutcomeReason why = DomainReason(texts, d.outcome, d.reason);
    domains.push_back({{"name", u(d.name)},
                       {"outcome", OutcomeName(d.outcome)},
                       {"reason_key", why.key},
                       {"reason", u(why.text)}});
    domain_outcomes[OutcomeName(d.outcome)] =
        domain_outcomes[OutcomeName(d.outcome)].get<int64_t>() + 1;
  }
  std::map<std::string, int64_t> account_counts;
  for (const AccountOutcomeWords& w : AccountOutcomeTable()) {
    account_counts[w.name] = 0;
  }
  FolderRecord all;
  int64_t left_out = 0;
  for (const AccountRecord& a : record.accounts()) {
    all.Add(a.Sum());
    if (a.outcome == AccountOutcome::kSkippedNoDomainLine ||
        a.outcome == AccountOutcome::kSkippedAliasDomain) {
      ++left_out;
    }
    ++account_counts[OutcomeName(a.outcome)];
  }
  json totals = {{"domains", header.stats.domain_count},
                 {"accounts", header.stats.user_count},
                 {"messages", header.stats.mail_count},
                 {"failed_copies", header.stats.failed_copies},
                 {"passwords_followed", header.stats.passwords_followed},
                 {"passwords_kept", header.stats.passwords_kept},
                 {"gone_accounts", header.stats.gone_accounts},
                 {"gone_domains", header.stats.gone_domains},
                 {"accounts_left_out", left_out},
                 {"failure_lines", header.failure_lines},
                 {"succeeded", header.succeeded},
                 {"stopped", header.stopped},
                 {"domain_outcomes", std::move(domain_outcomes)},
                 {"account_outcomes", account_counts}};
  totals.update(CountsJson(all));
  report["totals"] = std::move(totals);
  report["domains"] = std::move(domains);
  return report;
}

}  // namespace

std::string ReportJsonTextWithoutAccounts(const ReportHeader& header,
                                          const RunRecord& record,
                                          const CodePage& code_page) {
  return Dumped(ReportJsonWithoutAccounts(header, record, code_page));
}

std::string CsvField(const std::string& raw) {
  std::string text = LooksLikeFormula(raw) ? "'" + raw : raw;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvHeaderRow() {
  // The byte-order mark tells a spreadsheet the file is UTF-8. The reason's
  // key came later than the other columns and goes last, so that a reader
  // that counts columns finds the others where they were.
  return "\xEF\xBB\xBFuser,domain,outcome,reason,target_mailbox,folder,"
         "source_messages,source_bytes,copied,copied_bytes,already_present,"
         "failed,checked,missing,different,verification,reason_key,removed,"
         "removed_bytes\r\n";
}

std::string CsvAccountRows(const AccountRecord& a, const Texts& texts,
                           const CodePage& code_page) {
  auto u = [&code_page](const std::string& ansi) {
    return CsvField(code_page.ToUtf8(ansi));
  };
  const OutcomeReason why = AccountReason(texts, a.outcome, a.reason);
  const std::string account = u(a.user) + "," + u(a.domain) + "," +
                              OutcomeName(a.outcome) + "," + u(why.text) + "," +
                              u(a.target_box) + ",";
  const std::string key = "," + why.key;
  std::string rows;
  for (const FolderRecord& f : a.folders) {
    rows += account + u(f.counts.name) + CsvCounts(f) + "," + f.Verification() +
            key + CsvLaterCounts(f) + "\r\n";
  }
  if (a.folders.empty()) {
    // One row still names the account; it has no folder.
    const FolderRecord sum = a.Sum();
    rows += account + CsvCounts(sum) + "," + sum.Verification() + key +
            CsvLaterCounts(sum) + "\r\n";
  }
  return rows;
}

std::string CsvTotalRow(const FolderRecord& all) {
  return ",,total,,," + CsvCounts(all) + "," + all.Verification() + "," +
         CsvLaterCounts(all) + "\r\n";
}

std::string CsvReport(const RunRecord& record, const CodePage& code_page) {
  std::string csv = CsvHeaderRow();
  const Texts texts = MakeTexts(code_page);
  FolderRecord all;
  for (const AccountRecord& a : record.accounts()) {
    csv += CsvAccountRows(a, texts, code_page);
    all.Add(a.Sum());
  }
  return csv + CsvTotalRow(all);
}

const char* PasswordModeName(PasswordMode mode) {
  switch (mode) {
    case PasswordMode::kSameAsUserName:
      return "same";
    case PasswordMode::kUserNamePlusSuffix:
      return "suffix";
    case PasswordMode::kCommonPassword:
      return "common";
    case PasswordMode::kSourceCipherText:
      return "cipher";
  }
  return "?";
}

}  // namespace vm
