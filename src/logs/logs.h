// Log cleanup: the log folder scan and the log locations.
#pragma once

#include <cstdint>
#include <string>

// True when `name` (of `length` characters) is a log name; `ownerId` then
// holds the owner process id it carries.
bool ParseLogName(const wchar_t* name, size_t length, int32_t& ownerId);

// Removes the stale log files in the LOGS folder `folder`. Its first
// `baseLength` characters name a folder that may be reached through links;
// no folder after them is ever reached through one (by default the LOGS
// folder itself).
void CleanLogFolder(const std::wstring& folder, size_t baseLength = std::wstring::npos);

// The current user's LOGS folder.
void CleanUserLogs();

// Every profile's LOGS folder, then the system account's. 0, or the code of
// the failure that stopped it.
uint32_t CleanAllUserLogs();
