// The record of a run: item events and the summary, as catalogue lines, JSON
// Lines or events of the system's log, and the progress line on an
// interactive standard error.
#include "common/run_report.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <cassert>
#include <cwchar>
#include <set>
#include <tuple>
#include <type_traits>
#include <utility>

#include "common/catalog.h"
#include "common/run_state.h"
#include "platform/platform.h"
#include "version.h"

uint32_t OutputFlags = 0;

namespace {

// wchar_t holds UTF-16 on Windows and UTF-32 elsewhere; the JSON text is
// written as wide characters and encoded by the output routine.
using WideEncoding =
    std::conditional_t<sizeof(wchar_t) == 2, rapidjson::UTF16<wchar_t>, rapidjson::UTF32<wchar_t>>;
using JsonBuffer = rapidjson::GenericStringBuffer<WideEncoding>;
using JsonWriter = rapidjson::Writer<JsonBuffer, WideEncoding, WideEncoding>;

}  // namespace

namespace {

// Counted by whichever thread ends an item.
struct Tally {
  std::atomic<uint64_t> workAreas{0}, logs{0}, entries{0}, bytes{0};
  std::atomic<uint64_t> running{0}, otherHost{0}, ownerUnknown{0}, failed{0}, young{0};
  std::atomic<uint64_t> unread{0};  // by the walk's thread only
};
Tally Counts;

// The items met so far, by identity. The thread that begins an item (the
// walk's) touches it, only while it holds CountedLock (a spin lock: the set
// is touched briefly, once an item); cleared between runs.
std::set<std::tuple<uint64_t, uint64_t, uint64_t>> CountedItems;
std::atomic_flag CountedLock = ATOMIC_FLAG_INIT;

// True the first time the item `identity` is met. Asked when an item is
// begun, on the walk's thread in the walk's order, so that whichever
// thread ends it, the one counted is the one one thread would count.
bool FirstMet(const plat::FileIdentity& identity) {
  while (CountedLock.test_and_set(std::memory_order_acquire)) {
  }
  const bool first = CountedItems.insert({identity.volume, identity.file, identity.fileHigh}).second;
  CountedLock.clear(std::memory_order_release);
  return first;
}

void ClearCounts() {
  // Between runs, when no thread ends an item: nobody holds the lock.
  assert(!CountedLock.test());
  CountedItems.clear();
  for (std::atomic<uint64_t>* count : {&Counts.workAreas, &Counts.logs, &Counts.entries, &Counts.bytes,
                                       &Counts.running, &Counts.otherHost, &Counts.ownerUnknown, &Counts.failed,
                                       &Counts.young, &Counts.unread})
    count->store(0);
}

struct Progress {
  bool checked = false;
  bool active = false;
  uint32_t columns = 0;
  bool shown = false;
  size_t shownLength = 0;
  bool drawn = false;
  uint64_t lastDrawn = 0;
  uint64_t folders = 0;
  std::atomic<uint64_t> stale{0}, freed{0};  // counted by whichever thread ends an item
};
Progress Line;

void ClearProgress() {
  Line.checked = Line.active = Line.shown = Line.drawn = false;
  Line.columns = 0;
  Line.shownLength = 0;
  Line.lastDrawn = Line.folders = 0;
  Line.stale.store(0);
  Line.freed.store(0);
}

bool ProgressActive() {
  if (!Line.checked) {
    Line.checked = true;
    Line.active = plat::ProgressTerminal(Line.columns) && Line.columns > 1;
  }
  return Line.active;
}

// Under /MINAGE every stale item is measured for its age, so every item is
// accounted for.
bool Accounting() { return OutputFlags != 0 || YoungSince != 0 || ProgressActive(); }

// ---- JSON ----

bool IsSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The text with every unit that is no Unicode character (a POSIX byte that
// was no UTF-8, an unpaired UTF-16 surrogate) replaced by U+FFFD; false
// when there was none.
bool Replaced(const std::wstring& text, std::wstring& clean) {
  clean.clear();
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t unit = text[i];
    if (sizeof(wchar_t) == 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      clean += unit;
      clean += text[++i];
    } else if (IsSurrogate(unit)) {
      clean += static_cast<wchar_t>(0xFFFD);
      any = true;
    } else {
      clean += unit;
    }
  }
  return any;
}

void Text(JsonWriter& json, const std::wstring& text) {
  std::wstring clean;
  Replaced(text, clean);
  json.String(clean.c_str(), static_cast<rapidjson::SizeType>(clean.size()));
}

// A path, told exactly: where it is no Unicode text, `<key>_bytes` gives
// the platform's own bytes for it in hexadecimal.
void PathField(JsonWriter& json, const wchar_t* key, const std::wstring& path) {
  std::wstring clean;
  const bool replaced = Replaced(path, clean);
  json.Key(key);
  json.String(clean.c_str(), static_cast<rapidjson::SizeType>(clean.size()));
  if (!replaced) return;
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring hex;
  for (unsigned char byte : plat::NativeBytes(path)) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  json.Key((std::wstring(key) + L"_bytes").c_str());
  json.String(hex.c_str(), static_cast<rapidjson::SizeType>(hex.size()));
}

void Emit(ItemScope& scope, const JsonBuffer& buffer) {
  std::wstring line(buffer.GetString());  // JSON text holds no NUL: \u0000 stands for one
  line += L'\n';
  WriteOutput(scope, line);
}

void TimeField(JsonWriter& json, const wchar_t* key) {
  if ((RunFlags & VerboseFlag) && TimeText) {
    json.Key(key);
    json.String(TimeText);
  }
}

void TextField(JsonWriter& json, const wchar_t* key, const wchar_t* value) {
  json.Key(key);
  json.String(value);
}

void CountField(JsonWriter& json, const wchar_t* key, uint64_t value) {
  json.Key(key);
  json.Uint64(value);
}

const wchar_t* const kVerdicts[] = {L"stale", L"running", L"other_host", L"owner_unknown", L"young"};
const wchar_t* const kActions[] = {L"removed", L"would_remove", L"kept", L"failed"};

void WriteItemEvent(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  const OpenItem& item = scope.item;
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"item");
  TextField(json, L"kind", item.kind == WorkAreaItem ? L"work_area" : L"log");
  PathField(json, L"path", item.path);
  json.Key(L"owner_pid");
  json.Int(item.ownerId);
  json.Key(L"host");
  if (item.hasHost)
    Text(json, item.host);
  else
    json.Null();
  TextField(json, L"verdict", kVerdicts[verdict]);
  TextField(json, L"action", kActions[action]);
  const bool measured = verdict == VerdictStale;
  json.Key(L"entries");
  measured ? json.Uint64(entries) : json.Null();
  json.Key(L"bytes");
  measured ? json.Uint64(bytes) : json.Null();
  if (item.hasError) {
    json.Key(L"error");
    json.StartObject();
    json.Key(L"code");
    json.Uint(item.errorCode);
    json.Key(L"message");
    Text(json, item.errorMessage);
    if (item.errorHasPath) {
      PathField(json, L"path", item.errorPath);
    } else {
      json.Key(L"path");
      json.Null();
    }
    json.EndObject();
  }
  json.EndObject();
  Emit(scope, buffer);
}

