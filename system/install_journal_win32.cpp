// The install journal (declared in system/install_journal_win32.h).
#include "system/install_journal_win32.h"

#include <windows.h>

#include <optional>

#include "base/diagnostic_trace.h"
#include "base/install_ui.h"
#include "base/package_format.h"
#include "base/process_state.h"
#include "system/access_win32.h"
#include "system/os_version.h"
#include "system/tree_removal_win32.h"
#include "system/uninstall_win32.h"
#include "system/win_text_win32.h"

namespace {

using Kind = JournalRecord::Kind;

// Larger than any journal this installer writes.
constexpr std::uint64_t kMaxJournalSize = 16u << 20;

HKEY rootOf(char root) { return root == 'U' ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

std::string withoutTrailingBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

bool exists(const std::string& path) { return winGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

bool changesSomething(Kind kind) { return kind == Kind::Aside || kind == Kind::Created || kind == Kind::Uninstall; }

// A name that is free now: base, or base + "-2", "-3", ...
std::string freeName(const std::string& base) {
  if (!exists(base)) return base;
  for (int n = 2; n <= kMaxBackupNumber; ++n)
    if (!exists(base + "-" + std::to_string(n))) return base + "-" + std::to_string(n);
  return std::string();
}

// What a step of the undo works on, for keeping apart the steps that
// depend on one that could not be undone.
std::string subjectOf(const JournalRecord& r) {
  return r.kind == Kind::Uninstall ? std::string("uninstall entry ") + r.root + " " + r.path : r.path;
}

bool related(const std::string& a, const std::string& b) {
  return samePath(a, b) || isPlainPathBelow(a, b) || isPlainPathBelow(b, a);
}

// A backup of a committed install.  A file the system will not delete now
// (a program still runs from it) goes at the next restart.
bool removeBackup(const std::string& backup) {
  DWORD attributes = winGetFileAttributes(backup);
  if (attributes == INVALID_FILE_ATTRIBUTES || removeTree(backup)) return true;
  return !(attributes & FILE_ATTRIBUTE_DIRECTORY) && winDeleteAtRestart(backup);
}

}  // namespace

std::string InstallJournal::pathFor(const std::string& commonFolder, const std::string& saverName) {
  return commonFolder + saverName + ".install-journal";
}

ErrorCode InstallJournal::lock(const std::string& journalPath) {
  close();
  path_ = journalPath;
  PrivateFolderSecurity security = PrivateFolderSecurity::shared();
  HANDLE h = winCreateFile(journalPath, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, security.attributes());
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    // An existing journal is another run's (alive, or not yet finished).
    return e == ERROR_SHARING_VIOLATION || e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS
               ? errFileBusy
               : static_cast<ErrorCode>(e ? e : errUnspecified);
  }
  file_.adopt(h, journalPath);
  std::string signature = std::string(kJournalSignature) + "\n";
  if (file_.write(signature.data(), signature.size()) == errOk && file_.flush()) return errOk;
  DWORD e = GetLastError();
  finish();
  return e ? static_cast<ErrorCode>(e) : errFileBusy;
}

ErrorCode InstallJournal::begin(const std::string& journalPath, const std::string& saverName) {
  if (ErrorCode e = lock(journalPath)) return e;
  bool written = true;
  for (char root : {'M', 'U'}) {
    if (!written) break;
    UninstallValues v = readUninstallEntry(saverName, rootOf(root));
    JournalRecord r;
    r.kind = Kind::Uninstall;
    r.root = root;
    r.path = saverName;
    r.present = v.present;
    r.displayName = v.displayName;
    r.uninstallString = v.uninstallString;
    written = append(r);
  }
  if (!written) {
    // Nothing has been changed yet: the journal goes again.
    DWORD e = lastError_ ? lastError_ : GetLastError();
    finish();
    return e ? static_cast<ErrorCode>(e) : errFileBusy;
  }
  return errOk;
}

bool InstallJournal::append(const JournalRecord& record) {
  if (!file_.isOpen()) return false;
  std::string line = journalLine(record);
  // Written through and flushed before the step it describes: a run cut off
  // after the step finds its record.
  if (ErrorCode e = file_.write(line.data(), line.size())) {
    lastError_ = static_cast<DWORD>(e);
    return false;
  }
  if (!file_.flush()) {
    lastError_ = GetLastError();
    return false;
  }
  records_.push_back(record);
  traceEvent("journal", {line.substr(0, line.size() - 1)});
  return true;
}

ErrorCode InstallJournal::setAside(const std::string& path) {
  std::string bare = withoutTrailingBackslash(path);
  DWORD attributes = winGetFileAttributes(bare);
  if (attributes == INVALID_FILE_ATTRIBUTES) return errOk;
  if (!active()) return errFileBusy;
  JournalRecord r;
  r.kind = Kind::Aside;
  r.path = bare;
  r.attributes = attributes;
  // A backup name that is taken belongs to nobody we know of: it stays.
  for (int n = 1; n <= kMaxBackupNumber && r.backup.empty(); ++n)
    if (!exists(backupPathFor(bare, n))) r.backup = backupPathFor(bare, n);
  if (r.backup.empty() || !append(r)) return errFileBusy;
  if (winMoveFile(bare, r.backup, 0)) return errOk;
  // Nothing moved: recorded as undone, so no backup is ever looked for.
  JournalRecord nothing;
  nothing.kind = Kind::Undone;
  nothing.target = records_.size() - 1;
  append(nothing);
  return errFileBusy;
}

ErrorCode InstallJournal::recordCreation(const std::string& path) {
  JournalRecord r;
  r.kind = Kind::Created;
  r.path = withoutTrailingBackslash(path);
  return append(r) ? errOk : errFileBusy;
}

ErrorCode InstallJournal::prepareFile(const std::string& path) {
  if (!active()) return errOk;
  if (ErrorCode e = setAside(path)) return e;
  return recordCreation(path);
}

ErrorCode InstallJournal::commit() {
  if (!active()) return errOk;
  JournalRecord committed;
  committed.kind = Kind::Committed;
  // Not recorded (the disk the install filled, say): the install cannot be
  // called finished, and its backups must stay.
  if (!append(committed)) return lastError_ ? static_cast<ErrorCode>(lastError_) : errFileBusy;
  if (removeBackups() == errOk)
    finish();
  else
    close();  // the next run removes what is left
  return errOk;
}

ErrorCode InstallJournal::removeBackups() {
  JournalProgress progress = journalProgress(records_);
  ErrorCode result = errOk;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const JournalRecord& r = records_[i];
    if (r.kind == Kind::Aside && !progress.undone[i] && !removeBackup(r.backup)) result = errFileBusy;
  }
  return result;
}

