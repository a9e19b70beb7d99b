// The saver's folder (declared in system/saver_folder_win32.h).
#include "system/saver_folder_win32.h"

#include <windows.h>

#include "base/install_ui.h"
#include "base/messages.h"
#include "base/process_state.h"
#include "base/names.h"
#include "system/access_win32.h"
#include "system/folders_win32.h"
#include "system/handles_win32.h"
#include "system/install_journal_win32.h"
#include "system/win_text_win32.h"

namespace {

// An empty name would make folder + name + "\" the folder itself: removing
// "the earlier installation" would then empty the Windows folder.
bool usable(const std::string& folder, const std::string& name) {
  return !folder.empty() && isValidSaverName(name);
}

std::string withoutTrailingBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

ErrorCode lastErrorOr(ErrorCode fallback) {
  DWORD e = GetLastError();
  return e ? static_cast<ErrorCode>(e) : fallback;
}

// CreateDirectory with the shared list; 0 when it succeeded or the folder
// is already there.
ErrorCode createOneFolder(const std::string& folder) {
  if (createSharedFolder(withoutTrailingBackslash(folder))) return errOk;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return errOk;
  return error != 0 ? static_cast<ErrorCode>(error) : errUnspecified;
}

constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The common folder, held open without sharing deletion from the moment it
// was checked until the process ends: it cannot be renamed or replaced.
struct HeldFolder {
  std::string path;
  UniqueFile handle;
};
HeldFolder& heldCommonFolder() {
  static HeldFolder held;
  return held;
}

// Copies one document from the work folder into the saver folder.
ErrorCode copyDocument(const std::string& workFolder, const std::string& saverFolder,
                       const std::string& name) {
  std::string source = workFolder + name;
  if (!fileExists(source)) return errFileMissing;
  if (copyFile(source, saverFolder + name, false)) return errOk;
  DWORD error = GetLastError();
  return error != 0 ? static_cast<ErrorCode>(error) : errCopyFailed;
}

// Whether an existing file or folder is a plain one that an ordinary user
// could not have made or changed (its owner and list as checkSecurity
// reads them), looked at without following a link.
bool ownedByAdministrators(const std::string& path) {
  if (!relativeCallsAvailable()) return true;  // 95, 98, ME: no owners, no links
  UniqueFile held(winOpenNoFollow(path, READ_CONTROL | FILE_READ_ATTRIBUTES, kHoldSharing | FILE_SHARE_DELETE));
  HandleFacts facts;
  if (!held || !winHandleFacts(held.get(), facts)) return false;
  if ((facts.attributes | winGetFileAttributes(path)) & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  return trusted(checkSecurity(held.get()));
}

// The Windows folder holds the system's own folders ("Fonts", "Temp",
// "System32"...), and users may create files in some of them ("Temp",
// "Tasks"): a folder there counts as an earlier installation of ours only
// when it holds our "saver.dat" and neither was made or can be changed by
// an ordinary user.
bool ourFolderIn(const std::string& folder, const std::string& name) {
  std::string own = folder + name;
  return fileExists(own + "\\saver.dat") && ownedByAdministrators(own) && ownedByAdministrators(own + "\\saver.dat");
}

bool earlierCopyInWindows(const std::string& folder, const std::string& name) {
  if (!usable(folder, name)) return false;
  return fileExists(folder + name + ".scr") || ourFolderIn(folder, name);
}

}  // namespace

bool saverExistsIn(const std::string& folder, const std::string& name) {
  if (!usable(folder, name)) return false;
  return fileExists(folder + name + ".scr") || folderExists(folder + name + "\\");
}

ErrorCode removeSaverFrom(const std::string& folder, const std::string& name) {
  if (!usable(folder, name)) return errOk;
  ErrorCode result = errOk;
  std::string program = folder + name + ".scr";
  if (fileExists(program)) result = deleteFileForced(program);
  std::string tree = folder + name + "\\";
  if (folderExists(tree)) {
    ErrorCode treeResult = deleteFolderTree(tree);
    if (result == errOk) result = treeResult;
  }
  return result;
}

ErrorCode secureExistingFolder(const std::string& path) {
  std::string bare = withoutTrailingBackslash(path);
  DWORD listed = winGetFileAttributes(bare);
  if (listed == INVALID_FILE_ATTRIBUTES || !relativeCallsAvailable()) return errOk;
  if (listed & FILE_ATTRIBUTE_REPARSE_POINT) return errLinkedSaverFolder;
  UniqueFile held(winOpenNoFollow(bare, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, kHoldSharing));
  if (!held) held.reset(winOpenNoFollow(bare, READ_CONTROL | FILE_READ_ATTRIBUTES, kHoldSharing));
  HandleFacts facts;
  if (!held || !winHandleFacts(held.get(), facts)) return lastErrorOr(errUnsafeFolder);
  if (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return errLinkedSaverFolder;
  if (trusted(checkSecurity(held.get()))) return errOk;
  // Made by an ordinary user, or open to them: the administrators' from now on.
  if (applySharedSecurity(held.get()) && trusted(checkSecurity(held.get()))) return errOk;
  return errUnsafeFolder;
}

ErrorCode holdCommonFolder(const std::string& folder, bool create) {
  std::string bare = withoutTrailingBackslash(folder);
  if (bare.empty()) return errNoFolder;
  HeldFolder& common = heldCommonFolder();
  if (common.handle && common.path == bare) return errOk;
  common.handle.reset();
  common.path = bare;
  UniqueFile& held = common.handle;
  if (create && winGetFileAttributes(bare) == INVALID_FILE_ATTRIBUTES) createSharedFolder(bare);
  if (winGetFileAttributes(bare) == INVALID_FILE_ATTRIBUTES) return create ? lastErrorOr(errNoFolder) : errOk;
  if (ErrorCode e = secureExistingFolder(bare)) return e;
  if (!relativeCallsAvailable()) return errOk;
  held.reset(winOpenNoFollow(bare, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, kHoldSharing));
  HandleFacts facts;
  if (!held) return lastErrorOr(errFileBusy);  // another program holds it with the right to delete
  if (!winHandleFacts(held.get(), facts) || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    held.reset();
    return errLinkedSaverFolder;
  }
  return errOk;
}

void releaseCommonFolder() { heldCommonFolder().handle.reset(); }

ErrorCode createSaverFolders(const std::string& folder, const std::string& name) {
  ErrorCode remembered = errOk;
  if (!folderExists(folder)) remembered = createOneFolder(folder);
  std::string own = folder + name + "\\";
  if (folderExists(own)) return remembered;
  ErrorCode result = createOneFolder(own);
  return result != errOk ? result : remembered;
}

ErrorCode prepareSaverFolder(const std::string& folder, const std::string& name, bool ask,
                             const std::string& question, InstallUi& ui) {
  const std::string& windowsFolder = processState().folders.windowsFolder;
  bool inFolder = saverExistsIn(folder, name);
  bool inWindows = earlierCopyInWindows(windowsFolder, name);
  if ((inFolder || inWindows) && ask) {
    MessageSpec message = overwriteQuestionMessage(name);
    if (!question.empty()) message.text = name + question;
    // Closing the box answers Cancel as well.
    if (ui.showMessage(message) != kButtonOk) return errUserAbort;
  }
  // A name unfit for a folder never gets this far in an install; here it
  // must not make the common folder itself "created" by the install.
  if (!usable(folder, name)) return createSaverFolders(folder, name);
  // Checked before anything changes: the common folder (made when missing,
  // and held from now on) and an earlier saver folder are plain folders
  // only administrators can change.
  const std::string own = folder + name + "\\";
  if (ErrorCode e = holdCommonFolder(folder, true)) return e;
  if (ErrorCode e = secureExistingFolder(own)) return e;
  // The earlier installation is set aside, not deleted: a failed or
  // cancelled install brings it back (system/install_journal_win32.h).
  InstallJournal& journal = installJournal();
  if (ErrorCode e = journal.begin(InstallJournal::pathFor(folder, name), name)) return e;
  if (inWindows && usable(windowsFolder, name)) {
    // What cannot be moved there stays, as it did when it could not be deleted.
    journal.setAside(windowsFolder + name + ".scr");
    if (ourFolderIn(windowsFolder, name)) journal.setAside(windowsFolder + name + "\\");
  }
  if (inFolder) {
    journal.setAside(folder + name + ".scr");
    // New files written into a folder still holding the old ones could not be
    // told apart from them afterwards: a folder in use stops the install.
    if (ErrorCode e = journal.setAside(own)) return e;
  }
  // Only administrators can put anything here meanwhile; one that did is
  // not taken for the install's own.
  if (folderExists(own)) return errFileBusy;
  if (ErrorCode e = journal.recordCreation(own)) return e;
  if (ErrorCode e = createSaverFolders(folder, name)) return e;
  // What the files go into must be the plain folder just made, not a link
  // (one whose target is missing cannot be seen before).
  if (!folderExists(own)) return errLinkedSaverFolder;
  return secureExistingFolder(own);
}

ErrorCode copyLicenseAndReadMe(const std::string& workFolder, const std::string& saverFolder,
                               const std::string& licenseName, const std::string& readMeName) {
  ErrorCode result = errOk;
  if (!licenseName.empty()) result = copyDocument(workFolder, saverFolder, licenseName);
  if (!readMeName.empty()) {
    ErrorCode readMe = copyDocument(workFolder, saverFolder, readMeName);
    if (readMe != errOk) result = readMe;
  }
  return result;
}
