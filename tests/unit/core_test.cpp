// The portable core on the fake platform: what only injected faults and a
// listing order of the test's choosing can show, with nothing left held.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "common/catalog.h"
#include "common/met_items.h"
#include "driver/command_line.h"
#include "driver/driver.h"
#include "fake/fake_platform.h"

// The rows name only the fault fields they set; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using C = fake::Call;
using namespace std::literals;
const std::wstring kLogs = L"\\AppData\\Roaming\\KEL\\LOGS", kZed = L"C:\\Users\\zed" + kLogs;
const std::wstring kDeep = L"C:\\" + std::wstring(300, L'd'), kStale = L"   This process is not active.\n";
const std::wstring kAgain = L"   Looked for again just before removal, this process may be active.\n";
const std::wstring kStart = L"STARTED AT TIME: 10:00:00\n", kEnd = L"FINISHED AT TIME: 10:00:00\n";

// The run status, the output, and the names of what the program removed, in order.
using Outcome = std::tuple<uint32_t, std::wstring, std::wstring>;

// Runs the program as its entry point does, on a fresh machine where only KEL.EXE 1 runs and `fault` is armed;
// whatever happens, heap blocks, listings, snapshots and the sockets layer must all be released.
Outcome Sweep(std::vector<std::wstring> args, const fake::Fault& fault, bool terminal = false,
              bool identities = false) {
  SCOPED_TRACE(testing::PrintToString(args));
  ResetCommandLineState();
  fake::Reset();
  fake::state.terminal = terminal;
  fake::state.identities = identities;
  for (const auto& item : {L"C:\\w\\_TD1"s, L"C:\\w\\_TD2"s, L"C:\\w\\_TD3"s, L"D:\\a\\_TD5"s, L"D:\\a\\_TD6"s,
                           L"D:\\b\\_TD7"s, kDeep + L"\\_TD9", kZed + L"\\b.2.x.log", kZed + L"\\d.4.x.log",
                           L"C:\\Users\\amy" + kLogs + L"\\c.3.x.log",
                           L"C:\\Windows\\System32\\config\\systemprofile" + kLogs + L"\\s.5.x.log",
                           L"E:\\n\\_TD8\\x.log"s, L"F:\\p\\cloud\\_TD10"s, L"F:\\p\\off\\_TD11"s, L"F:\\p\\open\\_TD11"s,
                           L"F:\\p\\_TD12"s, L"F:\\p\\net\\_TD13"s, L"F:\\p\\net\\sub\\_TD14"s,
                           L"E:\\m\\_TD8\\s\\f"s})
    fake::Add(item, !item.ends_with(L".log"));
  // Folders kept elsewhere, a stale area among them, and a mount of another computer's files.
  fake::state.attributes = {{L"F:\\p\\cloud", plat::kAttrRecallOnDataAccess}, {L"F:\\p\\off", plat::kAttrOffline},
                            {L"F:\\p\\open", plat::kAttrRecallOnOpen}, {L"F:\\p\\_TD12", plat::kAttrRecallOnDataAccess}};
  fake::state.remote = {L"F:\\p\\net"};
  fake::state.processes.push_back({1, L"KEL.EXE"});
  fake::state.faults.push_back({fault, 0});
  args.insert(args.begin(), L"sweepdirs.exe");
  std::vector<wchar_t*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  Outcome outcome{RunCleanup(static_cast<int>(args.size()), argv.data()), fake::state.output, L""};
  for (auto& path : fake::state.removed) std::get<2>(outcome) += path.substr(path.rfind(L'\\') + 1) + L" ";
  EXPECT_TRUE(!fake::state.heapBlocks && !fake::state.listings && !fake::state.gates && !fake::state.snapshots);
  EXPECT_EQ(fake::state.socketsStarted, fake::state.socketsStopped);
  EXPECT_LE(fake::state.paused, 1000u);
  EXPECT_FALSE(fake::state.eventLogOpen);
  return outcome;
}

