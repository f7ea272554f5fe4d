#include "app/run_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/run_record.h"
#include "platform/code_page.h"

namespace vm {

namespace {

const char* VerificationName(const FolderRecord& folder) {
  if (!folder.verified) return "not checked";
  return folder.missing == 0 && folder.different == 0 ? "passed" : "failed";
}

const char* VerificationName(const AccountRecord& account) {
  bool checked = false;
  for (const FolderRecord& f : account.folders) checked |= f.verified;
  if (!checked) return "not checked";
  return account.VerificationFailed() ? "failed" : "passed";
}

std::string CsvField(const std::string& raw) {
  // A spreadsheet would run a field starting with these as a formula; a
  // name from the source tree is data.
  std::string text;
  if (!raw.empty() && (raw[0] == '=' || raw[0] == '+' || raw[0] == '@')) {
    text.push_back('\'');
  }
  text += raw;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
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

std::string JsonReport(const ReportHeader& header, const RunRecord& record,
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
  json options = json::object();
  for (const auto& [name, value] : header.options) options[name] = value;
  for (const auto& [name, value] : header.flags) options[name] = value;
  report["options"] = options;

  int64_t copied = 0, present = 0, failed = 0, left_out = 0;
  uint64_t copied_bytes = 0;
  json domains = json::array();
  for (const DomainRecordOutcome& d : record.domains()) {
    domains.push_back(
        {{"name", u(d.name)}, {"outcome", OutcomeName(d.outcome)}});
  }
  json accounts = json::array();
  for (const AccountRecord& a : record.accounts()) {
    json folders = json::array();
    for (const FolderRecord& f : a.folders) {
      json folder = {{"name", u(f.counts.name)},
                     {"source_messages", f.counts.messages},
                     {"source_bytes", f.counts.bytes},
                     {"copied", f.counts.copied},
                     {"copied_bytes", f.counts.copied_bytes},
                     {"already_present", f.counts.present},
                     {"failed", f.counts.failed},
                     {"verification", VerificationName(f)}};
      if (f.verified) {
        folder["missing"] = f.missing;
        folder["different"] = f.different;
      }
      folders.push_back(std::move(folder));
      copied += f.counts.copied;
      copied_bytes += f.counts.copied_bytes;
      present += f.counts.present;
      failed += f.counts.failed;
    }
    if (a.outcome == AccountOutcome::kSkippedNoDomainLine ||
        a.outcome == AccountOutcome::kSkippedAliasDomain) {
      ++left_out;
    }
    accounts.push_back({{"user", u(a.user)},
                        {"domain", u(a.domain)},
                        {"outcome", OutcomeName(a.outcome)},
                        {"reason", u(a.reason)},
                        {"target_mailbox", u(a.target_box)},
                        {"verification", VerificationName(a)},
                        {"folders", std::move(folders)}});
  }
  report["totals"] = {{"domains", header.stats.domain_count},
                      {"accounts", header.stats.user_count},
                      {"messages", header.stats.mail_count},
                      {"failed_copies", header.stats.failed_copies},
                      {"copied", copied},
                      {"copied_bytes", copied_bytes},
                      {"already_present", present},
                      {"failed", failed},
                      {"accounts_left_out", left_out},
                      {"failure_lines", header.failure_lines},
                      {"succeeded", header.succeeded},
                      {"stopped", header.stopped}};
  report["domains"] = std::move(domains);
  report["accounts"] = std::move(accounts);
  // Invalid bytes left after the conversion become U+FFFD rather than an
  // exception.
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string CsvReport(const RunRecord& record, const CodePage& code_page) {
  std::string csv =
      "user,domain,outcome,reason,target_mailbox,source_messages,"
      "source_bytes,copied,copied_bytes,already_present,failed,"
      "verification\r\n";
  for (const AccountRecord& a : record.accounts()) {
    int64_t messages = 0, present = 0, failed = 0;
    uint64_t bytes = 0;
    for (const FolderRecord& f : a.folders) {
      messages += f.counts.messages;
      bytes += f.counts.bytes;
      present += f.counts.present;
      failed += f.counts.failed;
    }
    csv += CsvField(code_page.ToUtf8(a.user)) + "," +
           CsvField(code_page.ToUtf8(a.domain)) + "," + OutcomeName(a.outcome) +
           "," + CsvField(code_page.ToUtf8(a.reason)) + "," +
           CsvField(code_page.ToUtf8(a.target_box)) + "," +
           std::to_string(messages) + "," + std::to_string(bytes) + "," +
           std::to_string(a.Copied()) + "," + std::to_string(a.CopiedBytes()) +
           "," + std::to_string(present) + "," + std::to_string(failed) + "," +
           VerificationName(a) + "\r\n";
  }
  return csv;
}

}  // namespace vm
