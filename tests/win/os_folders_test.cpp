// The operating-system query and the installer's folders under wine64.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "base/process_state.h"
#include "system/access_win32.h"
#include "system/folders_win32.h"
#include "system/os_version_win32.h"
#include "tests/win/support/folder_fixture.h"

namespace {

// Puts processState().folders and an environment variable back afterwards.
class SavedFolders {
public:
  SavedFolders() : saved_(processState().folders) {}
  ~SavedFolders() { processState().folders = saved_; }

private:
  InstallerFolders saved_;
};

// Clears an environment variable for the scope.
class ClearedEnvironment {
public:
  explicit ClearedEnvironment(const char* name) : name_(name) {
    char buffer[1024];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    value_.assign(buffer, n < sizeof buffer ? n : 0);
    SetEnvironmentVariableA(name, nullptr);
  }
  ~ClearedEnvironment() { SetEnvironmentVariableA(name_, value_.empty() ? nullptr : value_.c_str()); }

private:
  const char* name_;
  std::string value_;
};

}  // namespace

TEST(OsQuery, WineReportsWindows7WithoutWow64) {
  // A 64-bit process is never under WOW64, and 6.1 is no code of its own.
  VersionRecord v = queryVersionRecord();
  ASSERT_TRUE(v.queryOk);
  EXPECT_EQ(v.platformId, kPlatformWin32NT);
  EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor), "6.1");
  EXPECT_EQ(v.csdVersion, "Service Pack 1");  // the terminator was found in the record
  EXPECT_FALSE(isWow64());
  EXPECT_EQ(GetOperatingSystem(), kOsUnknown);
  WindowsVersionFlags f = getWindowsVersionFlags();
  EXPECT_FALSE(f.isWin95 || f.isWin98 || f.isWinME || f.isWinNT || f.isWin2000 || f.isWinXP);
}

TEST(OsQuery, FailedWow64QueryThrowsBadProcessHandle) {
  try {
    isWow64Process(reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7ffffff0)));
    FAIL() << "no exception";
  } catch (const OsQueryError& e) {
    EXPECT_STREQ(e.what(), "Bad process handle");
  }
}

TEST(Folders, InitInstallerFoldersFillsTheTableInOrder) {
  SavedFolders saved;
  ASSERT_EQ(initInstallerFolders("C:\\some dir\\setup.exe"), errOk);
  const InstallerFolders& f = processState().folders;
  EXPECT_EQ(f.windowsFolder, "C:\\windows\\");
  EXPECT_EQ(f.systemFolder, "C:\\windows\\system32\\");
  EXPECT_EQ(f.sysnativeFolder, "C:\\windows\\Sysnative\\");
  EXPECT_EQ(f.commonFolder, "C:\\ProgramData\\Brindlefax\\");
  EXPECT_EQ(f.exeFolder, "C:\\some dir\\");
  const std::string base = "C:\\users\\root\\AppData\\Local\\Brindlefax\\ZNK";
  EXPECT_EQ(f.workFolder.compare(0, base.size(), base), 0) << f.workFolder;
  EXPECT_EQ(f.workFolder.back(), '\\');
  EXPECT_TRUE(folderExists(f.workFolder));
  EXPECT_EQ(deleteWorkFolder(f.workFolder), errOk);
  EXPECT_FALSE(folderExists(f.workFolder));
}

// WINDIR and SystemRoot are the user's to set (HKCU\Environment reaches an
// elevated run too): the folders come from the system, whatever they say.
TEST(Folders, TheEnvironmentDoesNotNameTheWindowsFolders) {
  SavedFolders saved;
  for (const char* value : {"", "C:\\users\\root\\planted"}) {
    SCOPED_TRACE(value);
    ClearedEnvironment windir("WINDIR"), root("SystemRoot");
    if (*value) {
      SetEnvironmentVariableA("WINDIR", value);
      SetEnvironmentVariableA("SystemRoot", value);
    }
    ASSERT_EQ(initInstallerFolders("setup.exe"), errOk);
    const InstallerFolders& f = processState().folders;
    EXPECT_EQ(f.windowsFolder, "C:\\windows\\");
    EXPECT_EQ(f.sysnativeFolder, "C:\\windows\\Sysnative\\");
    EXPECT_EQ(f.exeFolder, "");
    EXPECT_EQ(deleteWorkFolder(f.workFolder), errOk);
  }
}

class WorkFolder : public FolderFixture {};

