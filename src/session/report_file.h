#ifndef VM_SESSION_REPORT_FILE_H_
#define VM_SESSION_REPORT_FILE_H_

#include <functional>
#include <string>
#include <string_view>

#include "session/run_report.h"

namespace vm {

class FileSystem;

enum class ReportFormat { kJson, kCsv, kHtml };

// The format a report file's name asks for: ".html" or ".htm" the HTML
// page, ".csv" CSV, anything else JSON (letter case aside).
ReportFormat ReportFormatOf(const std::string& name);

// Writes the report of a run to `path`: JSON, CSV
// (CsvReport's) or the HTML page (WriteHtmlReport's). The file is replaced as a
// whole, as ReplaceContents does, but the text is made and written an account
// at a time, so that a run of very many accounts never holds its report whole.
bool WriteReportFile(FileSystem* fs, const std::string& path,
                     ReportFormat format, const ReportHeader& header,
                     const RunRecord& record, const CodePage& code_page,
                     std::string* error);

// Replaces `path` as WriteReportFile does with the text `write` passes to
// the `add` it is given, a piece at a time, gathered into blocks: for a
// report that is not a run's (an undo's).
using ReportAdd = std::function<bool(std::string_view)>;
bool WritePiecesFile(FileSystem* fs, const std::string& path,
                     const std::function<bool(const ReportAdd& add)>& write,
                     std::string* error);

// The same bytes as one string, for a front end that writes them itself.
std::string ReportText(ReportFormat format, const ReportHeader& header,
                       const RunRecord& record, const CodePage& code_page);

}  // namespace vm

#endif  // VM_SESSION_REPORT_FILE_H_