ErrorCode InstallJournal::rollback(InstallUi* ui) { return active() ? undo(ui) : errOk; }

ErrorCode InstallJournal::undo(InstallUi* ui) {
  JournalProgress progress = journalProgress(records_);
  std::vector<std::string> stuck;
  ErrorCode result = errOk;
  const std::size_t count = records_.size();
  for (std::size_t i = count; i-- > 0;) {
    const JournalRecord r = records_[i];
    if (!changesSomething(r.kind) || progress.undone[i]) continue;
    std::string subject = subjectOf(r);
    bool blocked = false;
    for (const std::string& s : stuck) blocked = blocked || related(s, subject);
    if (blocked) continue;  // waits for the step that could not be undone
    bool done = false;
    if (r.kind == Kind::Created) {
      done = removeTree(r.path);
    } else if (r.kind == Kind::Aside) {
      if (!exists(r.backup)) {
        done = true;  // never moved, or back already
      } else if (!exists(r.path) || (legacy_ && removeTree(r.path))) {
        // Earlier releases recorded no creation for a replacement.
        done = winMoveFile(r.backup, r.path, 0);
        if (done) winSetFileAttributes(r.path, r.attributes & ~FILE_ATTRIBUTE_DIRECTORY);
      }
    } else {
      done = restoreUninstallEntry(r.path, rootOf(r.root),
                                   UninstallValues{r.present, r.displayName, r.uninstallString}) == errOk;
    }
    if (!done) {
      stuck.push_back(subject);
      if (result == errOk) result = errFileBusy;
      traceEvent("journal stuck", {subject});
      if (ui && r.kind != Kind::Uninstall) ui->reportInstallError(errFileBusy, r.path);
      continue;
    }
    JournalRecord undone;
    undone.kind = Kind::Undone;
    undone.target = i;
    if (!append(undone)) {
      // Progress cannot be recorded: stop here; the next run goes on.
      close();
      return errFileBusy;
    }
  }
  if (stuck.empty())
    finish();
  else
    close();
  return result;
}

