#include "session/report_file.h"

#include <string_view>

#include "migrate/texts.h"
#include "platform/file_system.h"
#include "session/account_json.h"
#include "session/report_html.h"
#include "session/run_record.h"

namespace vm {
namespace {

// Gathers small pieces into blocks of about 64 KiB for the writer.
class BlockedWriter {
 public:
  explicit BlockedWriter(const PieceWriter& put) : put_(put) {}
  bool Add(std::string_view text) {
    block_ += text;
    return block_.size() < kBlock || Flush();
  }
  bool Flush() {
    const bool ok = block_.empty() || put_(block_);
    block_.clear();
    return ok;
  }

 private:
  static constexpr size_t kBlock = 65536;
  const PieceWriter& put_;
  std::string block_;
};

// The JSON report: the header, each domain's outcome, and each account's
// (AppendAccountJson). Its members are in name order, so "accounts" comes
// first: the accounts are written one by one, each as it stands inside
// the report (indented by two levels), then the other members.
bool WriteJson(BlockedWriter* out, const ReportHeader& header,
               const RunRecord& record, const Texts& texts,
               const CodePage& code_page) {
  if (!out->Add("{\n  \"accounts\": [")) return false;
  bool first = true;
  std::string text;
  for (const AccountRecord& a : record.accounts()) {
    text = first ? "\n    " : ",\n    ";
    first = false;
    AppendAccountJson(&text, a, texts, code_page, 4);
    if (!out->Add(text)) return false;
  }
  if (!first && !out->Add("\n  ")) return false;
  const std::string rest =
      ReportJsonTextWithoutAccounts(header, record, code_page);
  // `rest` opens with "{\n"; its members follow the accounts.
  return out->Add("],\n") && out->Add(std::string_view(rest).substr(2)) &&
         out->Add("\n");
}

bool WriteCsv(BlockedWriter* out, const RunRecord& record, const Texts& texts,
              const CodePage& code_page) {
  if (!out->Add(CsvHeaderRow())) return false;
  FolderRecord all;
  for (const AccountRecord& a : record.accounts()) {
    if (!out->Add(CsvAccountRows(a, texts, code_page))) return false;
    all.Add(a.Sum());
  }
  return out->Add(CsvTotalRow(all));
}

bool WriteReport(BlockedWriter* out, ReportFormat format,
                 const ReportHeader& header, const RunRecord& record,
                 const CodePage& code_page) {
  const Texts texts = MakeTexts(code_page);
  switch (format) {
    case ReportFormat::kJson:
      return WriteJson(out, header, record, texts, code_page);
    case ReportFormat::kCsv:
      return WriteCsv(out, record, texts, code_page);
    case ReportFormat::kHtml:
      return WriteHtmlReport(
          [out](std::string_view text) { return out->Add(text); }, header,
          record, code_page);
  }
  return false;
}

bool EndsWith(const std::string& name, std::string_view end) {
  if (name.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    char c = name[name.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

}  // namespace

ReportFormat ReportFormatOf(const std::string& name) {
  if (EndsWith(name, ".html") || EndsWith(name, ".htm")) {
    return ReportFormat::kHtml;
  }
  return EndsWith(name, ".csv") ? ReportFormat::kCsv : ReportFormat::kJson;
}

bool WriteReportFile(FileSystem* fs, const std::string& path,
                     ReportFormat format, const ReportHeader& header,
                     const RunRecord& record, const CodePage& code_page,
                     std::string* error) {
  return fs->ReplaceContentsBy(
      path,
      [&](const PieceWriter& put) {
        BlockedWriter out(put);
        return WriteReport(&out, format, header, record, code_page) &&
               out.Flush();
      },
      error);
}

bool WritePiecesFile(FileSystem* fs, const std::string& path,
                     const std::function<bool(const ReportAdd& add)>& write,
                     std::string* error) {
  return fs->ReplaceContentsBy(
      path,
      [&](const PieceWriter& put) {
        BlockedWriter out(put);
        const ReportAdd add = [&out](std::string_view text) {
          return out.Add(text);
        };
        return write(add) && out.Flush();
      },
      error);
}

std::string ReportText(ReportFormat format, const ReportHeader& header,
                       const RunRecord& record, const CodePage& code_page) {
  std::string text;
  const PieceWriter put = [&text](std::string_view piece) {
    text += piece;
    return true;
  };
  BlockedWriter out(put);
  WriteReport(&out, format, header, record, code_page);
  out.Flush();
  return text;
}

}  // namespace vm
