#include "package/extraction_win32.h"

#include <windows.h>

#include <algorithm>

#include "base/code_page.h"
#include "base/error_text_win32.h"
#include "base/install_ui.h"
#include "base/messages.h"
#include "base/process_state.h"
#include "base/text.h"
#include "package/compressor_win32.h"
#include "package/package_reader_win32.h"
#include "package/package_text.h"
#include "package/validate.h"
#include "system/folders_win32.h"
#include "system/os_version.h"
#include "system/win_text_win32.h"

namespace {

constexpr std::size_t kCopyBlock = 256 * 1024;
constexpr int kDataFileItem = 8;

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

ErrorCode SaverFiles::extractInstallItems(const std::string& packagePath, bool hasReadMe) {
  FileStream* package = nullptr;
  if (ErrorCode e = heldPackage(package)) {
    ui_.reportInstallError(e, packagePath);
    return e;
  }
  // The data file lands in the work folder and its table and member headers
  // are checked as a whole before any of the saver's files is written: a
  // damaged one then leaves nothing behind.
  ErrorCode result = extractItem(*package, kDataFileItem, false, ui_);
  if (result == errOk) result = checkDataFile();
  for (int index = hasReadMe ? 5 : 6; index <= 10 && result == errOk && !ui_.cancelRequested(); ++index) {
    if (index == kDataFileItem) {  // already written: only its progress step
      ui_.showStatus(loadText(IDS_STATUS_WRITING_FILES));
      ui_.stepProgress();
      continue;
    }
    result = extractItem(*package, index, true, ui_);
  }
  return result;
}

ErrorCode SaverFiles::checkDataFile() {
  ErrorCode result = openDataFile(processState().paths.dataFilePath, true);
  dataFile_.close();  // opened again for the expansion
  return result;
}

ErrorCode SaverFiles::readSaverRecord() {
  const std::string& path = processState().paths.dataFilePath;
  FileStream file;
  ErrorCode result = file.openRead(path);
  if (result == errOk) result = file.readExact(record_.bytes.data(), record_.bytes.size());
  if (result != errOk) ui_.reportInstallError(result, path);
  return result;
}

ErrorCode SaverFiles::openDataFile(const std::string& path, bool showErrors) {
  if (dataFile_.isOpen()) {
    ui_.showMessage(dataFileInUseMessage());
    return errOk;
  }
  ErrorCode result = dataFile_.openRead(path);
  if (result == errOk) result = dataFile_.readExact(record_.bytes.data(), record_.bytes.size());
  std::fill(entries_.begin(), entries_.end(), DataFileEntry{});
  std::int32_t count = record_.fileCount();
  if (result == errOk && (count < 0 || count > kMaxFileCount)) {
    // More entries than the format allows: refused before any is read.
    ui_.reportInstallError(errCorruptPackage, path);
    return errCorruptPackage;
  }
  std::vector<std::uint8_t> raw(kDataFileEntrySize);
  for (std::int32_t i = 1; result == errOk && i <= count; ++i) {
    result = dataFile_.readExact(raw.data(), raw.size());
    if (result == errOk) entries_[static_cast<std::size_t>(i)] = *parseDataFileEntry(raw);
  }
  if (result != errOk) {
    if (showErrors) ui_.showMessage(dataFileOpenErrorMessage(path, result));
    return result;
  }
  std::uint64_t size = 0;
  if ((result = dataFile_.size(size)) == errOk) result = checkTable(size);
  if (result != errOk) ui_.reportInstallError(result, path);
  return result;
}

// The whole table is checked before the first member is written, so that a
// damaged data file leaves nothing half-expanded behind.
ErrorCode SaverFiles::checkTable(std::uint64_t dataFileSize) {
  std::int32_t count = record_.fileCount();
  std::span<DataFileEntry> table(entries_.data() + 1, static_cast<std::size_t>(count));
  // Converted once, right after they were read from the file: names are
  // text in this machine's code page, checked and used as UTF-8.
  if (!decodeEntryNames(table, machineCodePage())) return errBadName;
  auto readAt = [this](std::uint64_t offset, std::uint8_t* dst, std::size_t n) -> ErrorCode {
    if (ErrorCode e = dataFile_.seek(offset)) return e;
    return dataFile_.readExact(dst, n);
  };
  return validateDataFileTable(record_, table, dataFileSize, readAt);
}

ErrorCode SaverFiles::expandDataFile() {
  const ProcessState& s = processState();
  ui_.showStatus(loadText(IDS_STATUS_EXPANDING));
  ErrorCode result = openDataFile(s.paths.dataFilePath, true);
  std::string mainName;
  if (result == errOk) {
    if (record_.mainFileSource() == kMainFileFromPreview) entries_[1].entryKind = kEntryKindCopy;
    mainName = entries_[1].entryName;
    for (std::int32_t i = 1; result == errOk && i <= record_.fileCount(); ++i) {
      const DataFileEntry& entry = entries_[static_cast<std::size_t>(i)];
      if (entry.entryName.empty()) continue;
      if (entry.entryKind != kEntryKindCopy) {
        result = expandMember(s.paths.saverFolder, i);
        continue;
      }
      std::string source = i == 1 ? s.folders.workFolder + "installer.swf" : s.paths.saverFolder + mainName;
      std::string dest = s.paths.saverFolder + entry.entryName;
      if (!copyFile(source, dest, false) && source != dest) {  // a copy onto itself is no failure
        ui_.reportInstallError(errCopyFailed, source);
        result = errCopyFailed;
      }
    }
  }
  if (result == errOk) {
    result = closeDataFile();
    ui_.stepProgress();
  } else {
    // Left open, the data file could not be deleted from the work folder.
    dataFile_.close();
  }
  std::string marked = s.paths.saverFolder + mainName;
  DWORD attributes = winGetFileAttributes(marked);
  if (attributes != INVALID_FILE_ATTRIBUTES) winSetFileAttributes(marked, attributes | FILE_ATTRIBUTE_ARCHIVE);
  return result;
}

ErrorCode SaverFiles::expandMember(const std::string& targetFolder, int index) {
  if (index < 1 || index > record_.fileCount()) return errNoSuchMember;
  if (!dataFile_.isOpen()) return errDataFileNotOpen;
  const DataFileEntry& entry = entries_[static_cast<std::size_t>(index)];
  std::vector<std::uint8_t> raw(kMemberHeaderSize);
  ErrorCode result = dataFile_.seek(static_cast<std::uint64_t>(entry.dataOffset));
  if (result == errOk) result = dataFile_.readExact(raw.data(), raw.size());
  if (result != errOk) {
    ui_.showMessage(dataFileReadErrorMessage(systemErrorText(result)));
    return result;
  }
  MemberHeader member = *parseMemberHeader(raw);
  if (member.fileSize == 0) return errOk;
  std::string path = targetFolder + entry.entryName;
  std::string folder = folderOf(path);
  if (!folder.empty() && !folderExists(folder)) createFolderPath(folder);
  // A junction put into the saver folder would take this member elsewhere.
  if (linkOnTheWay(path)) {
    ui_.reportInstallError(errLinkedSaverFolder, path);
    return errLinkedSaverFolder;
  }
  result = writeMember(path, member);
  if (result != errOk && result != errFileMissing && !linkOnTheWay(path)) winDeleteFile(path);
  return result;
}

ErrorCode SaverFiles::writeMember(const std::string& path, const MemberHeader& member) {
  if (member.isImploded) {
    if (member.storedSize <= 0) return errOutOfMemory;
    TCompressor compressor(processState().folders.workFolder);
    if (!compressor.loaded()) return errNoDecompressor;
    const auto expected = static_cast<std::uint64_t>(member.fileSize);
    if (ErrorCode e = compressor.expandToFile(path, dataFile_, static_cast<std::uint64_t>(member.storedSize), &ui_,
                                              expected))
      return e;
    std::uint64_t size = 0;
    if (!fileSizeOf(path, size)) return errFileMissing;
    return size == expected ? errOk : errSizeMismatch;
  }
  FileStream out;
  ErrorCode result = out.create(path);
  std::vector<char> block(std::min<std::size_t>(kCopyBlock, static_cast<std::size_t>(member.fileSize)));
  for (std::uint64_t left = static_cast<std::uint64_t>(member.fileSize); result == errOk && left > 0;) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    result = dataFile_.readExact(block.data(), n);
    if (result == errOk) result = out.write(block.data(), n);
    left -= n;
  }
  if (ErrorCode closed = out.close(); result == errOk) result = closed;
  if (result != errOk) ui_.showMessage(dataFileReadErrorMessage(systemErrorText(result)));
  return result;
}

ErrorCode SaverFiles::closeDataFile() {
  if (!dataFile_.isOpen()) return errOk;
  ErrorCode result = dataFile_.close();
  if (result != errOk)
    ui_.showMessage(closeFileErrorMessage(processState().paths.dataFilePath, systemErrorText(result)));
  return result;
}

ErrorCode SaverFiles::writeSaverDataFile() {
  ui_.showStatus(loadText(IDS_STATUS_WRITING_DATA));
  std::string path = processState().paths.saverFolder + "saver.dat";
  FileStream out;
  ErrorCode result = out.create(path);
  if (result == errOk) result = out.write(record_.bytes.data(), record_.bytes.size());
  if (ErrorCode closed = out.close(); result == errOk) result = closed;
  if (result != errOk) ui_.reportInstallError(result, path);
  return result;
}
