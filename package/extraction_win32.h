// Writing the saver's files during installation: the remaining package
// items, the saver record, the data file's members and copies, "saver.dat".
//
// The data file is untrusted like the rest of the package: its table is
// checked as a whole when it is opened (entry count, member headers and data
// inside the file, names that stay inside the saver folder) and nothing is
// written for a table that fails.  Members are streamed in blocks.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "base/package_format.h"
#include "system/file_stream_win32.h"

class InstallUi;

class SaverFiles {
public:
  explicit SaverFiles(InstallUi& ui) : ui_(ui) {}

  // Items 5 (with a read-me) or 6 up to 10, one progress step each; stops
  // between items when a cancel was requested.  The data file (item 8) is
  // written first and checked as a whole (openDataFile) before any other
  // item is written.
  ErrorCode extractInstallItems(const std::string& packagePath, bool hasReadMe);
  ErrorCode readSaverRecord();
  ErrorCode expandDataFile();
  ErrorCode openDataFile(const std::string& path, bool showErrors);
  ErrorCode expandMember(const std::string& targetFolder, int index);
  ErrorCode closeDataFile();
  ErrorCode writeSaverDataFile();

  const SaverDataRecord& saverRecord() const { return record_; }
  bool dataFileOpen() const { return dataFile_.isOpen(); }
  // Closes the data file without a message (after a step failed abruptly).
  void releaseDataFile() { dataFile_.close(); }

private:
  ErrorCode checkTable(std::uint64_t dataFileSize);
  ErrorCode checkDataFile();
  ErrorCode writeMember(const std::string& path, const MemberHeader& member);

  InstallUi& ui_;
  SaverDataRecord record_;
  // Entries 1..fileCount; index 0 is never used.
  std::vector<DataFileEntry> entries_ = std::vector<DataFileEntry>(kMaxFileCount + 1);
  FileStream dataFile_;
};
