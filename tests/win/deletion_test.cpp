// Robust deletion, forced copies, folder paths and version resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "system/folders_win32.h"
#include "system/handles_win32.h"
#include "system/tree_removal_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/unix_link.h"

namespace {

DWORD attributesOf(const std::string& path) { return GetFileAttributesA(path.c_str()); }

std::string ownPath() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, n);
}

}  // namespace

class Deletion : public FolderFixture {};

TEST_F(Deletion, DeleteFileForced) {
  EXPECT_EQ(deleteFileForced(rootDir() + "missing.txt"), errOk);
  const std::string file = rootDir() + "ro.txt";
  ASSERT_TRUE(winfs::writeFile(file, "x"));
  SetFileAttributesA(file.c_str(),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(deleteFileForced(file), errOk);
  EXPECT_FALSE(winfs::exists(file));
}

TEST_F(Deletion, DeleteFileWithRetries) {
  struct Case {
    const char* name;
    bool locked;
    int attempts;
    ErrorCode expected;
  } cases[] = {
      {"temp.dat", true, 3, errFileBusy},
      {"x.SCR", true, 2, errSaverNotReplaceable},
      {"y.scr", true, 1, errSaverNotReplaceable},
      {"z.scrx", true, 1, errFileBusy},
      {"w.scr", false, 1, errOk},      // read-only, not locked: deleted
      {"v.dat", false, 0, errUnspecified},  // nothing tried: the file stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = rootDir() + c.name;
    ASSERT_TRUE(winfs::writeFile(file, "data"));
    winfs::setReadOnly(file, true);
    UniqueFile lock;
    if (c.locked) lock = winfs::holdOpen(file);
    EXPECT_EQ(deleteFileWithRetries(file, c.attempts), c.expected);
    EXPECT_EQ(winfs::exists(file), c.expected != errOk);
  }
  EXPECT_EQ(deleteFileWithRetries(rootDir() + "missing.scr", 5), errOk);
}

TEST_F(Deletion, DeleteFolderTree) {
  EXPECT_EQ(deleteFolderTree(rootDir() + "missing\\"), errOk);
  EXPECT_EQ(deleteFolderTree(""), errUnspecified);

  const std::string tree = rootDir() + "tree\\";
  ASSERT_TRUE(winfs::writeFile(tree + "a.txt", "a"));
  ASSERT_TRUE(winfs::writeFile(tree + "sub\\deeper\\b.txt", "b"));
  ASSERT_TRUE(winfs::makeFolders(tree + "sub\\empty"));
  winfs::setReadOnly(tree + "sub\\deeper\\b.txt", true);
  SetFileAttributesA((tree + "sub").c_str(), FILE_ATTRIBUTE_READONLY);
  // A sibling that "tree*.*" would match if the backslash were missing.
  ASSERT_TRUE(winfs::writeFile(rootDir() + "treefile.txt", "keep"));
  EXPECT_EQ(deleteFolderTree(rootDir() + "tree"), errOk);
  EXPECT_FALSE(winfs::exists(tree));
  EXPECT_TRUE(winfs::exists(rootDir() + "treefile.txt"));
}

TEST_F(Deletion, DeleteFolderTreeStopsAtABusyFile) {
  const std::string tree = rootDir() + "busy\\";
  ASSERT_TRUE(winfs::writeFile(tree + "held.dat", "x"));
  UniqueFile lock = winfs::holdOpen(tree + "held.dat");
  EXPECT_EQ(deleteFolderTree(tree), errFileBusy);
  EXPECT_TRUE(winfs::isFolder(tree));
  lock.reset();
  EXPECT_EQ(deleteFolderTree(tree), errOk);
}

namespace {

// The walk's seam: once the tree's "sub" folder has been listed, a program
// of the user's renames it away and puts a link to another folder in its
// place, before the walk opens it.
std::string swapFolder;
std::string swapTarget;
std::unique_ptr<winfs::UnixLink> swapLink;
void exchangeForALink(const std::string& folder) {
  if (swapLink || folder + "\\" != swapFolder) return;
  MoveFileExA((swapFolder + "sub").c_str(), (swapFolder + "sub moved").c_str(), 0);
  swapLink = std::make_unique<winfs::UnixLink>(swapFolder + "sub", swapTarget);
}

}  // namespace

// Nothing outside the tree changes, byte for byte: a link in it is removed
// as a link or left (Wine cannot remove one), never entered, and a folder
// exchanged for a link after the listing is left alone.
TEST_F(Deletion, DeleteFolderTreeNeverDeletesThroughALink) {
  const std::string outside = rootDir() + "unrelated\\";
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(winfs::writeFile(outside + "doc" + std::to_string(i) + ".txt", "keep"));
  ASSERT_TRUE(winfs::writeFile(outside + "deeper\\doc.txt", "keep"));
  const std::string untouched = winfs::fingerprint(outside);

  const std::string tree = rootDir() + "linked tree\\";
  ASSERT_TRUE(winfs::writeFile(tree + "a.txt", "a"));
  {
    winfs::UnixLink link(tree + "link", outside);
    ASSERT_TRUE(link.made());
    EXPECT_NE(deleteFolderTree(tree), errOk);  // the link stays under Wine, so the folder does
    EXPECT_FALSE(winfs::exists(tree + "a.txt"));
    EXPECT_EQ(winfs::fingerprint(outside), untouched);
  }

  swapFolder = rootDir() + "swapped tree\\";
  swapTarget = outside;
  ASSERT_TRUE(winfs::writeFile(swapFolder + "sub\\mine.txt", "mine"));
  ASSERT_TRUE(winfs::writeFile(swapFolder + "b.txt", "b"));
  TreeListedHook previous = setTreeListedHook(exchangeForALink);
  ErrorCode result = deleteFolderTree(swapFolder);
  setTreeListedHook(previous);
  ASSERT_TRUE(swapLink && swapLink->made());
  EXPECT_NE(result, errOk);
  EXPECT_EQ(winfs::fingerprint(outside), untouched);
  EXPECT_FALSE(winfs::exists(swapFolder + "b.txt"));
  swapLink.reset();
}

TEST_F(Deletion, CopyFileClearsAttributesAndCreatesTheFolder) {
  const std::string src = rootDir() + "src.txt";
  const std::string dst = rootDir() + "dst.txt";
  ASSERT_TRUE(winfs::writeFile(src, "new"));
  ASSERT_TRUE(winfs::writeFile(dst, "old"));
  winfs::setReadOnly(src, true);
  winfs::setReadOnly(dst, true);
  ASSERT_TRUE(copyFile(src, dst, false));
  EXPECT_EQ(winfs::readText(dst), "new");
  EXPECT_FALSE(attributesOf(dst) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(attributesOf(src) & FILE_ATTRIBUTE_READONLY);

  const std::string deep = rootDir() + "x\\y\\z\\copy.txt";
  ASSERT_TRUE(copyFile(src, deep, false));
  EXPECT_EQ(winfs::readText(deep), "new");

  ASSERT_TRUE(winfs::writeFile(dst, "kept"));
  EXPECT_FALSE(copyFile(src, dst, true));
  EXPECT_EQ(winfs::readText(dst), "kept");
  EXPECT_FALSE(copyFile(rootDir() + "none.txt", dst, false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Deletion, CreateFolderPathEndsOnEveryPath) {
  createFolderPath(rootDir() + "a\\b\\c\\");
  EXPECT_TRUE(winfs::isFolder(rootDir() + "a\\b\\c"));
  createFolderPath(rootDir() + "d\\\\e");  // a doubled backslash still progresses
  EXPECT_TRUE(winfs::isFolder(rootDir() + "d\\e"));
  // Paths without an existing ancestor: each call must simply return.
  for (const char* path : {"Q:", "Q:\\x\\y\\", "\\\\", "\\", ""}) createFolderPath(path);
}

TEST_F(Deletion, FileVersion) {
  // The test program carries the installer's version resource, 3.8.4.0.
  int major = 0, revision = 0;
  myGetFileVersion(ownPath(), major, revision);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(revision, 4);

  const std::string plain = rootDir() + "plain.dll";
  ASSERT_TRUE(winfs::writeFile(plain, "no resource here"));
  for (const std::string& path : {plain, rootDir() + "missing.dll"}) {
    major = 77, revision = 88;
    myGetFileVersion(path, major, revision);
    EXPECT_EQ(major, 77);
    EXPECT_EQ(revision, 88);
  }
}
