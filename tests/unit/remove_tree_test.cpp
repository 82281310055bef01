// Removal: the order of calls, stopping at the first failure, links.
#include "unit/support.h"
#include "workarea/workarea.h"

namespace {

using Ops = std::vector<std::wstring>;

class RemoveTreeTest : public FakeTest {
 protected:
  // Removes `path` the way the scans do: relative to a listing of its folder.
  uint32_t Remove(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    plat::DirEntry entry;
    plat::Listing* parent = plat::ListFirst(path.substr(0, slash) + L"\\*", entry);
    EXPECT_NE(parent, nullptr);
    if (!parent) return 0;
    const size_t before = fake::Operations().size();
    const std::wstring name = path.substr(slash + 1);
    std::wstring buffer = path;
    const uint32_t code = RemoveTree(parent, name.c_str(), buffer);
    EXPECT_EQ(buffer, path);  // the buffer holds the path again
    removals_.insert(removals_.end(), fake::Operations().begin() + static_cast<long>(before),
                     fake::Operations().end());
    plat::ListClose(parent);
    return code;
  }
  Ops removals_;  // what RemoveTree did, without the listings of the parent folders
};

TEST_F(RemoveTreeTest, EmptyDirectoryFileAndLinkCostOneCall) {
  fake::AddDirectory(L"C:\\w\\empty");
  fake::AddFile(L"C:\\w\\file");
  fake::AddDirectory(L"C:\\victim\\keep");
  fake::AddLink(L"C:\\w\\dirlink", L"C:\\victim");
  fake::AddLink(L"C:\\w\\emptylink", L"C:\\victim\\keep");
  for (const wchar_t* path : {L"C:\\w\\empty", L"C:\\w\\file", L"C:\\w\\dirlink", L"C:\\w\\emptylink"})
    EXPECT_EQ(Remove(path), 0u);
  EXPECT_EQ(removals_, (Ops{L"rmdir C:\\w\\empty", L"delete C:\\w\\file", L"unlink C:\\w\\dirlink",
                                     L"unlink C:\\w\\emptylink"}));
  EXPECT_TRUE(fake::Exists(L"C:\\victim\\keep"));
  EXPECT_EQ(Out(), L"");
}

TEST_F(RemoveTreeTest, TreeIsEmptiedInListingOrderWithoutEnteringLinks) {
  fake::AddFile(L"C:\\t\\a");
  fake::AddDirectory(L"C:\\t\\sub\\deeper");
  fake::AddFile(L"C:\\t\\sub\\f");
  fake::AddFile(L"C:\\victim\\precious");
  fake::AddLink(L"C:\\t\\link", L"C:\\victim");
  fake::AddFile(L"C:\\t\\...");
  fake::AddFile(L"C:\\t\\.hidden");
  EXPECT_EQ(Remove(L"C:\\t"), 0u);
  EXPECT_EQ(removals_,
            (Ops{L"list C:\\t", L"delete C:\\t\\a", L"list C:\\t\\sub", L"rmdir C:\\t\\sub\\deeper",
                 L"delete C:\\t\\sub\\f", L"rmdir C:\\t\\sub", L"unlink C:\\t\\link", L"delete C:\\t\\...",
                 L"delete C:\\t\\.hidden", L"rmdir C:\\t"}));
  EXPECT_TRUE(fake::Exists(L"C:\\victim\\precious"));
  EXPECT_EQ(fake::OpenListings(), 0);
}

TEST_F(RemoveTreeTest, FirstFailureStopsAndIsReportedOnce) {
  fake::AddFile(L"C:\\t\\a");
  fake::AddFile(L"C:\\t\\sub\\locked");
  fake::AddFile(L"C:\\t\\sub\\after");
  fake::AddFile(L"C:\\t\\z");
  fake::FailOnPath(fake::Call::DeleteFile, L"C:\\t\\sub\\locked", 5);
  EXPECT_EQ(Remove(L"C:\\t"), 5u);
  EXPECT_EQ(Out(), L"ERROR: C:\\t\\sub\\locked : System text 5.\n\n");
  EXPECT_FALSE(fake::Exists(L"C:\\t\\a"));
  EXPECT_TRUE(fake::Exists(L"C:\\t\\sub\\after"));
  EXPECT_TRUE(fake::Exists(L"C:\\t\\z"));
  EXPECT_EQ(fake::OpenListings(), 0);
}

TEST_F(RemoveTreeTest, EachFailurePointReportsItsPath) {
  struct Case {
    fake::Call call;
    const wchar_t* failingPath;
    uint32_t code;
    int nth;
    std::wstring output;
  } cases[] = {
      // The listing of the non-empty directory cannot be opened.
      {fake::Call::ListFirst, L"C:\\t", 5, 0, L"ERROR: C:\\t : System text 5.\n\n"},
      // The first removal fails with a code other than "not empty".
      {fake::Call::RemoveEmptyDirectory, L"C:\\t", 32, 0, L"ERROR: C:\\t : System text 32.\n\n"},
      // The second removal fails after the directory was emptied.
      {fake::Call::RemoveEmptyDirectory, nullptr, 32, 2, L"ERROR: C:\\t : System text 32.\n\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::AddFile(L"C:\\t\\f");
    if (c.failingPath)
      fake::FailOnPath(c.call, c.failingPath, c.code);
    else
      fake::FailCall(c.call, c.code, c.nth);
    EXPECT_EQ(Remove(L"C:\\t"), c.code);
    EXPECT_EQ(Out(), c.output);
    EXPECT_TRUE(fake::Exists(L"C:\\t"));
  }
}

// Entries below the top are removed as their listing says they are; one that
// changes kind after it was listed is refused by the removal call, reported,
// and nothing it leads to or holds is touched.
TEST_F(RemoveTreeTest, EntryThatChangesKindAfterListingIsRefused) {
  struct Case {
    const wchar_t* entry;
    const wchar_t* listed;  // what is there when the top directory is listed
    fake::Call before;      // the swap happens right before this call on the entry
    std::function<void()> swap;
    uint32_t code;
    const wchar_t* untouched;
  } cases[] = {
      {L"C:\\t\\sub", L"C:\\t\\sub\\f", fake::Call::RemoveEmptyDirectory,
       [] {
         fake::Remove(L"C:\\t\\sub");
         fake::AddLink(L"C:\\t\\sub", L"C:\\victim");
       },
       fake::kNotADirectory, L"C:\\victim\\precious"},
      {L"C:\\t\\f", L"C:\\t\\f", fake::Call::DeleteFile,
       [] {
         fake::Remove(L"C:\\t\\f");
         fake::AddFile(L"C:\\t\\f\\inner");
       },
       fake::kIsADirectory, L"C:\\t\\f\\inner"},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::AddFile(L"C:\\victim\\precious");
    fake::AddFile(c.listed);
    // Armed once the top directory is open for emptying, so that the swap
    // comes after the entry was listed.
    fake::BeforeNextCall(fake::Call::ListForRemoval, [&c] { fake::BeforeNextCall(c.before, c.swap); });
    EXPECT_EQ(Remove(L"C:\\t"), c.code) << c.entry;
    EXPECT_EQ(Out(), L"ERROR: " + std::wstring(c.entry) + L" : System text " + std::to_wstring(c.code) + L".\n\n");
    EXPECT_TRUE(fake::Exists(c.untouched)) << c.entry;
    EXPECT_TRUE(fake::Exists(c.entry)) << c.entry;
    EXPECT_EQ(fake::OpenListings(), 0);
  }
}

TEST_F(RemoveTreeTest, MissingPathAndUnremovableLink) {
  EXPECT_EQ(Remove(L"C:\\nothing"), plat::kErrorFileNotFound);
  EXPECT_EQ(Out(), L"ERROR: C:\\nothing : System text 2.\n\n");

  SetUp();
  fake::AddFile(L"C:\\victim\\precious");
  fake::AddLink(L"C:\\w\\_TD1", L"C:\\victim");
  fake::FailCall(fake::Call::RemoveLink, 50);
  EXPECT_EQ(Remove(L"C:\\w\\_TD1"), 50u);
  EXPECT_EQ(Out(), L"ERROR: C:\\w\\_TD1 : System text 50.\n\n");
  EXPECT_EQ(fake::Calls(fake::Call::ListForRemoval), 0);
  EXPECT_TRUE(fake::Exists(L"C:\\victim\\precious"));
}

TEST_F(RemoveTreeTest, DeepTreesAreRemovedWhole) {
  std::wstring path = L"C:\\deep";
  for (int i = 0; i < 60; ++i) path += L"\\level" + std::to_wstring(i);
  fake::AddFile(path + L"\\file");
  ASSERT_GT(path.size(), 400u);
  EXPECT_EQ(Remove(L"C:\\deep"), 0u);
  EXPECT_FALSE(fake::Exists(L"C:\\deep"));
}

}  // namespace
