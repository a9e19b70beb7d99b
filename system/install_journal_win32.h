// Installs that never lose the earlier installation.
//
// Before an install replaces anything it renames it aside to its backup
// name on the same volume (a rename: a large saver folder is set aside at
// once), and before it writes where nothing was it notes the path.  On
// success the backups are removed; on a failure or a cancel what the
// install wrote is removed and every backup is renamed back, attributes
// included, and the uninstall entry gets its earlier values.
//
// Where the journal lives, and why two installers cannot trip over it: the
// journal of saver <name> is the file <common folder>\<name>.install-journal,
// beside the saver folder it protects.  The install creates it with no
// sharing at all and keeps it open until the install is committed or rolled
// back, writing each record through to the disk before the step it
// describes.  A second installer of the same saver therefore cannot open
// it: its recovery leaves it alone (the first run is alive and owns it), and
// its own install fails to begin (the file is busy) instead of setting
// aside what the first one is writing.  A journal that can be opened belongs
// to a run that ended without finishing (killed, or the machine switched
// off): the next run of that saver reads it and completes or rolls back
// that install before it does anything else.
#pragma once

#include <string>
#include <vector>

#include "base/error_codes.h"
#include "system/file_stream_win32.h"
#include "system/install_journal.h"

class InstallJournal {
public:
  // commonFolder + saverName + ".install-journal".
  static std::string pathFor(const std::string& commonFolder, const std::string& saverName);

  // Creates the journal (its folder too) and records the uninstall entry of
  // saverName as it is under both roots.  errFileBusy when another installer
  // holds it.
  ErrorCode begin(const std::string& journalPath, const std::string& saverName);
  bool active() const { return file_.isOpen(); }

  // Renames an existing file or folder to its backup name.  0 also when
  // there is nothing at path; errFileBusy (nothing changed) when it cannot
  // be renamed.  An earlier backup of the same path, a leftover nobody
  // claims, is removed first.
  ErrorCode setAside(const std::string& path);
  // For a file the install is about to write: set aside when there is one,
  // otherwise noted as created.
  ErrorCode prepareFile(const std::string& path);
  // Records that the install is about to create path where nothing was.
  void noteCreated(const std::string& path);
  // True when this install noted path as created.
  bool created(const std::string& path) const;

  // The install finished: the backups go, then the journal.
  void commit();
  // The install failed or was cancelled: what it created goes, the backups
  // and the uninstall entry come back, then the journal goes.
  void rollback();

private:
  bool append(const JournalRecord& record);
  void close();

  FileStream file_;
  std::string path_;
  std::vector<JournalRecord> records_;
};

// The one install of this process (the installer window's).
InstallJournal& installJournal();

// Applies the journal left at journalPath by an interrupted install: a
// committed one is completed (backups removed), any other rolled back.
// Nothing happens when there is none, when another installer holds it, or
// when it is not a journal of ours.
void recoverInterruptedInstall(const std::string& journalPath);
// The same for every journal in the common folder: a run of any saver
// finishes what an interrupted one left, its own saver's first of all.
void recoverInterruptedInstalls(const std::string& commonFolder);

// Replays records as rollback (committed == false) or completion; used by
// both the live install and the recovery.
void applyJournal(const std::vector<JournalRecord>& records, bool committed);