TEST(Core, FaultsAndTheirOutcomes) {
  const auto vanish = [](const std::wstring& path) { return [path] { fake::Remove(path); }; };
  const std::vector<std::wstring> fourItems = {L"/d", L"C:\\Users", L"D:\\b", L"/verbose"};
  const std::wstring zedLogs = L"b.2.x.log d.4.x.log ", allLogs = zedLogs + L"c.3.x.log ";
  const std::wstring walked = L"; stale found: ", stale = L"; freed 0 B  ";
  const std::wstring p33 = L"C:\\" + std::wstring(30, L'p'), q34 = L"C:\\" + std::wstring(31, L'q');
  const struct {
    std::vector<std::wstring> args;
    fake::Fault fault;
    Outcome expected;
  } rows[] = {
      // In listing order, every profile before the system account's; long paths printed whole.
      {{L"/d", L"C:\\w", L"/alllogs"}, {}, {0, L"", L"_TD2 _TD3 " + allLogs + L"s.5.x.log "}},
      {{L"/verbose", L"/d", kDeep}, {},
       {0, kStart + L"FOUND: " + kDeep + L"\\_TD9" + kStale + L"REMOVED: " + kDeep + L"\\_TD9\n" + kEnd, L"_TD9 "}},
      // Unknown owner state keeps the item, a picture that breaks off before its end too.
      {{L"/d", L"C:\\w"}, {.call = C::SnapshotOpen, .nth = 2, .code = 5}, {0, L"ERROR: System text 5.\n\n", L"_TD3 "}},
      {{L"/verbose", L"/d", L"C:\\w"}, {.call = C::SnapshotFirst, .nth = 2, .code = 5},
       {0, kStart + L"FOUND: C:\\w\\_TD1   This process is currently active and cannot be deleted.\n"
               L"FOUND: C:\\w\\_TD2   \nERROR: System text 5.\n\nFOUND: C:\\w\\_TD3" + kStale +
               L"REMOVED: C:\\w\\_TD3\n" + kEnd, L"_TD3 "}},
      {{L"/d", L"C:\\w"}, {.call = C::SnapshotNext, .code = 5}, {0, L"ERROR: System text 5.\n\n", L"_TD2 _TD3 "}},
      // An owner id whose program cannot be told keeps the item too.
      {{L"/summary", L"/d", L"C:\\w"}, {.call = C::SnapshotOpen, .before = [] { fake::state.processes.push_back({2, L""}); }},
       {0, L"ERROR: The program a process id belongs to cannot be read; what it may own is kept.\n\nRemoved 1 work "
           L"area and 0 log files: 1 file or folder, 0 B.\nKept 1 (owner running), 0 (another computer), 1 (owner "
           L"unknown). Failed 0.\n", L"_TD3 "}},
      // Asked for again just before the removal: an id taken meanwhile by a new KEL.EXE keeps its area, one
      // whose state cannot be told then keeps it too; the walk's removals ask the same way.
      {{L"/verbose", L"/summary", L"/d", L"C:\\w"},
       {.call = C::AttributesAt, .path = L"C:\\w\\_TD2", .before = [] { fake::state.processes.push_back({2, L"kel.exe"}); }},
       {0, kStart + L"FOUND: C:\\w\\_TD1   This process is currently active and cannot be deleted.\nFOUND: C:\\w\\_TD2" +
               kStale + L"NOT REMOVED: C:\\w\\_TD2" + kAgain + L"FOUND: C:\\w\\_TD3" + kStale + L"REMOVED: C:\\w\\_TD3\n"
               L"Removed 1 work area and 0 log files: 1 file or folder, 0 B.\nKept 2 (owner running), 0 (another "
               L"computer), 0 (owner unknown). Failed 0.\n" + kEnd, L"_TD3 "}},
      {{L"/v", L"D:\\a", L"/MT:4", L"/summary"}, {.call = C::SnapshotOpen, .nth = 2, .code = 5},
       {0, L"ERROR: System text 5.\n\nRemoved 1 work area and 0 log files: 1 file or folder, 0 B.\nKept 0 (owner "
           L"running), 0 (another computer), 1 (owner unknown). Failed 0.\n", L"_TD6 "}},
      // Failed allocations and time texts: nothing partly run, nothing leaked.
      {fourItems, {.call = C::HeapAllocate, .nth = 2}, {plat::kErrorNotEnoughMemory, L"", L""}},
      {fourItems, {.call = C::HeapAllocate, .nth = 3, .code = 1455}, {1455, kEnd, L""}},
      {fourItems, {.call = C::TimeOfDayText, .nth = 2, .code = 87}, {87, kEnd, L""}},
      {fourItems, {.call = C::HeapAllocate, .nth = 4},
       {0, kStart + L"FOUND: D:\\b\\_TD7" + kStale + L"REMOVED: D:\\b\\_TD7\n", L"_TD7 "}},
      // A listing that fails part-way ends silently; the walk and /alllogs go on.
      {{L"/d", L"C:\\w"}, {.call = C::ListNext, .nth = 4, .path = L"C:\\w"}, {0, L"", L"_TD2 "}},
      {{L"/v", L"D:"}, {.call = C::ListNext, .nth = 3, .path = L"D:\\a"}, {0, L"", L"_TD5 _TD7 "}},
      // Threads that cannot be had: the walk is made alone, all the same.
      {{L"/v", L"D:", L"/MT:4"}, {.call = C::ListNext, .nth = 3, .path = L"D:\\a"}, {0, L"", L"_TD5 _TD7 "}},
      {{L"/userlog"}, {.call = C::ListNext, .nth = 3, .path = kZed}, {0, L"", L"b.2.x.log "}},
      {{L"/alllogs"}, {.call = C::ListNext, .nth = 3, .path = L"C:\\Users"}, {0, L"", zedLogs + L"s.5.x.log "}},
      // Gone between listing and removal: removed by someone else, no error; or passed over by the walk.
      {{L"/d", L"C:\\w"}, {.call = C::AttributesAt, .path = L"C:\\w\\_TD2", .before = vanish(L"C:\\w\\_TD2")},
       {0, L"", L"_TD3 "}},
      {{L"/v", L"D:"}, {.call = C::ListChild, .path = L"D:\\a", .before = vanish(L"D:\\a")}, {0, L"", L"_TD7 "}},
      {{L"/userlog"}, {.call = C::ListFirst, .path = kZed, .before = vanish(kZed)},
       {0, L"ERROR: " + kZed + L" : System text 2.\n\n", L""}},
      // Known folders that cannot be resolved: Windows, profiles, system profile, roaming.
      {{L"/v", L"D:\\b"}, {.call = C::KnownFolderPath, .code = 0x80070005u},
       {0x80070005u, L"ERROR: System text 2147942405.\n\n", L""}},
      {{L"/alllogs"}, {.call = C::KnownFolderPath, .code = 0x80004005u}, {2, L"ERROR: System text 2.\n\n", L""}},
      {{L"/alllogs"}, {.call = C::KnownFolderPath, .nth = 2, .code = 1}, {2, L"ERROR: System text 2.\n\n", allLogs}},
      {{L"/userlog"}, {.call = C::KnownFolderPath, .code = 0x80070002u},
       {0, L"ERROR: System text 2147942402.\n\n", L""}},
      {{L"/alllogs"}, {.call = C::ListFirst, .code = 5, .path = L"C:\\Users"}, {5, L"ERROR: System text 5.\n\n", L""}},
      // Removal as on Windows: the POSIX-semantics deletion refused as unknown, then the classic one; another
      // failure of it reported; an entry held open elsewhere counted as gone; a folder not empty a while.
      {{L"/d", L"E:\\n"}, {.call = C::PosixDelete, .code = 87, .fromThenOn = true}, {0, L"", L"x.log _TD8 "}},
      {{L"/d", L"E:\\n"}, {.call = C::PosixDelete, .code = 5, .path = L"E:\\n\\_TD8\\x.log"},
       {0, L"ERROR: E:\\n\\_TD8\\x.log : System text 5.\n\n", L""}},
      {{L"/d", L"E:\\n"}, {.call = C::Remove, .code = plat::kErrorDeletePending, .path = L"E:\\n\\_TD8\\x.log"},
       {0, L"", L"_TD8 "}},
      {{L"/d", L"E:\\n"}, {.call = C::Remove, .nth = 2, .code = plat::kErrorDirNotEmpty, .path = L"E:\\n\\_TD8"},
       {0, L"", L"x.log _TD8 "}},
      {{L"/d", L"E:\\n"},
       {.call = C::Remove, .nth = 2, .code = plat::kErrorDirNotEmpty, .fromThenOn = true, .path = L"E:\\n\\_TD8"},
       {0, L"ERROR: E:\\n\\_TD8 : System text 39.\n\n", L"x.log "}},
      // Never into a folder kept elsewhere or onto another computer's files, unless named.
      {{L"/v", L"F:"}, {}, {0, L"", L"_TD12 "}},
      {{L"/v", L"F:\\p\\net", L"F:\\p\\off", L"/d", L"F:\\p\\cloud"}, {}, {0, L"", L"_TD13 _TD14 _TD11 _TD10 "}},
      // Start-up failures: nothing runs.
      {{L"/d", L"C:\\w"}, {.call = C::ComputerName, .code = 111}, {111, L"ERROR: System text 111.\n\n", L""}},
      {{L"/d", L"C:\\w"}, {.call = C::SocketsStart, .code = 10091}, {10091, L"ERROR: System text 10091.\n\n", L""}},
      // The catalogue misses the error prefix, an error text, a line.
      {{L"/d", L"C:\\none"}, {.call = C::CatalogMessage, .path = std::to_wstring(MSG_ERROR_PREFIX)},
       {0, L" C:\\none : System text 2.\n\n", L""}},
      {{L"/d"}, {.call = C::CatalogMessage, .path = std::to_wstring(MSG_NO_DIRECTORY)},
       {MSG_NO_DIRECTORY, L"ERROR: No message text exists for error code 0xC0020011.\n\n", L""}},
      {{L"/list", L"/d", L"C:\\w"}, {.call = C::CatalogMessage, .fromThenOn = true, .path = std::to_wstring(MSG_FOUND)},
       {0, L"No files were deleted.\n", L""}},
      // /MINAGE on the fake's 2026-01-01 00:00, every entry written 10 days before: young when written less
      // than n days ago, or on or after the date (at its first instant too); today's date is the last accepted.
      {{L"/minage:10", L"/d", L"E:\\m"}, {}, {0, L"", L"f s _TD8 "}},
      {{L"/minage:11", L"/d", L"E:\\m"}, {}, {0, L"", L""}},
      {{L"/minage:20251223", L"/d", L"E:\\m"}, {}, {0, L"", L"f s _TD8 "}},
      {{L"/minage:20251222", L"/d", L"E:\\m"}, {}, {0, L"", L""}},
      {{L"/minage:20260101", L"/d", L"E:\\m"}, {}, {0, L"", L"f s _TD8 "}},
      {{L"/minage:20260102", L"/d", L"E:\\m"}, {}, {MSG_INVALID_MIN_AGE, L"ERROR: Invalid minimum age: /minage:20260102 "
       L"(give /MINAGE:n with n days under 1900, or a date YYYYMMDD not after today).\n\n", L""}},
      // An age that cannot be read, an entry that cannot be listed, a listing that breaks off: kept, one error line.
      {{L"/minage:1", L"/d", L"E:\\m"}, {.call = C::LastWriteTimeAt, .code = 5, .path = L"E:\\m\\_TD8\\s\\f"},
       {0, L"ERROR: E:\\m\\_TD8\\s\\f : System text 5.\n\n", L""}},
      {{L"/verbose", L"/minage:1", L"/d", L"E:\\m"}, {.call = C::ListForRemoval, .code = 5, .path = L"E:\\m\\_TD8\\s"},
       {0, kStart + L"FOUND: E:\\m\\_TD8   \nERROR: E:\\m\\_TD8\\s : System text 5.\n\n" + kEnd, L""}},
      {{L"/list", L"/minage:1", L"/d", L"E:\\m"}, {.call = C::ListNext, .nth = 2, .code = 5, .path = L"E:\\m\\_TD8"},
       {0, L"ERROR: E:\\m\\_TD8 : System text 5.\n\nNo files were deleted.\n", L""}},
      // Names in any letter case: a host named so is this computer, an image so is KEL.EXE.
      {{L"/d", L"C:\\h"}, {.call = C::ListFirst, .before = [] {
         for (auto* name : {L"C:\\h\\_TD2_pC01_", L"C:\\h\\_TD3"}) fake::Add(name, true);
         fake::state.processes.push_back({3, L"kEL.eXE"});
       }}, {0, L"", L"_TD2_pC01_ "}},
      // Progress on a terminal, a line a folder here: what was found so far, and the folder's end where the line
      // has no room for all of it (33 characters left); erased at the end.
      {{L"/d", p33, q34, L"/userlog"}, {.call = C::SocketsStart, .before = [&] {
         fake::state.progress = true;
         for (auto* folder : {&p33, &q34}) fake::Add(*folder + L"\\_TD2", true);
       }}, {0, L"\rFolders walked: 1" + walked + L"0" + stale + p33 + L"\rFolders walked: 2" + walked + L"1" + stale + L"..." + q34.substr(4) +
            L"\rFolders walked: 3" + walked + L"2" + stale + L"...s\\zed" + kLogs + L"\r" + std::wstring(79, L' ') + L"\r",
            L"_TD2 _TD2 b.2.x.log d.4.x.log "}},
      // JSON: the surrogate range's first and last units are no characters, their neighbours are.
      {{L"/json", L"/\xD7FF\xD800\xDFFF\xE000"}, {},
       {MSG_INVALID_PARAMETER, L"{\"event\":\"error\",\"code\":3221356545,\"message\":\"Invalid parameter detected: "
        L"/\xD7FF\xFFFD\xFFFD\xE000\",\"path\":\"/\xD7FF\xFFFD\xFFFD\xE000\",\"path_bytes\":\"2fff00ff00\"}\n{\"event\":"
        L"\"summary\",\"list_only\":false,\"work_areas\":0,\"logs\":0,\"entries\":0,\"bytes\":0,\"kept\":{\"running\":0,"
        L"\"other_host\":0,\"owner_unknown\":0},\"failed\":0,\"status\":3221356545,\"exit_code\":3221356545}\n", L""}},
  };
  for (const auto& row : rows) EXPECT_EQ(Sweep(row.args, row.fault), row.expected) << testing::PrintToString(row.args);
}

