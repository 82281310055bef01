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

struct OpenItem {
  bool open = false;
  ItemKind kind = WorkAreaItem;
  std::wstring path;
  int32_t ownerId = 0;
  bool hasHost = false;
  std::wstring host;
  bool hasError = false;
  uint32_t errorCode = 0;
  std::wstring errorMessage;
  bool errorHasPath = false;
  std::wstring errorPath;
  std::wstring errorLine;  // as printed, for the event log
  std::wstring judged;  // the lines held while a stale item was judged (/MINAGE)
  bool identified = false;  // `identity` holds what the item is
  plat::FileIdentity identity;
  bool counted = true;  // the first time this item was met: it is counted when it ends
};

namespace {

// The item being judged or removed on this thread.
thread_local OpenItem Current;
// The lines held back while this thread judges an item.
thread_local std::wstring Held;

// Counted by whichever thread ends an item.
struct Tally {
  std::atomic<uint64_t> workAreas{0}, logs{0}, entries{0}, bytes{0};
  std::atomic<uint64_t> running{0}, otherHost{0}, ownerUnknown{0}, failed{0}, young{0};
  std::atomic<uint64_t> unread{0};  // by the walk's thread only
};
Tally Counts;

// The identity given for this thread's next item (IdentifyNextItem).
thread_local bool NextIdentified = false;
thread_local plat::FileIdentity NextIdentity;

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

void Emit(const JsonBuffer& buffer) {
  std::wstring line(buffer.GetString());  // JSON text holds no NUL: \u0000 stands for one
  line += L'\n';
  WriteOutput(line);
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

void WriteItemEvent(ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"item");
  TextField(json, L"kind", Current.kind == WorkAreaItem ? L"work_area" : L"log");
  PathField(json, L"path", Current.path);
  json.Key(L"owner_pid");
  json.Int(Current.ownerId);
  json.Key(L"host");
  if (Current.hasHost)
    Text(json, Current.host);
  else
    json.Null();
  TextField(json, L"verdict", kVerdicts[verdict]);
  TextField(json, L"action", kActions[action]);
  const bool measured = verdict == VerdictStale;
  json.Key(L"entries");
  measured ? json.Uint64(entries) : json.Null();
  json.Key(L"bytes");
  measured ? json.Uint64(bytes) : json.Null();
  if (Current.hasError) {
    json.Key(L"error");
    json.StartObject();
    json.Key(L"code");
    json.Uint(Current.errorCode);
    json.Key(L"message");
    Text(json, Current.errorMessage);
    if (Current.errorHasPath) {
      PathField(json, L"path", Current.errorPath);
    } else {
      json.Key(L"path");
      json.Null();
    }
    json.EndObject();
  }
  json.EndObject();
  Emit(buffer);
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
  Emit(buffer);
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
void ItemFields(plat::Event& event, ItemVerdict verdict, bool measured, uint64_t entries, uint64_t bytes) {
  event.fields.push_back({"SWEEPDIRS_PATH", Current.path});
  event.fields.push_back({"SWEEPDIRS_OWNER_PID", std::to_wstring(Current.ownerId)});
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

void WriteItemEvents(ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  const std::wstring owner = std::to_wstring(Current.ownerId);
  const bool measured = verdict == VerdictStale;
  if (action == ActionFailed) {
    plat::Event event = NewEvent(plat::EventKind::Failed, MSG_EVENT_FAILED,
                                 {Current.path, owner, Current.errorLine, Number(Current.errorCode),
                                  Current.errorPath, Current.errorMessage, Number(entries), Number(bytes)});
    ItemFields(event, verdict, measured, entries, bytes);
    event.fields.push_back({"SWEEPDIRS_CODE", Number(Current.errorCode)});
    WriteEvent(std::move(event));
  } else if (Current.hasError) {
    // The error line of a kept item: its owner's state could not be found out.
    plat::Event event = ErrorEvent(Current.errorCode, Current.errorMessage, Current.errorPath, Current.errorLine);
    ItemFields(event, verdict, measured, entries, bytes);
    WriteEvent(std::move(event));
  }
  if (action != ActionRemoved) return;
  plat::Event event = NewEvent(plat::EventKind::Removed, MSG_EVENT_REMOVED,
                               {Current.path, owner, Number(entries), Number(bytes)});
  ItemFields(event, verdict, measured, entries, bytes);
  WriteEvent(std::move(event));
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
  WriteEvent(std::move(event));
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

bool ItemOpen() { return Current.open; }

bool AccountsItems() { return Accounting(); }

void IdentifyNextItem(const plat::FileIdentity& identity) {
  NextIdentified = true;
  NextIdentity = identity;
}

OpenItem* DetachItem() {
  if (!Current.open) return nullptr;
  auto* item = new OpenItem(std::move(Current));
  Current = OpenItem();
  return item;
}

void AttachItem(OpenItem* item) {
  if (!item) return;
  Current = std::move(*item);
  delete item;
}

void BeginItem(ItemKind kind, std::wstring_view parent, const wchar_t* name, int32_t ownerId, const wchar_t* host,
               size_t hostLength) {
  if (!Accounting()) return;
  Current.open = true;
  Current.kind = kind;
  Current.path = EntryStem(parent);
  Current.path += name;
  Current.ownerId = ownerId;
  Current.hasHost = host != nullptr;
  Current.host.assign(host ? host : L"", host ? hostLength : 0);
  Current.hasError = false;
  Current.judged.clear();
  Current.identified = NextIdentified;
  Current.identity = NextIdentity;
  Current.counted = !NextIdentified || FirstMet(NextIdentity);
  NextIdentified = false;
}

void EndItem(ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  if (!Current.open) return;
  Current.open = false;
  // Counted once however often it is met; its lines stay as they are.
  if (Current.counted) switch (action) {
    case ActionRemoved:
    case ActionWouldRemove:
      ++(Current.kind == WorkAreaItem ? Counts.workAreas : Counts.logs);
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
  if (OutputFlags & JsonFlag) WriteItemEvent(verdict, action, entries, bytes);
  if (ItemEventsWanted()) WriteItemEvents(verdict, action, entries, bytes);
}

void HoldJudgement() {
  if (YoungSince == 0) return;
  Held.clear();
  HoldOutput(&Held);
}

void EndJudgement(bool stale) {
  if (YoungSince == 0) return;
  HoldOutput(nullptr);
  if (stale && Current.open)
    Current.judged.swap(Held);
  else if (!Held.empty())
    WriteOutput(Held);
  Held.clear();
}

std::wstring TakeJudgement() { return std::move(Current.judged); }

bool TakeError(uint32_t code, const std::wstring& message, const wchar_t* path, const std::wstring& line) {
  const bool asJson = OutputFlags & JsonFlag;
  if (!asJson && !ItemEventsWanted()) return false;
  const std::wstring text = Trimmed(message);
  if (Current.open && !Current.hasError) {
    Current.hasError = true;
    Current.errorCode = code;
    Current.errorMessage = text;
    Current.errorHasPath = path != nullptr;
    Current.errorPath = path ? path : L"";
    Current.errorLine = Trimmed(line);
    return asJson;
  }
  if (ItemEventsWanted()) {
    plat::Event event = ErrorEvent(code, text, path ? path : L"", Trimmed(line));
    if (path) event.fields.push_back({"SWEEPDIRS_PATH", path});
    WriteEvent(std::move(event));
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
  Emit(buffer);
  return true;
}

void NoteUnreadFolder(const std::wstring& path, uint32_t code) {
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
  Emit(buffer);
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
  Emit(buffer);
}

void WriteRunSummary(uint32_t status, bool ran) {
  ProgressErase();
  // After the usage text (status 1 without a run) there is nothing to sum up.
  if (OutputFlags & JsonFlag) {
    if (ran || status != 1) WriteSummaryEvent(status);
  } else if ((OutputFlags & SummaryFlag) && ran) {
    WriteOutput(SummaryText());
  }
  if ((OutputFlags & EventLogFlag) && (ran || status != 1)) WriteRunEndEvent(status);
}

void ResetRunReport() {
  if (OutputFlags & EventLogFlag) plat::EventLogClose();
  EventFailureTold = false;
  OutputFlags = 0;
  Current = OpenItem();
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
