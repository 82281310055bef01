// POSIX only: the seam's event log, the systemd journal, or syslog where no journal listens.
#include <paths.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>

// The events name no source file of this program.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/common/catalog_table.h"
#include "platform/common/format_inserts.h"
#include "platform/platform.h"
#include "platform/posix/text.h"

namespace plat {

namespace {

// One fixed MESSAGE_ID for each kind of event, in EventKind's order, so that
// `journalctl MESSAGE_ID=...` finds them; listed in docs/events.md.
const char* const kMessageIds[] = {
    "1ee0afcc2f904d5f9b767e1a87df427f",  // an item removed
    "ee39d4b94d6241ab8578c4bf64106318",  // an item that could not be removed
    "acff27a2638444cd923bb876cc3d369b",  // an error line
    "a810c53737194c4c8edac0f7709ae93f",  // the end of the run
};

bool SyslogOpen = false;

bool IsSocket(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace

uint32_t EventLogWrite(const Event& event) {
  const wchar_t* stored = FindCatalogText(event.messageId);
  std::wstring text = stored ? ExpandInsertList(stored, event.inserts) : std::wstring();
  while (!text.empty() && text.back() == L'\n') text.pop_back();
  const std::string message = posix::Utf8FromWide(text);
  const int priority = event.error ? LOG_ERR : LOG_INFO;

  std::vector<std::string> fields = {"MESSAGE=" + message, "PRIORITY=" + std::to_string(priority),
                                     "SYSLOG_IDENTIFIER=sweepdirs",
                                     std::string("MESSAGE_ID=") + kMessageIds[static_cast<int>(event.kind)]};
  for (const auto& [name, value] : event.fields) {
    std::string& field = fields.emplace_back(name);
    field += '=';
    field += posix::Utf8FromWide(value);
  }
  std::vector<iovec> parts;
  for (std::string& field : fields) parts.push_back({field.data(), field.size()});
  // libsystemd drops an event silently where the journal's socket is
  // missing: that is asked first.
  int code = ENOENT;
  if (IsSocket("/run/systemd/journal/socket")) {
    const int sent = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
    if (sent >= 0) return 0;
    code = -sent;
  }
  // No journal listens here: the same text to syslog, if its socket is there.
  if (!IsSocket(_PATH_LOG)) return static_cast<uint32_t>(code);
  if (!SyslogOpen) openlog("sweepdirs", LOG_PID, LOG_DAEMON);
  SyslogOpen = true;
  syslog(priority, "%s", message.c_str());
  return 0;
}

void EventLogClose() {
  if (SyslogOpen) closelog();
  SyslogOpen = false;
}

}  // namespace plat
