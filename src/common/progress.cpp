// The progress line on an interactive standard error.
#include "common/progress.h"

#include <atomic>

#include "common/run_state.h"
#include "common/text_forms.h"
#include "platform/platform.h"
#include "sweepdirs.h"

namespace {

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

bool ProgressActive() {
  if (!Line.checked) {
    Line.checked = true;
    Line.active = plat::ProgressTerminal(Line.columns) && Line.columns > 1;
  }
  return Line.active;
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

void ResetProgress() {
  Line.checked = Line.active = Line.shown = Line.drawn = false;
  Line.columns = 0;
  Line.shownLength = 0;
  Line.lastDrawn = Line.folders = 0;
  Line.stale.store(0);
  Line.freed.store(0);
}