// ---- the summary lines ----

// 1204 -> "1,204".
std::wstring Grouped(uint64_t value) {
  std::wstring digits = std::to_wstring(value);
  std::wstring out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += L',';
    out += digits[i];
  }
  return out;
}

// Whole bytes below 1 KB; above, one decimal in the largest unit that keeps
// the number below 1024, 1 KB = 1024 B.
std::wstring Size(uint64_t bytes) {
  static const wchar_t* const kUnits[] = {L"B", L"KB", L"MB", L"GB", L"TB"};
  if (bytes < 1024) return std::to_wstring(bytes) + L" B";
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1023.95 && unit + 1 < 5) {
    value /= 1024.0;
    ++unit;
  }
  wchar_t text[48];
  std::swprintf(text, 48, L"%.1f %ls", value, kUnits[unit]);
  return text;
}

std::wstring Counted(uint64_t count, uint32_t one, uint32_t many) {
  std::wstring text;
  const std::wstring number = Grouped(count);
  if (!plat::CatalogMessage(count == 1 ? one : many, number.c_str(), nullptr, text)) return number;
  if (!text.empty() && text.back() == L'\n') text.pop_back();
  return text;
}

// The two lines of /SUMMARY, each with its line end.
std::wstring SummaryText() {
  std::wstring text, piece;
  const auto add = [&](uint32_t id, const std::wstring& insert1, const std::wstring& insert2) {
    if (plat::CatalogMessage(id, insert1.c_str(), insert2.c_str(), piece)) text += piece;
  };
  add(DeleteEnabled ? MSG_SUMMARY_REMOVED : MSG_SUMMARY_WOULD_REMOVE,
      Counted(Counts.workAreas, MSG_COUNT_WORK_AREA, MSG_COUNT_WORK_AREAS),
      Counted(Counts.logs, MSG_COUNT_LOG_FILE, MSG_COUNT_LOG_FILES));
  add(Counts.entries == 1 ? MSG_SUMMARY_HELD_ONE : MSG_SUMMARY_HELD, Grouped(Counts.entries), Size(Counts.bytes));
  add(MSG_SUMMARY_KEPT, Grouped(Counts.running), Grouped(Counts.otherHost));
  if (YoungSince == 0) {
    add(MSG_SUMMARY_UNKNOWN_FAILED, Grouped(Counts.ownerUnknown), Grouped(Counts.failed));
  } else {
    add(MSG_SUMMARY_UNKNOWN_YOUNG, Grouped(Counts.ownerUnknown), Grouped(Counts.young));
    add(MSG_SUMMARY_FAILED, Grouped(Counts.failed), std::wstring());
  }
  if (Counts.unread != 0) add(MSG_SUMMARY_UNREAD, Grouped(Counts.unread), std::wstring());
  return text;
}

