#ifndef VM_SESSION_REPORT_FILE_H_
#define VM_SESSION_REPORT_FILE_H_

#include <string>

#include "session/run_report.h"

namespace vm {

class FileSystem;

// Writes the report of a run to `path`: JSON (JsonReport's bytes) or CSV
// (CsvReport's). The file is replaced as a whole, as ReplaceContents does,
// but the text is made and written an account at a time, so that a run of
// very many accounts never holds its report whole.
bool WriteReportFile(FileSystem* fs, const std::string& path, bool json,
                     const ReportHeader& header, const RunRecord& record,
                     const CodePage& code_page, std::string* error);

}  // namespace vm

#endif  // VM_SESSION_REPORT_FILE_H_
