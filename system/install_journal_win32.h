// Installs that never lose the earlier installation, also across a power
// failure.
//
// Before an install replaces anything it renames it aside to a backup name
// on the same volume (a rename: a large saver folder is set aside at once),
// and before it creates anything it records the path.  Each record is
// written through and flushed before its step (system/install_journal.h).
// On success every file the install wrote is flushed (its writer does that
// when it closes it), "committed" is recorded, and only then do the backups
// go.  On a failure or a cancel the records are undone backwards, each step
// recorded as undone; a step that cannot be undone (a file held open)
// leaves its path as it is, the rest is undone, and the journal stays so
// that the next run finishes it.  No backup is ever deleted unless its
// journal says the install was committed.
//
// Where the journal lives, and why two programs cannot trip over it: the
// journal of saver <name> is the file <common folder>\<name>.install-journal,
// beside the saver folder it protects, in a folder only administrators can
// change.  The install creates it with no sharing at all and keeps it open
// until the install is committed or undone; the saver's own uninstaller
// takes the same file as its lock.  A second installer of the same saver
// therefore cannot open it: its recovery leaves it alone (the first run is
// alive and owns it), and its own install fails to begin (the file is busy)
// instead of setting aside what the first one is writing.  A journal that
// can be opened belongs to a run that ended without finishing (killed, or
// the machine switched off): the next run of that saver reads it and
// completes or undoes that install before it does anything else.  A journal
// that is not owned by Administrators or SYSTEM, or holds a record outside
// what an install of that saver touches, is acted on in no part: it is
// renamed aside and reported, and never blocks later installs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/error_codes.h"
#include "system/file_stream_win32.h"
#include "system/install_journal.h"

class InstallUi;

class InstallJournal {
public:
  // commonFolder + saverName + ".install-journal".
  static std::string pathFor(const std::string& commonFolder, const std::string& saverName);

  // Creates the journal (administrators-only list) and records the
  // uninstall entry of saverName as it is under both roots.  errFileBusy
  // when another program holds a journal of that name or one is left that
  // could not be finished.
  ErrorCode begin(const std::string& journalPath, const std::string& saverName);
  // The journal file as a lock only, with nothing recorded, for a program
  // that changes the installation without an undo (the saver's own
  // uninstaller): no install can begin, or recover anything, until
  // release().  errFileBusy when another program holds it.
  ErrorCode lock(const std::string& journalPath);
  void release() { finish(); }
  bool active() const { return file_.isOpen(); }
  const std::string& path() const { return path_; }

  // Renames an existing file or folder to a free backup name.  0 also when
  // there is nothing at path; errFileBusy (nothing changed) when it cannot
  // be renamed.  A backup name taken by something no journal accounts for
  // is left alone and the next number is used.
  ErrorCode setAside(const std::string& path);
  // Records that the install is about to create path (a file, or a folder
  // with everything that will be written into it) where nothing is.
  ErrorCode recordCreation(const std::string& path);
  // For a file the install is about to write: set aside when there is one,
  // then recorded as created.  errFileBusy when it cannot be set aside.
  ErrorCode prepareFile(const std::string& path);

  // The install finished: "committed" is recorded (a failure to record it
  // is returned, and the install is then to be undone), the backups go,
  // then the journal.  A backup that cannot be removed yet keeps the
  // journal for the next run (or, for a file, is removed at the next
  // restart).
  ErrorCode commit();
  // The install failed or was cancelled: everything recorded is undone,
  // newest first, then the journal goes.  errFileBusy when a path could not
  // be restored; it is reported through ui (when given) and the journal
  // stays for the next run.
  ErrorCode rollback(InstallUi* ui);

  // Takes over the journal an interrupted run left at journalPath (opened
  // exclusively), after checking its owner, its form and every record
  // against scope.
  enum class Taken { None, Busy, Taken, Rejected };
  Taken take(const std::string& journalPath, const JournalScope& scope, std::string& problem);
  // Completes (committed) or undoes (otherwise) a taken journal.
  ErrorCode finishTaken(InstallUi* ui);

  // Records written since the journal was begun or taken.
  const std::vector<JournalRecord>& records() const { return records_; }

private:
  bool append(const JournalRecord& record);
  ErrorCode undo(InstallUi* ui);
  ErrorCode removeBackups();
  void finish();
  void close();

  FileStream file_;
  std::string path_;
  std::vector<JournalRecord> records_;
  bool legacy_ = false;
  DWORD lastError_ = 0;
};

// The one install of this process (the installer window's).
InstallJournal& installJournal();

// What the install of saverName touches on this machine: its folder in the
// common folder, its program in the Windows, system and native system
// folders and the common folder, an earlier folder of its name in the
// Windows folder, and the destinations of this package's items.
JournalScope journalScopeFor(const std::string& saverName);

// Finishes the journal an interrupted install of one saver left behind:
// completed when it was committed, otherwise undone.  Nothing happens when
// there is none or another program holds it.  A journal that fails its
// checks is renamed to a free "<journal>.rejected" name and reported (the
// trace and the log).  errFileBusy when a path could not be restored (ui
// has reported it; the journal stays); otherwise 0.
ErrorCode recoverInterruptedInstall(const std::string& journalPath, const JournalScope& scope, InstallUi* ui);
