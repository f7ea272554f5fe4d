#include "app/run_plan.h"

#include <cstdio>

#include "app/run_record.h"
#include "platform/code_page.h"

namespace vm {

namespace {

std::string Megabytes(uint64_t bytes) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.1f MB", bytes / 1048576.0);
  return text;
}

const char* PlanWord(AccountOutcome outcome) {
  switch (outcome) {
    case AccountOutcome::kAdded:
      return "add";
    case AccountOutcome::kResumed:
      return "finish";
    case AccountOutcome::kSynced:
      return "sync";
    case AccountOutcome::kExists:
      return "present";
    case AccountOutcome::kAlias:
      return "alias";
    case AccountOutcome::kRefused:
      return "refused";
    case AccountOutcome::kFailed:
      return "fails";
    case AccountOutcome::kSkippedNoDomainLine:
    case AccountOutcome::kSkippedAliasDomain:
    case AccountOutcome::kSkippedNoDomain:
      return "left out";
    case AccountOutcome::kAbsent:
      return "absent";
    case AccountOutcome::kUnfinished:
      return "unfinished";
  }
  return "?";
}

}  // namespace

std::string PlanText(const RunRecord& record, const CodePage& code_page,
                     bool free_known, uint64_t free_bytes, bool* fits) {
  auto u = [&code_page](const std::string& ansi) {
    return code_page.ToUtf8(ansi);
  };
  std::string add, present, fail;
  int added = 0, held = 0, failing = 0;
  for (const DomainRecordOutcome& d : record.domains()) {
    if (d.outcome == DomainOutcome::kAdded) {
      add += "  " + u(d.name) + "\n";
      ++added;
    } else if (d.outcome == DomainOutcome::kFailed) {
      fail += "  " + u(d.name) + " (" + u(d.reason) + ")\n";
      ++failing;
    } else {
      present +=
          "  " + u(d.name) +
          (d.outcome == DomainOutcome::kAlias ? " (alias domain)\n" : "\n");
      ++held;
    }
  }
  std::string text = "Plan (dry run: nothing was written)\n";
  text += "Domains to add: " + std::to_string(added) + "\n" + add;
  text += "Domains present: " + std::to_string(held) + "\n" + present;
  if (failing > 0) {
    text += "Domains that would fail: " + std::to_string(failing) + "\n" + fail;
  }

  int64_t total_messages = 0;
  uint64_t total_bytes = 0;
  text += "Accounts: " + std::to_string(record.accounts().size()) + "\n";
  for (const AccountRecord& a : record.accounts()) {
    std::string name = a.user.find('@') == std::string::npos
                           ? a.user + "@" + a.domain
                           : a.user;
    text += "  " + u(name) + ": " + PlanWord(a.outcome);
    if (!a.folders.empty()) {
      const FolderCounts sum = a.Sum().counts;
      text += ", " + std::to_string(sum.copied) + " messages, " +
              std::to_string(sum.copied_bytes) + " bytes to copy";
      if (sum.failed > 0) {
        text += ", " + std::to_string(sum.failed) + " failing";
      }
      total_messages += sum.copied;
      total_bytes += sum.copied_bytes;
    }
    if (!a.reason.empty()) text += " (" + u(a.reason) + ")";
    text += "\n";
  }
  text += "Total to copy: " + std::to_string(total_messages) + " messages, " +
          std::to_string(total_bytes) + " bytes (" + Megabytes(total_bytes) +
          ")\n";
  *fits = true;
  if (!free_known) {
    text += "Free space of the mail store's volume: unknown\n";
  } else {
    text +=
        "Free space of the mail store's volume: " + std::to_string(free_bytes) +
        " bytes (" + Megabytes(free_bytes) + ")\n";
    if (total_bytes > free_bytes) {
      *fits = false;
      text +=
          "WARNING: the mail to copy does not fit on the mail store's "
          "volume; free " +
          Megabytes(total_bytes - free_bytes) + " more before the run.\n";
    }
  }
  return text;
}

}  // namespace vm
