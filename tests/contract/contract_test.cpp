// The contract of the platform seam, run against the fake and the real
// POSIX layer alike, so that the fake cannot drift from the real thing.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "contract/stage.h"
#include "platform/platform.h"

namespace {

using Listed = std::map<std::wstring, uint32_t>;  // name -> attribute bits (order aside)

bool List(const std::wstring& pattern, Listed& listed) {
  plat::DirEntry entry;
  plat::Listing* listing = plat::ListFirst(pattern, entry);
  if (!listing) return false;
  do {
    EXPECT_EQ(std::wstring(entry.name).size(), entry.nameLength);
    listed[entry.name] = entry.attributes & (plat::kAttrDirectory | plat::kAttrReparsePoint);
  } while (plat::ListNext(listing, entry));
  plat::ListClose(listing);
  return true;
}

class ContractTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = StageRoot(); }
  std::wstring At(const std::wstring& name) const { return root_ + L"\\" + name; }
  std::wstring root_;
};

TEST_F(ContractTest, ListingDeliversEveryEntryWithItsKind) {
  StageDirectory(At(L"dir"));
  StageFile(At(L"file"));
  StageFile(At(L"caf\u00e9.log"));
  StageLink(At(L"dirlink"), At(L"dir"));
  StageLink(At(L"filelink"), At(L"file"));
  Listed listed;
  ASSERT_TRUE(List(root_ + L"\\*", listed));
  const Listed expected = {
      {L".", plat::kAttrDirectory},
      {L"..", plat::kAttrDirectory},
      {L"dir", plat::kAttrDirectory},
      {L"file", 0},
      {L"caf\u00e9.log", 0},
      {L"dirlink", plat::kAttrDirectory | plat::kAttrReparsePoint},
      {L"filelink", plat::kAttrReparsePoint},
  };
  EXPECT_EQ(listed, expected);
  // A doubled separator before the wildcard lists the same folder.
  Listed doubled;
  ASSERT_TRUE(List(root_ + L"\\\\*", doubled));
  EXPECT_EQ(doubled, expected);
}

TEST_F(ContractTest, ListingFailures) {
  plat::DirEntry entry;
  EXPECT_EQ(plat::ListFirst(At(L"missing\\*"), entry), nullptr);
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorPathNotFound);
  StageFile(At(L"file"));
  EXPECT_EQ(plat::ListFirst(At(L"file\\*"), entry), nullptr);
  EXPECT_NE(plat::LastErrorCode(), 0u);
}

TEST_F(ContractTest, AttributesNeverFollowAFinalLink) {
  StageDirectory(At(L"dir"));
  StageFile(At(L"file"));
  StageLink(At(L"dirlink"), At(L"dir"));
  StageLink(At(L"dangling"), At(L"nothing"));
  const uint32_t kinds = plat::kAttrDirectory | plat::kAttrReparsePoint;
  EXPECT_EQ(plat::FileAttributes(At(L"dir")) & kinds, plat::kAttrDirectory);
  EXPECT_EQ(plat::FileAttributes(At(L"file")) & kinds, 0u);
  EXPECT_EQ(plat::FileAttributes(At(L"dirlink")) & kinds, kinds);
  EXPECT_EQ(plat::FileAttributes(At(L"dangling")) & kinds, plat::kAttrReparsePoint);
  EXPECT_EQ(plat::FileAttributes(At(L"missing")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorFileNotFound);
}

TEST_F(ContractTest, RemovalCalls) {
  StageFile(At(L"full\\f"));
  StageDirectory(At(L"empty"));
  StageFile(At(L"file"));
  EXPECT_FALSE(plat::RemoveEmptyDirectory(At(L"full")));
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorDirNotEmpty);
  EXPECT_TRUE(plat::RemoveEmptyDirectory(At(L"empty")));
  EXPECT_FALSE(StageExists(At(L"empty")));
  EXPECT_FALSE(plat::RemoveEmptyDirectory(At(L"empty")));
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorFileNotFound);
  EXPECT_TRUE(plat::DeleteOneFile(At(L"file")));
  EXPECT_FALSE(plat::DeleteOneFile(At(L"file")));
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorFileNotFound);
  EXPECT_FALSE(plat::DeleteOneFile(At(L"full")));
  EXPECT_TRUE(StageExists(At(L"full\\f")));
}

TEST_F(ContractTest, LinksAreRemovedThemselves) {
  StageFile(At(L"victim\\precious"));
  StageFile(At(L"target"));
  StageLink(At(L"dirlink"), At(L"victim"));
  StageLink(At(L"filelink"), At(L"target"));
  EXPECT_TRUE(plat::RemoveLinkItself(At(L"dirlink")));
  EXPECT_TRUE(plat::DeleteOneFile(At(L"filelink")));
  EXPECT_FALSE(StageExists(At(L"dirlink")));
  EXPECT_FALSE(StageExists(At(L"filelink")));
  EXPECT_TRUE(StageExists(At(L"victim\\precious")));
  EXPECT_TRUE(StageExists(At(L"target")));
  // A real directory is no link: refused, and it stays.
  EXPECT_FALSE(plat::RemoveLinkItself(At(L"victim")));
  EXPECT_TRUE(StageExists(At(L"victim\\precious")));
}

TEST_F(ContractTest, IdentityIsTheDirectoryWhicheverPathLeadsThere) {
  StageDirectory(At(L"a\\b"));
  StageDirectory(At(L"c"));
  StageLink(At(L"c\\up"), At(L"a"));
  plat::FileIdentity a, viaLink, b, c;
  ASSERT_TRUE(plat::DirectoryIdentity(At(L"a"), a));
  ASSERT_TRUE(plat::DirectoryIdentity(At(L"c\\up"), viaLink));
  ASSERT_TRUE(plat::DirectoryIdentity(At(L"a\\b\\"), b));
  ASSERT_TRUE(plat::DirectoryIdentity(At(L"c"), c));
  EXPECT_TRUE(a.volume == viaLink.volume && a.file == viaLink.file);
  EXPECT_FALSE(a.volume == b.volume && a.file == b.file);
  EXPECT_FALSE(a.volume == c.volume && a.file == c.file);
  EXPECT_FALSE(plat::DirectoryIdentity(At(L"missing"), a));
}

TEST_F(ContractTest, CompareNoCaseIsBoundedAndStopsAtTheEnd) {
  EXPECT_EQ(plat::CompareNoCase(L"C:\\WINDOWS", L"c:\\windows", 10), 0);
  EXPECT_EQ(plat::CompareNoCase(L"abcX", L"ABCY", 3), 0);
  EXPECT_NE(plat::CompareNoCase(L"abc", L"abd", 3), 0);
  EXPECT_NE(plat::CompareNoCase(L"ab", L"abc", 5), 0);
  EXPECT_EQ(plat::CompareNoCase(L"ab", L"AB", 5), 0);
}

}  // namespace
