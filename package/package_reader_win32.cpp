#include "package/package_reader_win32.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/install_ui.h"
#include "base/process_state.h"
#include "base/text.h"
#include "package/compressor_win32.h"
#include "base/package_format.h"
#include "base/names.h"
#include "base/code_page.h"
#include "package/package_text.h"
#include "package/trailer.h"
#include "package/validate.h"
#include "system/file_stream_win32.h"
#include "system/folders_win32.h"
#include "system/os_version.h"
#include "system/win_text_win32.h"

namespace {

constexpr std::size_t kCopyBlock = 256 * 1024;
constexpr int kTempDatDeleteAttempts = 100;
constexpr int kLibraryDeleteAttempts = 1000;

std::string modulePath() { return winModuleFileName(); }

// Copies `count` bytes from `in` (at its position) to `out` in blocks.
ErrorCode copyBlocks(FileStream& in, FileStream& out, std::uint64_t count, std::uint64_t& copied) {
  std::vector<char> block(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlock)));
  copied = 0;
  while (copied < count) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, block.size()));
    std::size_t got = 0;
    if (ErrorCode e = in.read(block.data(), want, got)) return e;
    if (got == 0) break;
    if (ErrorCode e = out.write(block.data(), got)) return e;
    copied += got;
  }
  return errOk;
}

// The copy that reads the running installer once: it writes "temp.dat" and
// feeds the integrity check with the same blocks.
ErrorCode copyAndCheck(const std::string& from, const std::string& to, TrailerCheck& check) {
  FileStream in, out;
  if (ErrorCode e = in.openRead(from)) return e;
  if (ErrorCode e = out.create(to)) return e;
  TrailerChecker checker;
  std::vector<char> block(kCopyBlock);
  for (;;) {
    std::size_t got = 0;
    if (ErrorCode e = in.read(block.data(), block.size(), got)) return e;
    if (got == 0) break;
    checker.update(block.data(), got);
    if (ErrorCode e = out.write(block.data(), got)) return e;
  }
  check = checker.finish();
  return out.close();
}

bool osIs64Bit() { return processState().operatingSystemCode == kOs64Bit; }

bool endsWithDll(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".dll") == 0;
}

// Step 7 of the extraction: the destination is clear, write the item.
ErrorCode writeItem(FileStream& package, const PackageItem& item, const std::string& path, InstallUi& ui) {
  std::int64_t stored = itemStoredSize(item);
  if (stored <= 0) return errOutOfMemory;  // no buffer for an empty item
  if (item.isCompressed) {
    TCompressor compressor(processState().folders.workFolder);
    if (!compressor.loaded()) return errNoDecompressor;
    if (ErrorCode e = compressor.expandToFile(path, package, static_cast<std::uint64_t>(stored), &ui)) return e;
    std::uint64_t size = 0;
    if (!fileSizeOf(path, size)) return errFileMissing;
    return size == static_cast<std::uint64_t>(item.expandedSize) ? errOk : errSizeMismatch;
  }
  FileStream out;
  if (ErrorCode e = out.create(path)) return e;
  std::uint64_t copied = 0;
  ErrorCode result = copyBlocks(package, out, static_cast<std::uint64_t>(stored), copied);
  if (ErrorCode closed = out.close(); result == errOk) result = closed;
  if (result == errOk && copied < static_cast<std::uint64_t>(stored)) result = errShortRead;
  return result;
}

}  // namespace

void initPackagePaths() {
  ProcessState& s = processState();
  s.paths.exePath = modulePath();
  s.paths.tempDatPath = s.folders.workFolder + "temp.dat";
}

ErrorCode copyInstallerToTempFile(InstallUi& ui) {
  const PackagePaths& p = processState().paths;
  ErrorCode result = deleteFileWithRetries(p.tempDatPath, kTempDatDeleteAttempts);
  TrailerCheck check = TrailerCheck::Absent;
  if (result == errOk) result = copyAndCheck(p.exePath, p.tempDatPath, check);
  if (result != errOk) {
    ui.reportInstallError(errTempCopyFailed, p.tempDatPath);
    return result;
  }
  if (check == TrailerCheck::Mismatch) {
    ui.reportInstallError(errChecksumMismatch, p.tempDatPath);
    return errChecksumMismatch;
  }
  return errOk;
}