void WriteSummaryEvent(uint32_t status) {
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"summary");
  json.Key(L"list_only");
  json.Bool(DeleteEnabled == 0);
  CountField(json, L"work_areas", Counts.workAreas);
  CountField(json, L"logs", Counts.logs);
  CountField(json, L"entries", Counts.entries);
  CountField(json, L"bytes", Counts.bytes);
  json.Key(L"kept");
  json.StartObject();
  CountField(json, L"running", Counts.running);
  CountField(json, L"other_host", Counts.otherHost);
  CountField(json, L"owner_unknown", Counts.ownerUnknown);
  if (YoungSince != 0) CountField(json, L"young", Counts.young);
  json.EndObject();
  CountField(json, L"failed", Counts.failed);
  if (Counts.unread != 0) CountField(json, L"unread", Counts.unread);
  json.Key(L"status");
  json.Uint(status);
  json.Key(L"exit_code");
  json.Uint(plat::ExitCodeFor(status));
  TimeField(json, L"finished_at");
  json.EndObject();
  Emit(ProgramScope(), buffer);
}

// ---- events of the system's log ----

// Whether the run writes events other than its end: not in list mode.
bool ItemEventsWanted() { return (OutputFlags & EventLogFlag) && DeleteEnabled; }

// Told once a run: events that could not be written.
bool EventFailureTold = false;

std::wstring Number(uint64_t value) { return std::to_wstring(value); }

