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

// An open listing of a folder, the base of the relative calls.
class Root {
 public:
  explicit Root(const std::wstring& folder) {
    plat::DirEntry entry;
    listing_ = plat::ListFirst(folder + L"\\*", entry);
    EXPECT_NE(listing_, nullptr);
  }
  ~Root() { plat::ListClose(listing_); }
  operator plat::Listing*() const { return listing_; }

 private:
  plat::Listing* listing_;
};

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

TEST_F(ContractTest, RemovalCallsRelativeToAListing) {
  StageFile(At(L"full\\f"));
  StageDirectory(At(L"empty"));
  StageFile(At(L"file"));
  Root root(root_);
  EXPECT_FALSE(plat::RemoveEmptyDirectoryAt(root, L"full", At(L"full")));
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorDirNotEmpty);
  EXPECT_TRUE(plat::RemoveEmptyDirectoryAt(root, L"empty", At(L"empty")));
  EXPECT_FALSE(StageExists(At(L"empty")));
  EXPECT_FALSE(plat::RemoveEmptyDirectoryAt(root, L"empty", At(L"empty")));
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorFileNotFound);
  EXPECT_EQ(plat::AttributesAt(root, L"empty", At(L"empty")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::AttributesAt(root, L"full", At(L"full")) & plat::kAttrDirectory, plat::kAttrDirectory);
  EXPECT_TRUE(plat::DeleteFileAt(root, L"file", At(L"file")));
  EXPECT_FALSE(plat::DeleteFileAt(root, L"file", At(L"file")));
  EXPECT_EQ(plat::LastErrorCode(), plat::kErrorFileNotFound);
  EXPECT_FALSE(plat::DeleteFileAt(root, L"full", At(L"full")));
  EXPECT_TRUE(StageExists(At(L"full\\f")));
}

TEST_F(ContractTest, LinksAreRemovedThemselvesAndNeverEnteredForRemoval) {
  StageFile(At(L"victim\\precious"));
  StageFile(At(L"target"));
  StageLink(At(L"dirlink"), At(L"victim"));
  StageLink(At(L"filelink"), At(L"target"));
  Root root(root_);
  plat::DirEntry entry;
  EXPECT_EQ(plat::ListForRemoval(root, L"dirlink", At(L"dirlink"), entry), nullptr);
  EXPECT_NE(plat::LastErrorCode(), 0u);
  // Walking follows the link, as the plain listing does.
  plat::Listing* through = plat::ListChild(root, L"dirlink", At(L"dirlink"), entry);
  ASSERT_NE(through, nullptr);
  plat::ListClose(through);
  EXPECT_TRUE(plat::RemoveLinkAt(root, L"dirlink", At(L"dirlink")));
  EXPECT_TRUE(plat::DeleteFileAt(root, L"filelink", At(L"filelink")));
  EXPECT_FALSE(StageExists(At(L"dirlink")));
  EXPECT_FALSE(StageExists(At(L"filelink")));
  EXPECT_TRUE(StageExists(At(L"victim\\precious")));
  EXPECT_TRUE(StageExists(At(L"target")));
  // A real directory is no link: refused, and it stays.
  EXPECT_FALSE(plat::RemoveLinkAt(root, L"victim", At(L"victim")));
  EXPECT_TRUE(StageExists(At(L"victim\\precious")));
  // A directory is opened for emptying and lists its entries.
  plat::Listing* victim = plat::ListForRemoval(root, L"victim", At(L"victim"), entry);
  ASSERT_NE(victim, nullptr);
  plat::ListClose(victim);
}

TEST_F(ContractTest, IdentityIsTheDirectoryWhicheverPathLeadsThere) {
  StageDirectory(At(L"a\\b"));
  StageDirectory(At(L"c"));
  StageLink(At(L"c\\up"), At(L"a"));
  Root root(root_);
  plat::DirEntry entry;
  plat::Listing* c = plat::ListChild(root, L"c", At(L"c"), entry);
  plat::Listing* a = plat::ListChild(root, L"a", At(L"a"), entry);
  ASSERT_TRUE(c && a);
  plat::FileIdentity ofA, viaLink, ofB, ofC, missing;
  ASSERT_TRUE(plat::ListingIdentity(a, ofA));
  ASSERT_TRUE(plat::IdentityAt(c, L"up", At(L"c\\up"), viaLink));
  ASSERT_TRUE(plat::IdentityAt(a, L"b", At(L"a\\b"), ofB));
  ASSERT_TRUE(plat::ListingIdentity(c, ofC));
  EXPECT_TRUE(ofA.volume == viaLink.volume && ofA.file == viaLink.file);
  EXPECT_FALSE(ofA.volume == ofB.volume && ofA.file == ofB.file);
  EXPECT_FALSE(ofA.volume == ofC.volume && ofA.file == ofC.file);
  EXPECT_FALSE(plat::IdentityAt(a, L"missing", At(L"a\\missing"), missing));
  plat::ListClose(a);
  plat::ListClose(c);
}

TEST_F(ContractTest, CompareNoCaseIsBoundedAndStopsAtTheEnd) {
  EXPECT_EQ(plat::CompareNoCase(L"C:\\WINDOWS", L"c:\\windows", 10), 0);
  EXPECT_EQ(plat::CompareNoCase(L"abcX", L"ABCY", 3), 0);
  EXPECT_NE(plat::CompareNoCase(L"abc", L"abd", 3), 0);
  EXPECT_NE(plat::CompareNoCase(L"ab", L"abc", 5), 0);
  EXPECT_EQ(plat::CompareNoCase(L"ab", L"AB", 5), 0);
}

}  // namespace
