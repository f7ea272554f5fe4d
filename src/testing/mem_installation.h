#ifndef VM_TESTS_SUPPORT_MEM_INSTALLATION_H_
#define VM_TESTS_SUPPORT_MEM_INSTALLATION_H_

#include <memory>
#include <string>
#include <vector>

#include "migrate/migration_run.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "testing/mem_target.h"
#include "testing/recording_host.h"

namespace vm {

// A source installation under "C:\src" and a target "C:\t" whose mail store
// is "C:\t\store", with the host the steps report to. Texts are GBK.
class MemInstallation : public MemTarget {
 public:
  MemInstallation() : code_page(OpenCodePage("GBK")) {
    texts = MakeTexts(*code_page);
    settings.source_dir = kSource;
    settings.target_mail_dir = std::string(kDir) + "\\store";
    fs.CreateDir(std::string(kSource) + "\\mail", nullptr);
  }

  // Source domains, each with the accounts "user" or "user@domain" given.
  void Domains(const std::vector<std::string>& names) {
    host.domains.clear();
    for (const std::string& name : names) host.domains.push_back({name, {}});
  }
  void Accounts(size_t domain, const std::vector<std::string>& users) {
    for (const std::string& user : users) {
      host.domains[domain].accounts.push_back(
          SourceAccount{user, host.domains[domain].name, "{md5}1"});
    }
  }
  // The result list in UTF-8, a line end after each line.
  std::string ResultList() const {
    std::string text;
    for (const std::string& line : host.lines) {
      text += code_page->ToUtf8(line) + "\n";
    }
    return text;
  }
  // Every call the host saw, in UTF-8, a line end after each.
  std::string Events() const {
    std::string text;
    for (const std::string& event : host.events) {
      text += code_page->ToUtf8(event) + "\n";
    }
    return text;
  }
  std::string Store(const std::string& path) {
    return Read(settings.target_mail_dir + "\\" + path);
  }

  std::unique_ptr<CodePage> code_page;
  Texts texts;
  RecordingHost host;
  RunSettings settings;
  MigrationStats stats;
};

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_MEM_INSTALLATION_H_