// `text` without its line ends.
std::wstring Trimmed(std::wstring text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

plat::Event NewEvent(plat::EventKind kind, uint32_t id, std::vector<std::wstring> inserts) {
  plat::Event event;
  event.kind = kind;
  event.error = kind == plat::EventKind::Failed || kind == plat::EventKind::Error;
  event.messageId = id;
  event.inserts = std::move(inserts);
  return event;
}

// The open item's path, owner and verdict, and what it held where it was read.
void ItemFields(const OpenItem& item, plat::Event& event, ItemVerdict verdict, bool measured, uint64_t entries,
                uint64_t bytes) {
  event.fields.push_back({"SWEEPDIRS_PATH", item.path});
  event.fields.push_back({"SWEEPDIRS_OWNER_PID", std::to_wstring(item.ownerId)});
  event.fields.push_back({"SWEEPDIRS_VERDICT", kVerdicts[verdict]});
  if (!measured) return;
  event.fields.push_back({"SWEEPDIRS_ENTRIES", Number(entries)});
  event.fields.push_back({"SWEEPDIRS_BYTES", Number(bytes)});
}

// An error line: the line, then its code, path and system text for scripts.
plat::Event ErrorEvent(uint32_t code, const std::wstring& text, const std::wstring& path, const std::wstring& line) {
  plat::Event event = NewEvent(plat::EventKind::Error, MSG_EVENT_ERROR, {line, Number(code), path, text});
  event.fields.push_back({"SWEEPDIRS_CODE", Number(code)});
  return event;
}

void WriteItemEvents(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  const OpenItem& item = scope.item;
  const std::wstring owner = std::to_wstring(item.ownerId);
  const bool measured = verdict == VerdictStale;
  if (action == ActionFailed) {
    plat::Event event = NewEvent(plat::EventKind::Failed, MSG_EVENT_FAILED,
                                 {item.path, owner, item.errorLine, Number(item.errorCode),
                                  item.errorPath, item.errorMessage, Number(entries), Number(bytes)});
    ItemFields(item, event, verdict, measured, entries, bytes);
    event.fields.push_back({"SWEEPDIRS_CODE", Number(item.errorCode)});
    WriteEvent(scope, std::move(event));
  } else if (item.hasError) {
    // The error line of a kept item: its owner's state could not be found out.
    plat::Event event = ErrorEvent(item.errorCode, item.errorMessage, item.errorPath, item.errorLine);
    ItemFields(item, event, verdict, measured, entries, bytes);
    WriteEvent(scope, std::move(event));
  }
  if (action != ActionRemoved) return;
  plat::Event event = NewEvent(plat::EventKind::Removed, MSG_EVENT_REMOVED,
                               {item.path, owner, Number(entries), Number(bytes)});
  ItemFields(item, event, verdict, measured, entries, bytes);
  WriteEvent(scope, std::move(event));
}

void WriteRunEndEvent(uint32_t status) {
  const uint32_t exitCode = plat::ExitCodeFor(status);
  const bool failed = status != 0;
  plat::Event event = NewEvent(plat::EventKind::RunEnd, failed ? MSG_EVENT_RUN_FAILED : MSG_EVENT_RUN_END,
                               {Number(status), Number(exitCode), SummaryText(), Number(Counts.workAreas),
                                Number(Counts.logs), Number(Counts.entries), Number(Counts.bytes),
                                Number(Counts.running), Number(Counts.otherHost), Number(Counts.ownerUnknown),
                                Number(Counts.failed)});
  event.error = failed;
  event.fields.push_back({"SWEEPDIRS_ENTRIES", Number(Counts.entries)});
  event.fields.push_back({"SWEEPDIRS_BYTES", Number(Counts.bytes)});
  event.fields.push_back({"SWEEPDIRS_STATUS", Number(status)});
  WriteEvent(ProgramScope(), std::move(event));
}

// ---- progress ----

void DrawProgress(const std::wstring& path) {
  const std::wstring folder = EscapedForTerminal(path);  // the line is on a terminal
  std::wstring text;
  // In list mode what the stale items hold would be freed, not freed.
  const uint32_t id = DeleteEnabled ? MSG_PROGRESS : MSG_PROGRESS_LIST;
  if (!plat::CatalogMessage(id, Grouped(Line.folders).c_str(), Grouped(Line.stale).c_str(), text)) return;
  if (!text.empty() && text.back() == L'\n') text.pop_back();
  text += Size(Line.freed);
  text += L"  ";
  // The folder's end says most: the line is cut at its start.
  const size_t room = Line.columns - 1;
  if (text.size() < room) {
    const size_t left = room - text.size();
    if (folder.size() <= left)
      text += folder;
    else
      text += L"..." + folder.substr(EscapeBoundary(folder, folder.size() - (left > 3 ? left - 3 : 0)));
  }
  if (text.size() > room) text.resize(room);
  std::wstring clean;
  Replaced(text, clean);
  const size_t length = clean.size();
  if (length < Line.shownLength) clean.append(Line.shownLength - length, L' ');
  clean.insert(clean.begin(), L'\r');
  plat::FlushText();  // what standard output holds lands before the line is drawn
  plat::WriteProgress(clean.data(), clean.size());
  Line.shown = true;
  Line.shownLength = length;
}

}  // namespace

