// Desktop interactions (declared in system/desktop_win32.h).
#include "system/desktop_win32.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "base/crc32.h"
#include "base/install_ui.h"
#include "system/folders_win32.h"
#include "system/handles_win32.h"
#include "system/launcher_win32.h"
#include "system/win_text_win32.h"

namespace {

constexpr int kCancelItem = 2;  // IDCANCEL

// The running program's path exactly as the system reports it.
std::string modulePath() { return winModuleFileName(); }

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void closeDisplayProperties() {
  // The translated titles first, then the English ones.
  const std::string titles[] = {loadText(IDS_DISPLAY_PROPERTIES_TITLE),
                                loadText(IDS_SCREEN_SAVER_SETTINGS_TITLE), "Display Properties",
                                "Screen Saver Settings"};
  for (const std::string& title : titles) {
    // An empty title would match any untitled window.
    if (title.empty()) continue;
    HWND window = winFindWindow(title);
    if (!window) continue;
    // Cancel, so that nothing half-set in the dialog is applied.  A hung
    // dialog is left alone after the timeout: the install goes on.
    DWORD_PTR ignored = 0;
    if (HWND cancel = GetDlgItem(window, kCancelItem))
      SendMessageTimeoutA(cancel, BM_CLICK, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kOtherWindowTimeoutMs, &ignored);
    return;
  }
}

std::string startupShortcutName(const std::string& installerPath, InstallUi* ui) {
  std::uint32_t crc = 0;
  // Over the path in the system's code page, as earlier installers named the
  // shortcut, so that theirs are found as well.
  if (!crc32OfString(toAnsiText(installerPath), crc)) {
    if (ui) ui->showMessage({true, DialogKind::Plain, DialogButtons::Ok, crcTableMismatchMessage(crcTableCheck())});
    return std::string();
  }
  return std::to_string(crc) + "_installer.lnk";
}

void removeStartupShortcutIn(const std::string& startupFolder, const std::string& installerPath,
                             InstallUi* ui) {
  if (startupFolder.empty() || installerPath.empty()) return;
  std::string name = startupShortcutName(installerPath, ui);
  if (name.empty()) return;
  std::string path = withTrailingBackslash(startupFolder) + name;
  if (!relativeCallsAvailable()) {
    deleteFileForced(path);  // 95, 98, ME: no links, no other accounts' files
    return;
  }
  // The folder is the user's: a junction there (to an object directory
  // whose entry names any file) would have an elevated deletion remove a
  // file of the system's.  So the shortcut is opened without following a
  // link and deleted through that handle only when it is a plain file
  // whose resolved path is the one asked for.
  UniqueFile folder(winOpenNoFollow(startupFolder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE));
  UniqueFile shortcut(winOpenNoFollow(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE));
  HandleFacts facts;
  if (!folder || !shortcut || !winHandleFacts(shortcut.get(), facts)) return;  // usually there is none
  if (facts.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return;
  std::string expected = winFinalPath(folder.get());
  std::string resolved = winFinalPath(shortcut.get());
  if (!expected.empty() && !equalsIgnoringCase(resolved, withTrailingBackslash(expected) + name)) return;
  winDeleteByHandle(shortcut.get(), path);
}

void removeStartupShortcut(InstallUi* ui) {
  removeStartupShortcutIn(getSpecialFolder(CSIDL_STARTUP), modulePath(), ui);
}
