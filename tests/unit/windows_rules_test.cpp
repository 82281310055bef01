// The Windows layer's decisions, apart from the calls that feed them: what
// Wine cannot stage (tags, ids, devices that fail) is told to them directly.
#include <gtest/gtest.h>

#include <map>

#include "platform/common/windows_rules.h"

namespace {

using namespace plat::winrules;
constexpr uint32_t kDirLink = plat::kAttrDirectory | plat::kAttrReparsePoint;

TEST(WindowsRules, OnlyNameSurrogatesAreLinks) {
  // Junction, symbolic link, WSL link; a tag not told (Wine); a cloud provider's and a deduplicated file's tag.
  for (uint32_t tag : {0xA0000003u, 0xA000000Cu, 0xA000001Du, 0u}) EXPECT_EQ(LinkBits(kDirLink, tag), kDirLink) << tag;
  for (uint32_t tag : {0x9000001Au, 0x80000013u}) EXPECT_EQ(LinkBits(kDirLink, tag), plat::kAttrDirectory) << tag;
}

TEST(WindowsRules, ListedChildAndRemoteVolumes) {
  const plat::FileIdentity parent{7, 100, 0};
  EXPECT_TRUE(IsListedChild(55, parent, {7, 55, 0}));
  EXPECT_FALSE(IsListedChild(55, parent, {7, 56, 0}));  // swapped for a link since it was listed
  EXPECT_FALSE(IsListedChild(55, parent, {8, 55, 0}));  // the same number on another volume
  EXPECT_FALSE(IsListedChild(0, parent, {7, 0, 0}));    // a listing that gave no id proves nothing
  EXPECT_TRUE(IsListedChild(FoldedId(55, 9), parent, {7, 55, 9}));  // a 128-bit id, folded as listed
  // Through a link, a device that says remote or cannot say is another computer's, whatever serial number the
  // volume shares with the parent's; a plain folder is on its parent's volume.
  EXPECT_TRUE(EntersRemote(true, Device::Remote));
  EXPECT_TRUE(EntersRemote(true, Device::Unknown));
  EXPECT_FALSE(EntersRemote(true, Device::Local));
  EXPECT_FALSE(EntersRemote(false, Device::Unknown));
}

// A folder tree by path: each component a plain folder, a link (or a swapped one), or one that cannot be asked.
struct Steps {
  enum Kind { Plain, Link, Unreadable };
  std::map<std::wstring, Kind> tree;
  std::map<int, std::wstring> open;  // handle: path
  int made = 0;
  uint32_t code = 0;
  const int kFailed = -1;
  int Open(int folder, const std::wstring& name) {
    const std::wstring path = open[folder] + L"\\" + name;
    if (!tree.count(path)) return code = 3, kFailed;
    open[++made] = path;
    return made;
  }
  bool IsPlainFolder(int, int opened, const std::wstring&) {
    const Kind kind = tree[open[opened]];
    code = kind == Plain ? code : kind == Link ? plat::kErrorLinkRefused : 5;
    return kind == Plain;
  }
  void Close(int handle) { open.erase(handle); }
};

TEST(WindowsRules, OpenedOneComponentAtATimeNeverThroughALink) {
  const struct {
    Steps::Kind kel;
    const wchar_t *below, *reached;  // the folder handed back; empty where none is
    uint32_t code;
  } rows[] = {{Steps::Plain, L"KEL\\LOGS", L"\\KEL\\LOGS", 0}, {Steps::Plain, L"", L"", 0},
              {Steps::Link, L"KEL\\LOGS", L"", plat::kErrorLinkRefused}, {Steps::Unreadable, L"KEL\\LOGS", L"", 5},
              {Steps::Plain, L"KEL\\none", L"", 3}};
  for (const auto& row : rows) {
    Steps steps;
    steps.tree = {{L"\\KEL", row.kel}, {L"\\KEL\\LOGS", Steps::Plain}};
    steps.open[0] = L"";
    const int folder = OpenNoLinksBelow(steps, 0, std::wstring(row.below));
    EXPECT_EQ(steps.code, row.code) << testing::PrintToString(row.below);
    EXPECT_EQ(folder == steps.kFailed ? L"" : steps.open[folder], row.reached);
    EXPECT_EQ(steps.open.size(), row.code ? 0u : 1u);  // only the folder handed back stays open
  }
}

}  // namespace