bool ItemOpen(const ItemScope& scope) { return scope.item.open; }

bool AccountsItems() { return Accounting(); }

void IdentifyNextItem(ItemScope& scope, const plat::FileIdentity& identity) {
  scope.nextIdentified = true;
  scope.nextIdentity = identity;
}

void HandItemOver(ItemScope& from, ItemScope& to) {
  to.item = std::move(from.item);
  from.item = OpenItem();
}

void BeginItem(ItemScope& scope, ItemKind kind, std::wstring_view parent, const wchar_t* name, int32_t ownerId,
               const wchar_t* host, size_t hostLength) {
  if (!Accounting()) return;
  OpenItem& item = scope.item;
  item.open = true;
  item.kind = kind;
  item.path = EntryStem(parent);
  item.path += name;
  item.ownerId = ownerId;
  item.hasHost = host != nullptr;
  item.host.assign(host ? host : L"", host ? hostLength : 0);
  item.hasError = false;
  item.judged.clear();
  item.counted = !scope.nextIdentified || FirstMet(scope.nextIdentity);
  scope.nextIdentified = false;
}

void EndItem(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  OpenItem& item = scope.item;
  if (!item.open) return;
  item.open = false;
  // Counted once however often it is met; its lines stay as they are.
  if (item.counted) switch (action) {
    case ActionRemoved:
    case ActionWouldRemove:
      ++(item.kind == WorkAreaItem ? Counts.workAreas : Counts.logs);
      Counts.entries += entries;
      Counts.bytes += bytes;
      break;
    case ActionFailed:
      ++Counts.failed;
      break;
    case ActionKept:
      ++(verdict == VerdictOtherHost      ? Counts.otherHost
         : verdict == VerdictOwnerUnknown ? Counts.ownerUnknown
         : verdict == VerdictYoung        ? Counts.young
                                          : Counts.running);
      break;
  }
  if (verdict == VerdictStale) ProgressStale(action == ActionRemoved || action == ActionWouldRemove ? bytes : 0);
  if (OutputFlags & JsonFlag) WriteItemEvent(scope, verdict, action, entries, bytes);
  if (ItemEventsWanted()) WriteItemEvents(scope, verdict, action, entries, bytes);
}

void HoldJudgement(ItemScope& scope) {
  if (YoungSince == 0) return;
  scope.judging.clear();
  scope.held = &scope.judging;
}

void EndJudgement(ItemScope& scope, bool stale) {
  if (YoungSince == 0) return;
  scope.held = nullptr;
  if (stale && scope.item.open)
    scope.item.judged.swap(scope.judging);
  else if (!scope.judging.empty())
    WriteOutput(scope, scope.judging);
  scope.judging.clear();
}

std::wstring TakeJudgement(ItemScope& scope) { return std::move(scope.item.judged); }