// On a terminal each character of a name that could act on it is shown as an escape (here each range's
// first and last, and its neighbours, which stay), and so is a backslash that would read as one; a file and /JSON
// are untouched.
// The items met, against an ordered set: ids in runs and spread, the id 0, 128-bit ids, two volumes,
// every place in a run taken out, and growth.
TEST(Core, MetItemsAsASet) {
  std::mt19937_64 rng(7);
  MetItems met;
  std::set<std::tuple<uint64_t, uint64_t, uint64_t>> truth;
  for (int i = 0; i < 300000; ++i) {
    const plat::FileIdentity id{rng() % 2, rng() % 4 ? rng() % 5000 : rng(), rng() % 64 ? 0 : rng() % 3};
    const std::tuple key{id.volume, id.file, id.fileHigh};
    if (rng() % 3 == 0) {
      met.Erase(id);
      truth.erase(key);
    } else {
      ASSERT_EQ(met.Insert(id), truth.insert(key).second) << i;
    }
  }
  EXPECT_EQ(met.Size(), truth.size());
  for (const auto& [volume, file, high] : truth) EXPECT_FALSE(met.Insert({volume, file, high}));
}

// A folder removed gives its id back, and the file system may give it to a folder met later: that one is
// counted too. (The fake names a folder by its place in the tree, so the one after a removed one takes its id.)
TEST(Core, AnIdGivenAgainIsCountedAgain) {
  const auto [status, output, removed] = Sweep({L"/d", L"C:\\w", L"/SUMMARY"}, {}, false, true);
  EXPECT_EQ(removed, L"_TD2 _TD3 ");
  EXPECT_NE(output.find(L"Removed 2 work areas"), std::wstring::npos) << output;
}

