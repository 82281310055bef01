// The run's record as JSON Lines (/JSON): one event a line.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <type_traits>

#include "common/catalog.h"
#include "common/run_record.h"
#include "common/run_state.h"
#include "version.h"

namespace {

// wchar_t holds UTF-16 on Windows and UTF-32 elsewhere; the JSON text is
// written as wide characters and encoded by the output routine.
using WideEncoding =
    std::conditional_t<sizeof(wchar_t) == 2, rapidjson::UTF16<wchar_t>, rapidjson::UTF32<wchar_t>>;
using JsonBuffer = rapidjson::GenericStringBuffer<WideEncoding>;
using JsonWriter = rapidjson::Writer<JsonBuffer, WideEncoding, WideEncoding>;

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

}  // namespace

void WriteItemJson(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
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

void WriteErrorJson(ItemScope& scope, uint32_t code, const std::wstring& text, const wchar_t* path) {
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
}

void WriteUnreadJson(ItemScope& scope, const std::wstring& path, uint32_t code, const std::wstring& message) {
  JsonBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  TextField(json, L"event", L"unread");
  PathField(json, L"path", path);
  json.Key(L"code");
  json.Uint(code);
  json.Key(L"message");
  Text(json, message);
  json.EndObject();
  Emit(scope, buffer);
}

void WriteSummaryJson(uint32_t status) {
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
