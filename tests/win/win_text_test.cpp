// Names outside the ANSI code page through the program's one module that
// talks to Windows about names, and the system's own code page tables.
#include <gtest/gtest.h>

#include "base/code_page.h"
#include "base/crc32.h"
#include "system/desktop_win32.h"
#include "system/file_stream_win32.h"
#include "system/folders_win32.h"
#include "system/win_text_win32.h"
#include "tests/native/code_page_cases.h"
#include "tests/win/support/folder_fixture.h"

namespace {

// "Łukasz" and "下载": neither is in code page 1252.
const std::string kLukasz = "\xC5\x81ukasz";
const std::string kDownloads = "\xE4\xB8\x8B\xE8\xBD\xBD";

TEST(SystemCodePages, SameTextAsThePortableTables) {
  for (const CodePageCase& c : kCodePageCases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + c.why);
    EXPECT_EQ(ansiToUtf8(c.bytes, c.codePage), c.text);
    if (c.text) {
      EXPECT_EQ(utf8ToAnsi(*c.text, c.codePage), c.bytes);
    }
  }
  // Windows' best fit would turn Ł into L: a different name, refused.
  EXPECT_EQ(utf8ToAnsi(kLukasz, 1252), std::nullopt);
  EXPECT_EQ(utf8ToAnsiLossy(kLukasz, 1252), "?ukasz");
}

class WideNamesTest : public FolderFixture {
protected:
  // A folder under the fixture's root that only the W functions can name.
  std::string wideRoot() const { return rootDir() + kLukasz + "\\" + kDownloads + "\\"; }
};

TEST_F(WideNamesTest, FoldersFilesCopiesAndDeletionOutsideTheCodePage) {
  ASSERT_TRUE(wideCallsAvailable());
  createFolderPath(wideRoot());
  ASSERT_TRUE(folderExists(wideRoot()));
  const std::string file = wideRoot() + "Caf\xC3\xA9 " + kLukasz + ".txt";
  FileStream out;
  ASSERT_EQ(out.create(file), errOk);
  ASSERT_EQ(out.write("abc", 3), errOk);
  ASSERT_EQ(out.close(), errOk);
  std::uint64_t size = 0;
  EXPECT_TRUE(fileSizeOf(file, size));
  EXPECT_EQ(size, 3u);
  EXPECT_TRUE(fileExists(file));
  EXPECT_FALSE(fileExists(wideRoot() + "Caf\xC3\xA9 ?ukasz.txt"));  // no lossy twin was made

  const std::string copy = wideRoot() + kDownloads + "\\" + kLukasz + ".bin";
  ASSERT_TRUE(copyFile(file, copy, false));
  FolderListing listing;
  std::vector<std::string> names;
  for (bool more = listing.first(wideRoot() + "*"); more; more = listing.next()) names.push_back(listing.entry().name);
  EXPECT_NE(std::find(names.begin(), names.end(), kDownloads), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Caf\xC3\xA9 " + kLukasz + ".txt"), names.end());

  winSetFileAttributes(copy, FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(deleteFolderTree(rootDir() + kLukasz), errOk);
  EXPECT_FALSE(folderExists(rootDir() + kLukasz));
}

TEST_F(WideNamesTest, WorkFolderUnderAProfileOutsideTheCodePage) {
  createFolderPath(wideRoot());
  std::string folder;
  ASSERT_EQ(createWorkFolderIn(wideRoot() + "Brindlefax", "ZNK", folder), errOk);
  EXPECT_EQ(folder, wideRoot() + "Brindlefax\\ZNK1\\");
  EXPECT_TRUE(folderExists(folder));
  EXPECT_EQ(deleteWorkFolder(folder), errOk);
}

TEST_F(WideNamesTest, RegistryValuesKeepTheirText) {
  const std::string key = "Software\\Brindlefax test\\" + kLukasz;
  UniqueRegKey k;
  ASSERT_EQ(winRegCreateKey(HKEY_CURRENT_USER, key, KEY_ALL_ACCESS, k.put()), ERROR_SUCCESS);
  ASSERT_EQ(winRegSetString(k.get(), "Path", "C:\\" + kDownloads + "\\Setup.exe"), ERROR_SUCCESS);
  std::string back;
  EXPECT_EQ(winRegQueryString(k.get(), "Path", back), ERROR_SUCCESS);
  EXPECT_EQ(back, "C:\\" + kDownloads + "\\Setup.exe");
  k.reset();
  EXPECT_EQ(winRegDeleteKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
  winRegDeleteKey(HKEY_CURRENT_USER, "Software\\Brindlefax test");
}

TEST(StartupShortcutName, NamedAfterThePathInTheCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "written for code page 1252";
  // Earlier installers hashed the path the A functions reported: '?' for
  // what the code page lacks, and the code page's bytes for the rest.
  std::uint32_t ansiCrc = 0;
  ASSERT_TRUE(crc32OfString("C:\\??\\Caf\xE9.exe", ansiCrc));
  EXPECT_EQ(startupShortcutName("C:\\" + kDownloads + "\\Caf\xC3\xA9.exe"), std::to_string(ansiCrc) + "_installer.lnk");
}

TEST(WindowTexts, RoundTripOutsideTheCodePage) {
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(w);
  winSetWindowText(w, kLukasz + " " + kDownloads);
  EXPECT_EQ(winGetWindowText(w), kLukasz + " " + kDownloads);
  DestroyWindow(w);
}

}  // namespace
