// The saver's folder (declared in system/saver_folder_win32.h).
#include "system/saver_folder_win32.h"

#include <windows.h>

#include "base/install_ui.h"
#include "base/messages.h"
#include "base/process_state.h"
#include "base/names.h"
#include "system/folders_win32.h"
#include "system/install_journal_win32.h"
#include "system/win_text_win32.h"

namespace {

// An empty name would make folder + name + "\" the folder itself: removing
// "the earlier installation" would then empty the Windows folder.
bool usable(const std::string& folder, const std::string& name) {
  return !folder.empty() && isValidSaverName(name);
}

// CreateDirectory; 0 when it succeeded or the folder is already there.
ErrorCode createOneFolder(const std::string& folder) {
  if (winCreateDirectory(folder)) return errOk;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return errOk;
  return error != 0 ? static_cast<ErrorCode>(error) : errUnspecified;
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

// The Windows folder holds the system's own folders ("Fonts", "Temp",
// "System32"...): a folder there counts as an earlier installation of ours
// only when it holds our "saver.dat".
bool ourFolderIn(const std::string& folder, const std::string& name) {
  return fileExists(folder + name + "\\saver.dat");
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
  // The earlier installation is set aside, not deleted: a failed or
  // cancelled install brings it back (system/install_journal_win32.h).
  // A name unfit for a folder never gets this far in an install; here it
  // must not make the common folder itself "created" by the install.
  if (!usable(folder, name)) return createSaverFolders(folder, name);
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
    if (ErrorCode e = journal.setAside(folder + name + "\\")) return e;
  }
  journal.noteCreated(folder + name + "\\");
  return createSaverFolders(folder, name);
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
