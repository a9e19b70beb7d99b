// "/u": removes what the installer installed for this saver, and nothing
// else: the saver's folder (common application data + "Brindlefax\" +
// name), the uninstall entry of that name (machine, then user), and the
// program itself from the system folder (and from the native system folder
// on 64-bit Windows).
//
// The installer and this uninstall share one lock, the saver's install
// journal: while an install runs, the uninstall refuses; an install that
// was interrupted is finished first (otherwise the next installer would
// bring back what this removes).  The folder is removed with the
// installer's own walk, which never acts through a link.
//
// Order matters for a second try: the folder goes first, and if any of it
// cannot be removed (a file in use) the run stops there, so the entry and
// the program stay and the user can run the uninstall again.  The program
// cannot delete its own running file on Windows: that copy is scheduled for
// deletion at the next start (saverDeleteAtRestart); where that is refused,
// the message names the file left for the user to delete.
#include <windows.h>

#include <string>
#include <vector>

#include "system/handles_win32.h"
#include "system/install_journal_win32.h"
#include "system/tree_removal_win32.h"
#include "system/win_text_win32.h"
#include "tools/sample-saver/saver_rules.h"
#include "tools/sample-saver/saver_system_win32.h"
#include "tools/sample-saver/saver_win32.h"

namespace {

std::wstring withoutTrailingSlash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring displayNameOf(const std::wstring& name) {
  std::wstring lower;
  for (wchar_t c : name) lower += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
  return lower.find(L"saver") != std::wstring::npos ? name : name + L" Screen Saver";
}

std::wstring errorText(DWORD code) { return saverErrorText(code) + L" (" + std::to_wstring(code) + L")"; }

// The first failure of a tree removal: its path and code.
struct Failure {
  std::wstring path;
  DWORD code = 0;
  explicit operator bool() const { return code != 0; }
};

// Deletes a file, clearing a read-only attribute first (DeleteFile refuses
// read-only files).
DWORD deleteFileForced(const std::wstring& path) {
  DWORD attributes = saverGetFileAttributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    saverSetFileAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (saverDeleteFile(path)) return 0;
  DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND ? 0 : code;
}

// Deletes folder (ending with '\') and everything in it, going on past what
// cannot be deleted.
void deleteTree(const std::wstring& folder, Failure& first) {
  RemovalFailure failure;
  if (removeTree(fromWideText(folder.data(), folder.size()), &failure)) return;
  first = Failure{toWideText(failure.path), failure.code};
}

std::string utf8(const std::wstring& text) { return fromWideText(text.data(), text.size()); }

std::string withBackslash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

enum class FolderCheck { Absent, Saver, NotASaverFolder };

// Only a real folder that holds the installer's "saver.dat" is taken for
// the saver's folder; a file, a link or a folder without it is not ours.
FolderCheck checkFolder(const std::wstring& folder) {
  DWORD attributes = saverGetFileAttributes(withoutTrailingSlash(folder));
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderCheck::Absent;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return FolderCheck::NotASaverFolder;
  DWORD marker = saverGetFileAttributes(folder + L"saver.dat");
  if (marker == INVALID_FILE_ATTRIBUTES || (marker & FILE_ATTRIBUTE_DIRECTORY)) return FolderCheck::NotASaverFolder;
  return FolderCheck::Saver;
}

enum class EntryResult { Absent, Removed, NotOurs, Failed };

// Removes the entry under one root, but only when it is the one the
// installer wrote for this saver.
EntryResult removeEntry(HKEY root, const std::wstring& name) {
  std::wstring path = uninstallKeyPath(name);
  UniqueRegKey key;
  if (saverRegOpenKey(root, path, KEY_READ, key.put()) != ERROR_SUCCESS) return EntryResult::Absent;
  if (!isOwnUninstallString(saverRegQueryString(key.get(), L"UninstallString"), name)) return EntryResult::NotOurs;
  key.reset();
  return saverRegDeleteKey(root, path) == ERROR_SUCCESS ? EntryResult::Removed : EntryResult::Failed;
}

bool isWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto query = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                            reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                      : nullptr;
  BOOL wow = FALSE;
  return query && query(GetCurrentProcess(), &wow) && wow;
}

// The installed copies of the program: the system folder, and on 64-bit
// Windows (seen from this 32-bit program) the native system folder too.
std::vector<std::wstring> programCopies(const std::wstring& name) {
  std::vector<std::wstring> copies;
  std::wstring system = saverSystemFolder(), windows = saverWindowsFolder();
  if (!system.empty()) copies.push_back(system + L"\\" + name + L".scr");
  if (isWow64() && !windows.empty()) copies.push_back(windows + L"\\Sysnative\\" + name + L".scr");
  return copies;
}

// What happened to the program's copies, for the closing message.
struct ProgramOutcome {
  std::vector<std::wstring> atRestart;  // scheduled for deletion at the next start
  std::vector<std::wstring> left;       // could be neither deleted nor scheduled
};

