// The lines a run reports: catalogue messages and error lines, as text, or
// with /JSON and /EVENTLOG as parts of the run's record.
#include <cwchar>
#include <string>

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"

void ReportMessage(ItemScope& scope, uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd) {
  // With /JSON the events say it all: no line of text goes out.
  if (OutputFlags & JsonFlag) return;
  PrintMessage(scope, id, insert1, insert2, lineEnd);
}

void ReportLineEnd(ItemScope& scope) {
  if (!(OutputFlags & JsonFlag)) WriteOutput(scope, L"\n");
}

void ReportError(ItemScope& scope, uint32_t code, const wchar_t* path) {
  const bool catalogued = code > kCatalogIdBound;
  const std::wstring text = ErrorText(code, catalogued ? path : nullptr);
  std::wstring line = ErrorPrefix;
  line += L' ';
  // A path is never passed into a system text; it stands before it.
  if (!catalogued && path) {
    line += path;
    line += L" : ";
  }
  line += text;
  if (TakeError(scope, code, text, path, line)) return;
  if (EscapeNames && path) {
    // On a terminal the path is shown with its escapes, in the text too.
    const std::wstring marked = MarkedForTerminal(path, std::wcslen(path));
    line = ErrorPrefix;
    line += L' ';
    if (catalogued) {
      line += ErrorText(code, marked.c_str());
    } else {
      line += marked;
      line += L" : ";
      line += text;
    }
  }
  line += L'\n';
  WriteOutput(scope, EscapeNames ? UnmarkedLine(line) : line);
}
