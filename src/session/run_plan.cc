#include "session/run_plan.h"

#include <cstdio>

#include "migrate/outcome_table.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/run_record.h"

namespace vm {

std::string Megabytes(uint64_t bytes) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.1f MB", bytes / 1048576.0);
  return text;
}

RunPlan MakePlan(const RunRecord& record, bool free_known,
                 uint64_t free_bytes) {
  RunPlan plan;
  for (const DomainRecordOutcome& d : record.domains()) {
    if (d.outcome == DomainOutcome::kAdded) {
      plan.domains_to_add.push_back(d.name);
    } else if (d.outcome == DomainOutcome::kFailed) {
      plan.domains_failing.emplace_back(d.name, d.reason);
    } else {
      plan.domains_present.emplace_back(d.name,
                                        d.outcome == DomainOutcome::kAlias);
    }
  }
  for (const AccountRecord& a : record.accounts()) {
    PlanAccount account;
    account.name = a.user.find('@') == std::string::npos
                       ? a.user + "@" + a.domain
                       : a.user;
    account.outcome = a.outcome;
    // An account left as it is copies nothing, whatever its folders hold.
    account.has_mail =
        !a.folders.empty() && a.outcome != AccountOutcome::kExists;
    const FolderCounts sum = a.Sum().counts;
    account.messages = sum.copied;
    account.bytes = sum.copied_bytes;
    account.failing = sum.failed;
    account.reason = a.reason;
    plan.messages += account.messages;
    plan.bytes += account.bytes;
    plan.accounts.push_back(std::move(account));
  }
  plan.free_known = free_known;
  plan.free_bytes = free_bytes;
  plan.fits = !free_known || plan.bytes <= free_bytes;
  return plan;
}

std::string PlanText(const RunRecord& record, const CodePage& code_page,
                     bool free_known, uint64_t free_bytes, bool* fits) {
  auto u = [&code_page](const std::string& ansi) {
    return code_page.ToUtf8(ansi);
  };
  const RunPlan plan = MakePlan(record, free_known, free_bytes);
  std::string text = "Plan (dry run: nothing was written)\n";
  text +=
      "Domains to add: " + std::to_string(plan.domains_to_add.size()) + "\n";
  for (const std::string& name : plan.domains_to_add) {
    text += "  " + u(name) + "\n";
  }
  text +=
      "Domains present: " + std::to_string(plan.domains_present.size()) + "\n";
  for (const auto& [name, alias] : plan.domains_present) {
    text += "  " + u(name) + (alias ? " (alias domain)\n" : "\n");
  }
  if (!plan.domains_failing.empty()) {
    text += "Domains that would fail: " +
            std::to_string(plan.domains_failing.size()) + "\n";
    for (const auto& [name, reason] : plan.domains_failing) {
      text += "  " + u(name) + (reason.empty() ? "" : " (" + u(reason) + ")") +
              "\n";
    }
  }
  text += "Accounts: " + std::to_string(plan.accounts.size()) + "\n";
  for (const PlanAccount& a : plan.accounts) {
    text += "  " + u(a.name) + ": " + WordsOf(a.outcome).plan_word;
    if (a.has_mail) {
      text += ", " + std::to_string(a.messages) + " messages, " +
              std::to_string(a.bytes) + " bytes to copy";
      if (a.failing > 0) {
        text += ", " + std::to_string(a.failing) + " failing";
      }
    }
    if (!a.reason.empty()) text += " (" + u(a.reason) + ")";
    text += "\n";
  }
  text += "Total to copy: " + std::to_string(plan.messages) + " messages, " +
          std::to_string(plan.bytes) + " bytes (" + Megabytes(plan.bytes) +
          ")\n";
  *fits = plan.fits;
  if (!free_known) {
    text += "Free space of the mail store's volume: unknown\n";
  } else {
    text +=
        "Free space of the mail store's volume: " + std::to_string(free_bytes) +
        " bytes (" + Megabytes(free_bytes) + ")\n";
    if (!plan.fits) {
      text +=
          "WARNING: the mail to copy does not fit on the mail store's "
          "volume; free " +
          Megabytes(plan.bytes - free_bytes) + " more before the run.\n";
    }
  }
  return text;
}

std::vector<std::string> PlanLines(const RunPlan& plan, const Texts& texts) {
  const std::string indent(4, ' ');
  std::vector<std::string> lines;
  lines.push_back(std::string(34, '*'));
  lines.push_back(texts.plan_head);
  lines.push_back(texts.plan_domains_to_add +
                  std::to_string(plan.domains_to_add.size()));
  for (const std::string& name : plan.domains_to_add) {
    lines.push_back(indent + name);
  }
  lines.push_back(texts.plan_domains_present +
                  std::to_string(plan.domains_present.size()));
  for (const auto& [name, alias] : plan.domains_present) {
    lines.push_back(indent + name +
                    (alias ? texts.plan_alias_mark : std::string()));
  }
  if (!plan.domains_failing.empty()) {
    lines.push_back(texts.plan_domains_failing +
                    std::to_string(plan.domains_failing.size()));
    for (const auto& [name, reason] : plan.domains_failing) {
      lines.push_back(indent + name +
                      (reason.empty()
                           ? std::string()
                           : texts.why_open + reason + texts.why_close));
    }
  }
  lines.push_back(texts.plan_accounts + std::to_string(plan.accounts.size()));
  for (const PlanAccount& p : plan.accounts) {
    std::string line =
        indent + p.name + ": " + texts.*WordsOf(p.outcome).plan_text;
    if (p.has_mail) {
      line += texts.plan_mails + std::to_string(p.messages) +
              texts.plan_mails_size + std::to_string(p.bytes) +
              texts.plan_bytes;
      if (p.failing > 0) {
        line +=
            texts.plan_comma + std::to_string(p.failing) + texts.plan_failing;
      }
    }
    // The result list's own line says why; the plan word says the rest.
    if (!p.reason.empty()) {
      line += texts.why_open + p.reason + texts.why_close;
    }
    lines.push_back(line);
  }
  lines.push_back(texts.plan_total + std::to_string(plan.messages) +
                  texts.plan_mails_size + Megabytes(plan.bytes));
  if (!plan.free_known) {
    lines.push_back(texts.plan_free_unknown);
  } else {
    lines.push_back(texts.plan_free + Megabytes(plan.free_bytes));
    if (!plan.fits) {
      lines.push_back(texts.plan_no_space +
                      Megabytes(plan.bytes - plan.free_bytes) +
                      texts.no_space_tail);
    }
  }
  return lines;
}

}  // namespace vm