bool TakeError(ItemScope& scope, uint32_t code, const std::wstring& message, const wchar_t* path,
               const std::wstring& line) {
  OpenItem& item = scope.item;
  const bool asJson = OutputFlags & JsonFlag;
  if (!asJson && !ItemEventsWanted()) return false;
  const std::wstring text = Trimmed(message);
  if (item.open && !item.hasError) {
    item.hasError = true;
    item.errorCode = code;
    item.errorMessage = text;
    item.errorHasPath = path != nullptr;
    item.errorPath = path ? path : L"";
    item.errorLine = Trimmed(line);
    return asJson;
  }
  if (ItemEventsWanted()) {
    plat::Event event = ErrorEvent(code, text, path ? path : L"", Trimmed(line));
    if (path) event.fields.push_back({"SWEEPDIRS_PATH", path});
    WriteEvent(scope, std::move(event));
  }
  if (!asJson) return false;
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"error");
  json.Key(L"code");
  json.Uint(code);
  json.Key(L"message");
  Text(json, text);
  if (path) {
    PathField(json, L"path", path);
  } else {
    json.Key(L"path");
    json.Null();
  }
  json.EndObject();
  Emit(scope, buffer);
  return true;
}

void NoteUnreadFolder(ItemScope& scope, const std::wstring& path, uint32_t code) {
  ++Counts.unread;
  if (!(OutputFlags & JsonFlag)) return;
  std::wstring message;
  plat::SystemMessage(code, message);
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"unread");
  PathField(json, L"path", path);
  json.Key(L"code");
  json.Uint(code);
  json.Key(L"message");
  Text(json, Trimmed(message));
  json.EndObject();
  Emit(scope, buffer);
}

void WriteStartEvent() {
  if (!(OutputFlags & JsonFlag)) return;
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"start");
  TextField(json, L"version", L"" SWEEPDIRS_VERSION_TEXT);
  TextField(json, L"host", HostName);
  json.Key(L"time");
  std::wstring now;
  if (plat::LocalTimestamp(now))
    json.String(now.c_str(), static_cast<rapidjson::SizeType>(now.size()));
  else
    json.Null();
  json.Key(L"list_only");
  json.Bool(DeleteEnabled == 0);
  TimeField(json, L"started_at");
  json.EndObject();
  Emit(ProgramScope(), buffer);
}

void WriteRunSummary(uint32_t status, bool ran) {
  ProgressErase();
  // After the usage text (status 1 without a run) there is nothing to sum up.
  if (OutputFlags & JsonFlag) {
    if (ran || status != 1) WriteSummaryEvent(status);
  } else if ((OutputFlags & SummaryFlag) && ran) {
    WriteOutput(ProgramScope(), SummaryText());
  }
  if ((OutputFlags & EventLogFlag) && (ran || status != 1)) WriteRunEndEvent(status);
}

void ResetRunReport() {
  if (OutputFlags & EventLogFlag) plat::EventLogClose();
  EventFailureTold = false;
  OutputFlags = 0;
  ProgramScope() = ItemScope();
  ClearCounts();
  ClearProgress();
}

void ProgressFolder(const std::wstring& path) {
  if (!ProgressActive()) return;
  ++Line.folders;
  const uint64_t now = plat::MonotonicMilliseconds();
  if (Line.drawn && now - Line.lastDrawn < 250) return;
  Line.drawn = true;
  Line.lastDrawn = now;
  DrawProgress(path);
}

void ProgressStale(uint64_t bytesFreed) {
  if (!Line.active) return;
  ++Line.stale;
  Line.freed += bytesFreed;
}

void ProgressErase() {
  if (!Line.shown) return;
  std::wstring blank(Line.shownLength + 2, L' ');
  blank.front() = L'\r';
  blank.back() = L'\r';
  plat::WriteProgress(blank.data(), blank.size());
  Line.shown = false;
  Line.shownLength = 0;
}

void SendEvent(const plat::Event& event) {
  const uint32_t code = plat::EventLogWrite(event);
  if (code == 0 || EventFailureTold) return;
  // Told once; the run, its output and its exit code go on unchanged.
  EventFailureTold = true;
  std::wstring reason, text;
  if (!plat::SystemMessage(code, reason)) reason = Number(code);
  if (!plat::CatalogMessage(MSG_EVENTLOG_FAILED, Trimmed(reason).c_str(), nullptr, text)) return;
  ProgressErase();
  plat::WriteErrorText(text.data(), text.size());
}