void removeProgram(const std::wstring& path, ProgramOutcome& outcome) {
  if (saverGetFileAttributes(path) == INVALID_FILE_ATTRIBUTES) return;
  if (deleteFileForced(path) == 0) return;
  // Usually this very program, still running from that file.
  if (saverDeleteAtRestart(path)) outcome.atRestart.push_back(path);
  else outcome.left.push_back(path);
}

// The system folder, the machine's uninstall list and the folder the
// elevated installer wrote can only be changed with administrator rights:
// the program starts itself again elevated (the question was answered
// already, so with "/q") and reports what that run returns.
int rerunElevated(const SaverContext& context) {
  int code = saverRunElevated(context.programPath, L"/u /q");
  if (code < 0) return GetLastError() == ERROR_CANCELLED ? errSaverDeclined : errSaverRemoveFailed;
  return code;
}

void tell(bool quiet, const std::wstring& title, const std::wstring& text, UINT icon) {
  if (!quiet) MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | icon);
}

// Finishes an install of this saver that was interrupted, then takes the
// saver's install journal as the lock no installer can begin against.
ErrorCode lockAgainstInstalls(const SaverContext& context, InstallJournal& lock) {
  const std::string name = utf8(context.name);
  const std::string common = withBackslash(utf8(context.commonAppData)) + "Brindlefax\\";
  const std::string windows = withBackslash(winSystemWindowsDirectory());
  std::vector<std::string> programFolders = {windows, withBackslash(winSystemDirectory()), common};
  if (isWow64()) programFolders.push_back(windows + "Sysnative\\");
  const std::string journal = InstallJournal::pathFor(common, name);
  if (ErrorCode e = recoverInterruptedInstall(journal, saverJournalScope(name, common, windows, programFolders), nullptr))
    return e;
  return lock.lock(journal);
}

}  // namespace

int runUninstall(const SaverContext& context, bool quiet) {
  const std::wstring title = L"Uninstall";
  if (!isSafeSaverName(context.name) || context.folder.empty()) {
    tell(quiet, title,
         L"This program is not an installed screen saver (its file is \"" + context.programPath +
             L"\"), so there is nothing to uninstall.",
         MB_ICONERROR);
    return errSaverNotInstalled;
  }
  const std::wstring display = displayNameOf(context.name);
  auto notTheSaversFolder = [&] {
    tell(quiet, title,
         L"\"" + context.folder + L"\" does not look like the folder of " + display +
             L" (it holds no saver.dat), so nothing was removed.",
         MB_ICONERROR);
    return errSaverNotInstalled;
  };
  FolderCheck folder = checkFolder(context.folder);
  if (folder == FolderCheck::NotASaverFolder) return notTheSaversFolder();
  if (!quiet && MessageBoxW(nullptr,
                            (L"Remove " + display + L" and all of its files from this computer?").c_str(),
                            title.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    return errSaverDeclined;
  if (saverRunsWithoutElevation()) {
    int code = rerunElevated(context);
    if (code == 0) tell(quiet, title, display + L" was removed.", MB_ICONINFORMATION);
    else if (code != errSaverDeclined)
      tell(quiet, title, display + L" could not be removed completely (code " + std::to_wstring(code) + L").",
           MB_ICONWARNING);
    return code;
  }

  InstallJournal lock;
  if (lockAgainstInstalls(context, lock) != errOk) {
    tell(quiet, title,
         display + L" is being installed, or an installation of it that was interrupted cannot be finished yet "
                   L"(a file is in use). Run the uninstall again when the installation has ended.",
         MB_ICONWARNING);
    return errSaverBusy;
  }
  ScopeExit unlock([&lock] { lock.release(); });
  // What the finished installation left is what goes.
  folder = checkFolder(context.folder);
  if (folder == FolderCheck::NotASaverFolder) return notTheSaversFolder();

  if (folder == FolderCheck::Saver) {
    Failure failure;
    deleteTree(context.folder, failure);
    if (failure) {
      tell(quiet, title,
           L"\"" + failure.path + L"\" could not be removed: " + errorText(failure.code) +
               L".\r\n\r\nClose any program that uses it and run the uninstall again.",
           MB_ICONERROR);
      return errSaverRemoveFailed;
    }
  }

  bool entryFailed = false;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    if (removeEntry(root, context.name) == EntryResult::Failed) entryFailed = true;

  ProgramOutcome program;
  for (const std::wstring& copy : programCopies(context.name)) removeProgram(copy, program);

  std::wstring text = display + L" was removed.";
  for (const std::wstring& path : program.atRestart)
    text += L"\r\n\r\n\"" + path + L"\" is in use and will be deleted when Windows restarts.";
  for (const std::wstring& path : program.left)
    text += L"\r\n\r\n\"" + path + L"\" could not be deleted; delete it when the screen saver is not running.";
  if (entryFailed) text += L"\r\n\r\nIts entry in the list of installed programs could not be removed.";
  bool complete = program.left.empty() && !entryFailed;
  tell(quiet, title, text, complete ? MB_ICONINFORMATION : MB_ICONWARNING);
  return complete ? 0 : errSaverRemoveFailed;
}