TEST_F(WorkFolder, SkipsTakenNamesWhetherFilesOrFolders) {
  const std::string base = rootDir() + "Brindlefax\\";  // created on demand
  ASSERT_TRUE(winfs::makeFolders(base + "ZNK1"));
  ASSERT_TRUE(winfs::writeFile(base + "ZNK2", "a file"));
  std::string folder;
  ASSERT_EQ(createWorkFolderIn(rootDir() + "Brindlefax", "ZNK", folder), errOk);
  EXPECT_EQ(folder, base + "ZNK3\\");
  EXPECT_TRUE(winfs::isFolder(folder));
  std::string next;
  ASSERT_EQ(createWorkFolderIn(base, "ZNK", next), errOk);  // never reused
  EXPECT_EQ(next, base + "ZNK4\\");
  for (const std::string& made : {folder, next}) {
    ASSERT_TRUE(winfs::writeFile(made + "sub\\file.txt", "x"));
    EXPECT_EQ(deleteWorkFolder(made), errOk);
    EXPECT_FALSE(winfs::exists(made));
  }
}

// Between its creation and its deletion the work folder is held: a program
// of the user's can neither rename it nor its base away and put its own in
// their place (the installer would then run and read what that one holds).
TEST_F(WorkFolder, NeitherTheFolderNorItsBaseCanBeExchangedWhileHeld) {
  const std::string base = rootDir() + "Brindlefax\\";
  std::string folder;
  ASSERT_EQ(createWorkFolderIn(base, "ZNK", folder), errOk);
  const std::string bare = folder.substr(0, folder.size() - 1);
  EXPECT_FALSE(MoveFileExA(bare.c_str(), (rootDir() + "moved").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExA((rootDir() + "Brindlefax").c_str(), (rootDir() + "moved").c_str(), 0));
  EXPECT_FALSE(RemoveDirectoryA(bare.c_str()));
  EXPECT_TRUE(winfs::isFolder(folder));
  EXPECT_EQ(deleteWorkFolder(folder), errOk);
  // Let go with the folder: the base is the user's again.
  EXPECT_TRUE(MoveFileExA((rootDir() + "Brindlefax").c_str(), (rootDir() + "moved").c_str(), 0));
}

TEST_F(WorkFolder, AllCandidatesTakenOrUnreachableIsAnError) {
  for (int n = 1; n <= 1000; ++n)
    ASSERT_TRUE(CreateDirectoryA((rootDir() + "P" + std::to_string(n)).c_str(), nullptr));
  std::string folder = "unchanged";
  EXPECT_EQ(createWorkFolderIn(rootDir(), "P", folder), errNoWorkFolder);
  EXPECT_EQ(folder, "unchanged");
  // The base cannot be created: every candidate fails with path not found.
  EXPECT_EQ(createWorkFolderIn(rootDir() + "no\\such\\", "ZNK", folder), ERROR_PATH_NOT_FOUND);
}

namespace {

// The descriptor each folder was created with, as reported by the seam.
struct CreatedFolder {
  std::string path;
  std::string accessList;  // SDDL of the descriptor; "" for none
};
std::vector<CreatedFolder> createdFolders;

void recordCreatedFolder(const std::string& path, PSECURITY_DESCRIPTOR descriptor) {
  createdFolders.push_back({path, descriptor ? descriptorAccessList(descriptor) : std::string()});
}

}  // namespace

// Wine neither keeps nor enforces access lists, so what is checked is the
// descriptor each folder is created with.
TEST_F(WorkFolder, BaseAndWorkFolderGetTheAdministratorsOnlyList) {
  ASSERT_TRUE(processIsAdministrator());  // Wine's process token is elevated
  createdFolders.clear();
  FolderCreatedObserver previous = setFolderCreatedObserver(recordCreatedFolder);
  std::string folder;
  ErrorCode result = createWorkFolderIn(rootDir() + "Brindlefax\\", "ZNK", folder);
  setFolderCreatedObserver(previous);
  ASSERT_EQ(result, errOk);
  ASSERT_EQ(createdFolders.size(), 2u);
  EXPECT_EQ(createdFolders[0].path, rootDir() + "Brindlefax");
  EXPECT_EQ(createdFolders[1].path + "\\", folder);
  for (const CreatedFolder& created : createdFolders) EXPECT_EQ(created.accessList, kAdminOnlyFolderSddl);
  EXPECT_EQ(deleteWorkFolder(folder), errOk);
}

// The build links build/test_links/linked_base to a folder beside it (Wine
// shows a Unix symbolic link as a reparse point, as Windows shows a junction).
TEST_F(WorkFolder, LinkedBaseIsRefusedAndNothingIsCreatedThrough) {
  const std::string links = winfs::hostPath(TEST_BINARY_DIR "/test_links/");
  ASSERT_TRUE(winfs::isFolder(links + "linked_base"));
  std::string folder = "unchanged";
  EXPECT_EQ(createWorkFolderIn(links + "linked_base", "ZNK", folder), errLinkedWorkFolder);
  EXPECT_EQ(folder, "unchanged");
  EXPECT_TRUE(winfs::listFolder(links + "link_target").empty());
}