TEST(Core, NamesOnATerminal) {
  const std::wstring folder = L"C:\\x{41}\n", gone = L"C:\\gone\x1b";
  const std::wstring name = L"_TD2\x1f ~\x7f\x9f\u00A0\u2029\u202A\u202E\u202F\u2065\u2066\u2069\u206A" +
                            std::wstring(1, static_cast<wchar_t>(0xDCFF));
  const fake::Fault plant{.call = C::ListFirst, .before = [&] { fake::Add(folder + L"\\" + name, true); }};
  const std::wstring shown = L"C:\\x{5C}x{41}\\x{0A}\\_TD2\\x{1F} ~\\x{7F}\\x{9F}\u00A0\u2029\\x{202A}\\x{202E}"
                             L"\u202F\u2065\\x{2066}\\x{2069}\u206A\\x{DCFF}";
  EXPECT_EQ(Sweep({L"/verbose", L"/d", folder, gone}, plant, true),
            Outcome(0, kStart + L"FOUND: " + shown + kStale + L"REMOVED: " + shown + L"\n" +
                           L"ERROR: C:\\gone\\x{1B} : System text 2.\n\n" + kEnd, name + L" "));
  EXPECT_EQ(std::get<1>(Sweep({L"/d", gone}, {})), L"ERROR: " + gone + L" : System text 2.\n\n");  // in a file
  const std::wstring json = std::get<1>(Sweep({L"/json", L"/d", folder, gone}, plant, true));
  EXPECT_TRUE(json.find(L"x{5C}") == json.npos && json.find(L"x{1B}") == json.npos) << testing::PrintToString(json);
}

