// The lines a run reports: catalogue messages and error lines, printed as
// text, or with /JSON and /EVENTLOG taken into the run's record.
#pragma once

#include <cstdint>

#include "common/item_scope.h"

// Prints catalogue message `id` with up to two inserts; with `lineEnd` the
// line is closed after it. Reports no failure. With /JSON nothing is printed.
void ReportMessage(ItemScope& scope, uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd);

// Closes a line left open by a trace text (one without a line end).
void ReportLineEnd(ItemScope& scope);

// Prints the error line for `code` (a catalogue id or a system code), about
// `path` when one is given, followed by an empty line.
void ReportError(ItemScope& scope, uint32_t code, const wchar_t* path);
