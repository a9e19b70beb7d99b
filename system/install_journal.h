// The records of an install's journal: what the install set aside (renamed
// to a backup name beside it), what it created, and the uninstall entry's
// values before it.  With them an interrupted install, even one whose
// process was killed, is rolled back to the earlier installation or, when
// it had finished, completed.
//
// The journal is UTF-8 text, one record per line, fields separated by tabs
// (tab, line feed and backslash escaped).  Records are appended as the
// install goes; a last line without its line feed was torn by the
// interruption and is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JournalRecord {
  enum class Kind {
    Aside,      // path was renamed to backup (attributes as they were)
    Created,    // path did not exist; the install is about to write it
    Uninstall,  // the uninstall entry under root ('M' machine, 'U' user) before the install
    Committed,  // the install finished: backups are to be removed, nothing restored
  };
  Kind kind = Kind::Created;
  std::string path;            // Aside, Created
  std::string backup;          // Aside
  std::uint32_t attributes = 0;  // Aside
  char root = 'M';             // Uninstall (path: the entry's key name)
  bool present = false;        // Uninstall: the entry existed
  std::string displayName;     // Uninstall
  std::string uninstallString; // Uninstall
};

// The first line of every journal.
constexpr std::string_view kJournalSignature = "saver install journal 1";

// One record as a line, line feed included.
std::string journalLine(const JournalRecord& record);

// The records of a journal's text; std::nullopt when the signature is
// missing or a complete line is not a record (a journal we did not write).
std::optional<std::vector<JournalRecord>> parseJournal(std::string_view text);

// The backup name of a file or folder: the path (without a trailing
// backslash) followed by kBackupSuffix.  Fixed, so that an interrupted
// install's backups are found by name.
constexpr std::string_view kBackupSuffix = ".previous-install";
std::string backupPathFor(std::string_view path);