// /EVENTLOG: the events in output order, the end of the run only in list
// mode, a log that cannot be written told once; the output, the status and
// what is removed exactly as without the option.
TEST(Core, EventLog) {
  const std::wstring kept = L"Kept 1 (owner running), 0 (another computer), 0 (owner unknown). Failed ";
  const struct {
    std::vector<std::wstring> args;
    fake::Fault fault;
    std::vector<std::wstring> events;
    std::wstring errors;
  } rows[] = {
      {{L"/d", L"C:\\w", L"/EventLog"}, {},
       {L"I REMOVED: C:\\w\\_TD2 (owner process 2, files and folders: 1, bytes: 0) [stale]",
        L"I REMOVED: C:\\w\\_TD3 (owner process 3, files and folders: 1, bytes: 0) [stale]",
        L"I Run ended with status 0 (exit code 0).\nRemoved 2 work areas and 0 log files: 2 files and folders, "
        L"0 B.\n" + kept + L"0."}},
      {{L"/eventlog", L"/d", L"C:\\w", L"/v", L"D:\\none"},
       {.call = C::AttributesAt, .path = L"C:\\w\\_TD2", .before = [] { fake::Remove(L"C:\\w\\_TD2"); }},
       {L"I REMOVED: C:\\w\\_TD2 (owner process 2, files and folders: 1, bytes: 0) [stale]",
        L"I REMOVED: C:\\w\\_TD3 (owner process 3, files and folders: 1, bytes: 0) [stale]",
        L"E ERROR: D:\\none : System text 2.",
        L"E Run ended with status 2 (exit code 2).\nRemoved 2 work areas and 0 log files: 2 files and folders, "
        L"0 B.\n" + kept + L"0."}},
      {{L"/list", L"/eventlog", L"/d", L"C:\\w", L"D:\\none"}, {},
       {L"I Run ended with status 0 (exit code 0).\nWould remove 2 work areas and 0 log files: 2 files and folders, "
        L"0 B.\n" + kept + L"0."}},
      // A kept item's error, with the item's fields.
      {{L"/eventlog", L"/d", L"C:\\w"}, {.call = C::SnapshotFirst, .nth = 2, .code = 5},
       {L"E ERROR: System text 5. [owner_unknown]",
        L"I REMOVED: C:\\w\\_TD3 (owner process 3, files and folders: 1, bytes: 0) [stale]",
        L"I Run ended with status 0 (exit code 0).\nRemoved 1 work area and 0 log files: 1 file or folder, 0 B.\n"
        L"Kept 1 (owner running), 0 (another computer), 1 (owner unknown). Failed 0."}},
      {{L"/eventlog", L"/d", L"C:\\w", L"/x"}, {},
       {L"E ERROR: Invalid parameter detected: /x", L"E Run ended with status 3221356545 (exit code 3221356545).\n"
        L"Removed 0 work areas and 0 log files: 0 files and folders, 0 B.\n" + kept.substr(0, 5) + L"0" +
        kept.substr(6) + L"0."}},
      {{L"/eventlog", L"/d", L"C:\\w", L"/x"}, {.call = C::EventLogWrite, .code = 5, .fromThenOn = true}, {},
       L"Events cannot be written to the event log: System text 5.\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::wstring> without;
    std::copy_if(row.args.begin(), row.args.end(), std::back_inserter(without),
                 [](const std::wstring& arg) { return !IsOptionNamed(arg.c_str(), L"/EVENTLOG"); });
    const Outcome expected = Sweep(without, row.fault);
    EXPECT_EQ(Sweep(row.args, row.fault), expected);
    EXPECT_EQ(fake::state.events, row.events);
    EXPECT_EQ(fake::state.errors, row.errors);
  }
}

}  // namespace