void InstallJournal::finish() {
  if (!file_.isOpen()) return;
  // A journal whose every step is done needs it only as a marker (and has
  // it already when an earlier run could not delete it).
  if (!journalProgress(records_).finished) {
    JournalRecord finished;
    finished.kind = Kind::Finished;
    append(finished);
  }
  // Deleted through its handle: nobody can open it between.
  if (relativeCallsAvailable() && winDeleteByHandle(file_.handle(), path_)) {
    close();
    return;
  }
  close();
  winDeleteFile(path_);
}

void InstallJournal::close() {
  file_ = FileStream();
  records_.clear();
  legacy_ = false;
}

InstallJournal::Taken InstallJournal::take(const std::string& journalPath, const JournalScope& scope,
                                           std::string& problem) {
  close();
  path_ = journalPath;
  problem.clear();
  DWORD listed = winGetFileAttributes(journalPath);
  if (listed == INVALID_FILE_ATTRIBUTES) return Taken::None;
  // No sharing: fails while another program holds the journal.
  UniqueFile held(winCreateFile(journalPath, GENERIC_READ | GENERIC_WRITE | DELETE, 0, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!held) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? Taken::None : Taken::Busy;
  }
  HandleFacts facts;
  std::optional<ParsedJournal> parsed;
  if (!winHandleFacts(held.get(), facts) || ((facts.attributes | listed) & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) || facts.links > 1) {
    problem = "a link or a folder, not a journal";
  } else if (!trusted(checkSecurity(held.get()))) {
    problem = "not owned by Administrators or SYSTEM, or others may change it";
  } else {
    FileStream file;
    file.adopt(held.release(), journalPath);
    std::uint64_t size = 0;
    std::string text;
    if (file.size(size) != errOk || size > kMaxJournalSize) {
      problem = "too large for a journal";
    } else {
      text.resize(static_cast<std::size_t>(size));
      if (file.readExact(text.data(), text.size()) != errOk) problem = "cannot be read";
    }
    if (problem.empty() && !(parsed = parseJournal(text))) problem = "not a journal of this installer";
    if (problem.empty()) problem = journalScopeProblem(parsed->records, scope);
    if (problem.empty()) {
      file_ = std::move(file);
      records_ = parsed->records;
      legacy_ = parsed->legacy;
      return Taken::Taken;
    }
  }
  // Acted on in no part: put where no installer looks for a journal.
  held.reset();
  file_ = FileStream();
  std::string rejected = freeName(journalPath + ".rejected");
  if (rejected.empty() || !winMoveFile(journalPath, rejected, 0)) winDeleteFile(journalPath);
  return Taken::Rejected;
}

ErrorCode InstallJournal::finishTaken(InstallUi* ui) {
  if (!active()) return errOk;
  JournalProgress progress = journalProgress(records_);
  if (progress.finished) {
    finish();
    return errOk;
  }
  if (!progress.committed) return undo(ui);
  if (removeBackups() == errOk) {
    finish();
    return errOk;
  }
  close();
  return errFileBusy;
}

InstallJournal& installJournal() {
  static InstallJournal journal;
  return journal;
}

JournalScope journalScopeFor(const std::string& saverName) {
  const ProcessState& s = processState();
  const InstallerFolders& f = s.folders;
  JournalScope scope = saverJournalScope(saverName, f.commonFolder, f.windowsFolder,
                                         {f.windowsFolder, f.systemFolder, f.sysnativeFolder, f.commonFolder});
  // The items an install of this package writes outside the saver folder.
  InstallFolders destinations = s.installFolders();
  destinations.saverFolder = scope.saverFolder;
  for (int index = 5; index <= 10; ++index) {
    const PackageItem& item = s.header.items[static_cast<std::size_t>(index)];
    if (!item.present()) continue;
    ItemDestination d = itemDestination(item.itemType, item.fileName, destinations, true);
    for (const std::string& path : {d.path, d.sysnativePath})
      if (!path.empty() && (f.workFolder.empty() || path.rfind(f.workFolder, 0) != 0)) scope.files.push_back(path);
  }
  return scope;
}

ErrorCode recoverInterruptedInstall(const std::string& journalPath, const JournalScope& scope, InstallUi* ui) {
  InstallJournal journal;
  std::string problem;
  switch (journal.take(journalPath, scope, problem)) {
    case InstallJournal::Taken::None:
    case InstallJournal::Taken::Busy:
      return errOk;
    case InstallJournal::Taken::Rejected:
      traceEvent("journal rejected", {journalPath, problem});
      return errOk;
    case InstallJournal::Taken::Taken:
      break;
  }
  traceEvent("journal recovered", {journalPath});
  return journal.finishTaken(ui);
}
