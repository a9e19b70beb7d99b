// The install journal (declared in system/install_journal_win32.h).
#include "system/install_journal_win32.h"

#include <windows.h>

#include <algorithm>

#include "base/diagnostic_trace.h"
#include "system/folders_win32.h"
#include "system/uninstall_win32.h"
#include "system/win_text_win32.h"

namespace {

HKEY rootOf(char root) { return root == 'U' ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

bool isFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string withoutTrailingBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// Removes a file or a folder tree; true when nothing is left there.
bool removePath(const std::string& path) {
  std::string bare = withoutTrailingBackslash(path);
  DWORD attributes = winGetFileAttributes(bare);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (isFolder(attributes) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return deleteFolderTree(bare + "\\") == errOk;
  if (isFolder(attributes)) {  // a link: the link goes, never what it points at
    winSetFileAttributes(bare, FILE_ATTRIBUTE_NORMAL);
    return winRemoveDirectory(bare);
  }
  return deleteFileForced(bare) == errOk;
}

// Puts one backup back where it came from.
void restoreAside(const JournalRecord& r) {
  std::string path = withoutTrailingBackslash(r.path);
  if (winGetFileAttributes(r.backup) == INVALID_FILE_ATTRIBUTES) return;  // never set aside, or back already
  removePath(path);  // what the install wrote in its place
  if (winMoveFile(r.backup, path, 0)) winSetFileAttributes(path, r.attributes);
}

}  // namespace

std::string InstallJournal::pathFor(const std::string& commonFolder, const std::string& saverName) {
  return commonFolder + saverName + ".install-journal";
}

ErrorCode InstallJournal::begin(const std::string& journalPath, const std::string& saverName) {
  close();
  records_.clear();
  path_ = journalPath;
  std::size_t slash = journalPath.find_last_of('\\');
  if (slash != std::string::npos) createFolderPath(journalPath.substr(0, slash + 1));
  HANDLE h = winCreateFile(journalPath, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    // An existing journal is another run's (alive, or not yet recovered).
    return e == ERROR_SHARING_VIOLATION || e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS
               ? errFileBusy
               : static_cast<ErrorCode>(e ? e : errUnspecified);
  }
  file_.adopt(h);
  std::string signature = std::string(kJournalSignature) + "\n";
  if (file_.write(signature.data(), signature.size()) != errOk) {
    rollback();
    return errFileBusy;
  }
  for (char root : {'M', 'U'}) {
    UninstallValues v = readUninstallEntry(saverName, rootOf(root));
    JournalRecord r;
    r.kind = JournalRecord::Kind::Uninstall;
    r.root = root;
    r.path = saverName;
    r.present = v.present;
    r.displayName = v.displayName;
    r.uninstallString = v.uninstallString;
    append(r);
  }
  return errOk;
}

bool InstallJournal::append(const JournalRecord& record) {
  if (!file_.isOpen()) return false;
  std::string line = journalLine(record);
  // Written through before the step it describes: a run killed after the
  // step finds its record.
  if (file_.write(line.data(), line.size()) != errOk || !file_.flush()) return false;
  records_.push_back(record);
  traceEvent("journal", {line.substr(0, line.size() - 1)});
  return true;
}

ErrorCode InstallJournal::setAside(const std::string& path) {
  std::string bare = withoutTrailingBackslash(path);
  DWORD attributes = winGetFileAttributes(bare);
  if (attributes == INVALID_FILE_ATTRIBUTES) return errOk;
  JournalRecord r;
  r.kind = JournalRecord::Kind::Aside;
  r.path = bare;
  r.backup = backupPathFor(bare);
  r.attributes = attributes;
  removePath(r.backup);
  if (!append(r)) return errFileBusy;
  if (winMoveFile(bare, r.backup, 0)) return errOk;
  // Nothing moved: the record is harmless (its backup does not exist).
  return errFileBusy;
}

ErrorCode InstallJournal::prepareFile(const std::string& path) {
  if (!active()) return errOk;
  if (winGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES) return setAside(path);
  noteCreated(path);
  return errOk;
}

void InstallJournal::noteCreated(const std::string& path) {
  JournalRecord r;
  r.kind = JournalRecord::Kind::Created;
  r.path = withoutTrailingBackslash(path);
  append(r);
}

bool InstallJournal::created(const std::string& path) const {
  std::string bare = withoutTrailingBackslash(path);
  return std::any_of(records_.begin(), records_.end(), [&bare](const JournalRecord& r) {
    return r.kind == JournalRecord::Kind::Created && r.path == bare;
  });
}

void InstallJournal::commit() {
  if (!active()) return;
  JournalRecord done;
  done.kind = JournalRecord::Kind::Committed;
  append(done);
  applyJournal(records_, true);
  close();
  winDeleteFile(path_);
}

void InstallJournal::rollback() {
  if (!active()) return;
  applyJournal(records_, false);
  close();
  winDeleteFile(path_);
}

void InstallJournal::close() {
  file_ = FileStream();
  records_.clear();
}

InstallJournal& installJournal() {
  static InstallJournal journal;
  return journal;
}

void applyJournal(const std::vector<JournalRecord>& records, bool committed) {
  using Kind = JournalRecord::Kind;
  if (committed) {
    for (const JournalRecord& r : records)
      if (r.kind == Kind::Aside) removePath(r.backup);
    return;
  }
  // Newest first: what was created goes before the backups come back.
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    if (it->kind == Kind::Created) removePath(it->path);
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    if (it->kind == Kind::Aside) restoreAside(*it);
  for (const JournalRecord& r : records) {
    if (r.kind != Kind::Uninstall) continue;
    restoreUninstallEntry(r.path, rootOf(r.root), UninstallValues{r.present, r.displayName, r.uninstallString});
  }
}

void recoverInterruptedInstalls(const std::string& commonFolder) {
  if (commonFolder.empty()) return;
  std::vector<std::string> journals;
  FolderListing listing;
  for (bool more = listing.first(commonFolder + "*.install-journal"); more; more = listing.next())
    if (!(listing.entry().attributes & FILE_ATTRIBUTE_DIRECTORY)) journals.push_back(commonFolder + listing.entry().name);
  listing = FolderListing();
  for (const std::string& journal : journals) recoverInterruptedInstall(journal);
}

void recoverInterruptedInstall(const std::string& journalPath) {
  // No sharing: fails while another installer holds the journal.
  HANDLE h = winCreateFile(journalPath, GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return;
  FileStream file;
  file.adopt(h);
  std::uint64_t size = 0;
  if (file.size(size) != errOk || size > (16u << 20)) return;
  std::string text(static_cast<std::size_t>(size), '\0');
  if (file.readExact(text.data(), text.size()) != errOk) return;
  std::optional<std::vector<JournalRecord>> records = parseJournal(text);
  if (!records) return;  // not ours: left alone
  bool committed = std::any_of(records->begin(), records->end(),
                               [](const JournalRecord& r) { return r.kind == JournalRecord::Kind::Committed; });
  applyJournal(*records, committed);
  file = FileStream();
  winDeleteFile(journalPath);
}
