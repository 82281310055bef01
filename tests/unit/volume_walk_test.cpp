// The /v walk: normalising, exclusions, links and cycles, the status.
#include "unit/support.h"
#include "workarea/workarea.h"

namespace {

using VolumeWalkTest = FakeTest;

TEST_F(VolumeWalkTest, DriveSpellingsWalkTheSameTree) {
  for (const wchar_t* argument : {L"E", L"E:", L"E:\\"}) {
    SetUp();
    Mode(0x11, 1);
    fake::AddDirectory(L"E:\\_TD1");
    fake::AddDirectory(L"E:\\tmp\\_TD2");
    EXPECT_EQ(RunVolumeTarget(argument), 0u);
    const std::wstring typed = argument;
    EXPECT_EQ(Out(),
              L"FOUND: " + typed + L"\\_TD1   This process is not active.\n"
              L"REMOVED: E:\\_TD1\n"
              L"FOUND: E:\\tmp\\_TD2   This process is not active.\n"
              L"REMOVED: E:\\tmp\\_TD2\n");
    EXPECT_FALSE(fake::Exists(L"E:\\tmp\\_TD2"));
  }
}

TEST_F(VolumeWalkTest, ExcludedFoldersAtTheirExactPathOnly) {
  Mode(ReportFlag, 0);
  fake::AddDirectory(L"C:\\Windows\\_TD1");
  fake::AddDirectory(L"C:\\Windows.old\\_TD2");
  fake::AddDirectory(L"C:\\$RECYCLE.BIN\\_TD3");
  fake::AddDirectory(L"C:\\data\\$Recycle.Bin\\_TD4");
  fake::AddDirectory(L"C:\\proc\\_TD5");
  fake::AddDirectory(L"C:\\data\\proc\\_TD6");
  fake::SetRootExclusions({L":\\proc"});
  EXPECT_EQ(RunVolumeTarget(L"c"), 0u);
  EXPECT_EQ(Out(),
            L"FOUND: c:\\Windows.old\\_TD2   \n"
            L"FOUND: c:\\data\\$Recycle.Bin\\_TD4   \n"
            L"FOUND: c:\\data\\proc\\_TD6   \n");
  // The excluded folder is walked when it is the argument itself.
  fake::ClearOutput();
  EXPECT_EQ(RunVolumeTarget(L"C:\\Windows"), 0u);
  EXPECT_EQ(Out(), L"FOUND: C:\\Windows\\_TD1   \n");
}

TEST_F(VolumeWalkTest, StaleWorkAreasAreNeverEntered) {
  Mode(ReportFlag, 0);
  fake::AddDirectory(L"D:\\_TD1\\_TD2");
  fake::AddDirectory(L"D:\\a\\b\\c");
  EXPECT_EQ(RunVolumeTarget(L"D:"), 0u);
  EXPECT_EQ(Out(), L"FOUND: D:\\_TD1   \n");
  EXPECT_TRUE(fake::Exists(L"D:\\_TD1\\_TD2"));
  // In list mode every other directory is still entered.
  EXPECT_EQ(fake::Calls(fake::Call::ListFirst) + fake::Calls(fake::Call::ListChild), 4);
}

TEST_F(VolumeWalkTest, LinkCyclesEndAndLinksElsewhereAreWalked) {
  Mode(ReportFlag, 0);
  fake::AddDirectory(L"D:\\root\\a\\_TD1");
  fake::AddLink(L"D:\\root\\a\\loop", L"D:\\root");
  fake::AddLink(L"D:\\root\\a\\self", L"D:\\root\\a");
  fake::AddDirectory(L"D:\\other\\_TD2");
  fake::AddLink(L"D:\\root\\toother", L"D:\\other");
  fake::AddLink(L"D:\\other\\back", L"D:\\root");
  EXPECT_EQ(RunVolumeTarget(L"D:\\root"), 0u);
  EXPECT_EQ(Out(),
            L"FOUND: D:\\root\\a\\_TD1   \n"
            L"FOUND: D:\\root\\toother\\_TD2   \n");
  // Ordinary directories never cost an identity look-up.
  SetUp();
  Mode(0, 1);
  fake::AddDirectory(L"D:\\x\\y\\z");
  RunVolumeTarget(L"D:");
  EXPECT_EQ(fake::Calls(fake::Call::Identity), 0);
}

TEST_F(VolumeWalkTest, FailuresAndStatus) {
  Mode(0, 1);
  fake::AddDirectory(L"D:\\locked\\_TD1");
  fake::AddDirectory(L"D:\\open\\_TD2");
  fake::FailOnPath(fake::Call::ListFirst, L"D:\\locked", 5);
  EXPECT_EQ(RunVolumeTarget(L"D:"), 0u);
  EXPECT_EQ(Out(), L"");  // an unlistable directory deep down is passed over silently
  EXPECT_FALSE(fake::Exists(L"D:\\open\\_TD2"));

  EXPECT_EQ(RunVolumeTarget(L"Q:"), plat::kErrorPathNotFound);
  EXPECT_EQ(Out(), L"ERROR: Q: : System text 2.\n\n");

  // An empty argument names no volume: it fails like a missing path.
  fake::ClearOutput();
  const int listings = fake::Calls(fake::Call::ListFirst) + fake::Calls(fake::Call::ListChild);
  EXPECT_EQ(RunVolumeTarget(L""), plat::kErrorPathNotFound);
  EXPECT_EQ(Out(), L"ERROR:  : System text 2.\n\n");
  EXPECT_EQ(fake::Calls(fake::Call::ListFirst) + fake::Calls(fake::Call::ListChild), listings);

  // The Windows folder cannot be resolved: no walk, the HRESULT as status.
  fake::ClearOutput();
  fake::FailKnownFolder(plat::KnownFolder::Windows, 0x80070005u);
  EXPECT_EQ(RunVolumeTarget(L"D:"), 0x80070005u);
  EXPECT_EQ(Out(), L"ERROR: System text 2147942405.\n\n");
}

TEST_F(VolumeWalkTest, WindowsFolderIsResolvedForEveryItemAndReleased) {
  fake::AddDirectory(L"D:\\x");
  EXPECT_EQ(Run({L"/v", L"D:", L"D:\\x"}), 0u);
  EXPECT_EQ(fake::Calls(fake::Call::KnownFolderPath), 2);
  EXPECT_TRUE(ExcludedFolderTable[0].resolvedPath.empty());
}

TEST_F(VolumeWalkTest, LongPathsAreWalkedAndPrintedWhole) {
  Mode(0x11, 1);
  std::wstring deep = L"D:\\deep";
  for (int i = 0; i < 30; ++i) deep += L"\\directory" + std::to_wstring(i);
  fake::AddDirectory(deep + L"\\_TD9\\x");
  EXPECT_EQ(RunVolumeTarget(L"D:"), 0u);
  EXPECT_EQ(Out(), L"FOUND: " + deep + L"\\_TD9   This process is not active.\nREMOVED: " + deep + L"\\_TD9\n");
}

}  // namespace
