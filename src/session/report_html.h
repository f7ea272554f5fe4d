#ifndef VM_SESSION_REPORT_HTML_H_
#define VM_SESSION_REPORT_HTML_H_

#include <functional>
#include <string>
#include <string_view>

#include "session/run_report.h"

namespace vm {

// The report of a run as one HTML page for people: the verdict, the
// summary's counts as tiles, what needs attention (each failed, refused or
// left-out account and folder with its reason and the user guide's section
// on it), charts drawn as inline SVG, and every account grouped by domain.
// The page fetches nothing and runs nothing: inline styles and pictures
// only, under a Content-Security-Policy that forbids everything else; it
// prints on A4. UTF-8; every name is converted from the code page and
// escaped. Written a piece at a time through `add`, an account at a time,
// so a run of very many accounts never holds the page whole; false as soon
// as `add` fails.
bool WriteHtmlReport(const std::function<bool(std::string_view)>& add,
                     const ReportHeader& header, const RunRecord& record,
                     const CodePage& code_page);

// `utf8` as HTML text, in an element or a quoted attribute: the five
// characters HTML gives meaning to as references, and each control byte as
// the JSON report writes it ("\\u0001"), visible rather than obeyed.
std::string HtmlEscaped(std::string_view utf8);

}  // namespace vm

#endif  // VM_SESSION_REPORT_HTML_H_
