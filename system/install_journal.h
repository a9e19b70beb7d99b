// The records of an install's journal, the one undo of the installer.
//
// Every change an install makes is recorded, and the record flushed to the
// disk, before the change is made: what it set aside (renamed to a backup
// name beside it), what it is about to create, and the uninstall entry's
// values before it.  An install that fails or is cancelled, or is cut off
// by a kill or a power failure, is undone by replaying its records
// backwards; each step undone is recorded in turn ("undone"), so an undo
// that is itself interrupted resumes where it stopped and never repeats a
// step.  A finished install records "committed" and then removes its
// backups.  Either way the last record is "finished": a journal that ends
// with it has nothing left to do and is only deleted.
//
// The journal is UTF-8 text, one record per line, fields separated by tabs
// (tab, line feed, carriage return and backslash escaped).  A last line
// without its line feed was torn by the interruption and is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"

struct JournalRecord {
  enum class Kind {
    Aside,      // path is about to be renamed to backup (attributes as they were)
    Created,    // path (a file or a folder) is about to be created where nothing was
    Uninstall,  // the uninstall entry under root ('M' machine, 'U' user) before the install
    Committed,  // the install finished: its backups are to be removed, nothing restored
    Undone,     // record number `target` (0-based) has been undone
    Finished,   // nothing is left to do
  };
  Kind kind = Kind::Created;
  std::string path;              // Aside, Created; Uninstall: the entry's key name
  std::string backup;            // Aside
  std::uint32_t attributes = 0;  // Aside
  char root = 'M';               // Uninstall
  bool present = false;          // Uninstall: the entry existed
  std::string displayName;       // Uninstall
  std::string uninstallString;   // Uninstall
  std::size_t target = 0;        // Undone
};

// The first line of every journal this installer writes, and that of the
// journals of earlier releases (read too: they never restored a path that
// still exists, so their replacements are removed before a backup returns).
constexpr std::string_view kJournalSignature = "saver install journal 2";
constexpr std::string_view kJournalSignatureV1 = "saver install journal 1";

// One record as a line, line feed included.
std::string journalLine(const JournalRecord& record);

struct ParsedJournal {
  std::vector<JournalRecord> records;
  bool legacy = false;  // written by an earlier release
};
// The records of a journal's text; std::nullopt when the signature is
// missing or a complete line is not a record.  A journal cut off before its
// signature reached the disk (empty, part of the signature, or zeros where
// the system had not yet written it) recorded nothing, so nothing was
// changed: it reads as a journal without records.
std::optional<ParsedJournal> parseJournal(std::string_view text);

// Where a journal's replay stands.
struct JournalProgress {
  bool committed = false;
  bool finished = false;
  std::vector<bool> undone;  // per record
};
JournalProgress journalProgress(const std::vector<JournalRecord>& records);

// Backup names: the path (without a trailing backslash) followed by
// kBackupSuffix, or, when that name is taken by something no journal
// accounts for, kBackupSuffix + "-" + n for n = 2, 3, ...  Fixed forms, so
// that a journal's backups can be checked by name.
constexpr std::string_view kBackupSuffix = ".previous-install";
constexpr int kMaxBackupNumber = 99;
std::string backupPathFor(std::string_view path, int number = 1);
bool isBackupPathOf(std::string_view backup, std::string_view path);

// What the install of one saver may touch.  A journal is only acted on when
// every record stays inside it: a journal planted to make the elevated
// installer rename, delete or register something else is refused whole.
struct JournalScope {
  std::string saverName;
  std::string saverFolder;         // the saver's own folder; it and everything below
  std::vector<std::string> files;  // other paths an install of this saver writes
};
// The scope every install of a saver has, whatever its package holds: the
// saver's folder in the common folder, its program (name + ".scr") in each
// of `folders` (the Windows, system, native system and common folders;
// empty ones are left out) and a folder of its name in the Windows folder.
JournalScope saverJournalScope(const std::string& saverName, const std::string& commonFolder,
                               const std::string& windowsFolder, const std::vector<std::string>& programFolders);

// The reason a journal is refused; empty when every record is in scope and
// the records are in an order this installer writes them.
std::string journalScopeProblem(const std::vector<JournalRecord>& records, const JournalScope& scope);