ErrorCode readInstallerHeader(InstallUi& ui) {
  ProcessState& s = processState();
  const std::string& path = s.paths.tempDatPath;
  FileStream package;
  std::uint64_t fileSize = 0;
  ErrorCode result = package.openRead(path);
  if (result == errOk) result = package.size(fileSize);
  if (result == errOk) result = package.seek(INSTALLER_SIZE_IN_BYTES2);
  std::vector<std::uint8_t> bytes(kPackageHeaderSize);
  std::size_t got = 0;
  if (result == errOk) result = package.read(bytes.data(), bytes.size(), got);
  if (result != errOk) {
    ui.reportInstallError(result, path);
    return result;
  }
  std::optional<PackageHeader> header;
  if (got == kPackageHeaderSize) header = parsePackageHeader(bytes);
  if (!header) {
    ui.reportInstallError(errShortHeader, path);
    return errShortHeader;
  }
  // Items never reach into the trailer, so the checks see the file without it.
  std::vector<std::uint8_t> tail(kTrailerSize);
  if (fileSize >= kPackageDataStart + kTrailerSize && package.seek(fileSize - kTrailerSize) == errOk &&
      package.readExact(tail.data(), tail.size()) == errOk && std::equal(kTrailerMarker.begin(), kTrailerMarker.end(), tail.begin() + 8))
    fileSize -= kTrailerSize;
  // Names are text in this machine's code page; they are checked as UTF-8.
  if (!decodeHeaderNames(*header, machineCodePage())) result = errBadName;
  if (result == errOk) result = validatePackageHeader(*header, fileSize);
  if (result == errOk && !isValidSaverName(header->saverName)) result = errBadName;
  if (result != errOk) {
    ui.reportInstallError(result, path);
    return result;
  }
  s.header = *header;
  return extractItem(package, 1, false, ui);
}

void initSaverPaths() {
  ProcessState& s = processState();
  s.paths.saverName = s.header.saverName;
  s.paths.saverFolder = s.folders.commonFolder + s.paths.saverName + "\\";
  s.paths.dataFilePath = s.folders.workFolder + s.header.items[8].fileName;
}

ErrorCode extractItem(FileStream& package, int index, bool showProgress, InstallUi& ui) {
  if (showProgress) ui.showStatus(loadText(IDS_STATUS_WRITING_FILES));
  if (index < 0 || index >= kPackageItemCount) return errItemAbsent;
  const PackageItem& item = processState().header.items[static_cast<std::size_t>(index)];
  if (!item.present()) {
    ui.reportInstallError(errItemAbsent, "");
    return errItemAbsent;
  }
  ItemDestination dest = itemDestination(item.itemType, item.fileName, processState().installFolders(), osIs64Bit());
  if (!dest.hasDestination) {  // the header check refuses these; never write "nowhere"
    ui.reportInstallError(errCorruptPackage, item.fileName);
    return errCorruptPackage;
  }
  if (showProgress) ui.stepProgress();

  bool libraryItem = endsWithDll(dest.path);
  ErrorCode result = libraryItem ? deleteFileWithRetries(dest.path, kLibraryDeleteAttempts)
                                 : deleteFileForced(dest.path);
  if (result == errOk) result = package.seek(static_cast<std::uint64_t>(item.startOffset));
  if (result == errOk) result = writeItem(package, item, dest.path, ui);

  if (result == errFileBusy) return errOk;  // busy destination: the old file stays
  if (result != errOk) {
    // A half-written or wrongly sized file must not stay where it landed:
    // outside the saver and work folders nothing else would remove it.
    deleteFileForced(dest.path);
    if (!libraryItem) ui.reportInstallError(result, dest.path);
    return result;
  }
  if (!dest.sysnativePath.empty()) copyFile(dest.path, dest.sysnativePath, false);  // outcome ignored
  return errOk;
}

ErrorCode extractItemFromPackage(int index, const std::string& reportName, InstallUi& ui) {
  if (!processState().header.items[static_cast<std::size_t>(index)].present()) return errItemAbsent;
  FileStream package;
  if (ErrorCode e = package.openRead(processState().paths.tempDatPath)) {
    ui.reportInstallError(e, reportName);
    return e;
  }
  return extractItem(package, index, false, ui);
}

ErrorCode extractReadMe(InstallUi& ui) { return extractItemFromPackage(5, processState().folders.workFolder, ui); }

ErrorCode extractLicense(InstallUi& ui) { return extractItemFromPackage(4, processState().folders.workFolder, ui); }

ErrorCode extractPreview(InstallUi& ui) {
  PackageHeader& h = processState().header;
  if (!h.items[3].present()) return errItemAbsent;
  h.items[3].fileName = previewFileName(h.installerMode, h.items[3].fileName);
  return extractItemFromPackage(3, processState().folders.workFolder, ui);
}
