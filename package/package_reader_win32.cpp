#include "package/package_reader_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "base/install_ui.h"
#include "base/process_state.h"
#include "base/text.h"
#include "package/compressor_win32.h"
#include "package/explode.h"
#include "base/package_format.h"
#include "base/names.h"
#include "base/code_page.h"
#include "package/package_text.h"
#include "package/trailer.h"
#include "package/validate.h"
#include "system/file_stream_win32.h"
#include "system/folders_win32.h"
#include "system/install_journal_win32.h"
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

// The copy that reads the running installer once: it writes "temp.dat"
// through the handle that stays held and feeds the integrity check with the
// same blocks (nobody else can write the file while that handle is open, so
// the blocks checked are the file's bytes).
ErrorCode copyAndCheck(const std::string& from, FileStream& out, const std::string& to, TrailerCheck& check) {
  FileStream in;
  if (ErrorCode e = in.openRead(from)) return e;
  if (ErrorCode e = out.createHeld(to)) return e;
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
  return errOk;
}

// The held package: see heldPackage().
FileStream& packageStream() {
  static FileStream stream;
  return stream;
}

// Files this run wrote into the work folder, each held by a read handle.
std::map<std::string, FileStream>& workFiles() {
  static std::map<std::string, FileStream> files;
  return files;
}

bool inWorkFolder(const std::string& path) {
  const std::string& work = processState().folders.workFolder;
  return !work.empty() && path.size() > work.size() && path.compare(0, work.size(), work) == 0;
}

// Compares a stream of expected bytes (from the package, expanded or not)
// with a file, block by block.
struct Comparison {
  FileStream* package = nullptr;
  std::uint64_t remaining = 0;  // package bytes still to read
  FileStream* file = nullptr;
  std::vector<char> fileBlock;
  bool equal = true;
  ErrorCode ioError = errOk;
};

unsigned readExpected(char* buf, unsigned* size, void* param) {
  auto* c = static_cast<Comparison*>(param);
  if (c->ioError || c->remaining == 0) return 0;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(*size, c->remaining));
  std::size_t got = 0;
  if (ErrorCode e = c->package->read(buf, want, got)) c->ioError = e;
  c->remaining = got == 0 ? 0 : c->remaining - got;
  return static_cast<unsigned>(got);
}

void compareWithFile(char* buf, unsigned* size, void* param) {
  auto* c = static_cast<Comparison*>(param);
  if (c->ioError || !c->equal) return;
  c->fileBlock.resize(*size);
  std::size_t got = 0;
  if (ErrorCode e = c->file->read(c->fileBlock.data(), *size, got)) c->ioError = e;
  if (got != *size || std::memcmp(buf, c->fileBlock.data(), got) != 0) c->equal = false;
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
    const auto expected = static_cast<std::uint64_t>(item.expandedSize);
    if (ErrorCode e = compressor.expandToFile(path, package, static_cast<std::uint64_t>(stored), &ui, expected))
      return e;
    std::uint64_t size = 0;
    if (!fileSizeOf(path, size)) return errFileMissing;
    return size == expected ? errOk : errSizeMismatch;
  }
  FileStream out;
  // The data file is deleted with the work folder when the run ends.  (Not
  // every work file is marked: a copy of one to the saver folder would keep
  // the mark.)  Only what lands outside the work folder is flushed.
  FileKind kind = path == processState().paths.dataFilePath ? FileKind::Temporary
                  : inWorkFolder(path)                      ? FileKind::Scratch
                                                            : FileKind::Installed;
  if (ErrorCode e = out.create(path, kind)) return e;
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
  releasePackage();
  ErrorCode result = deleteFileWithRetries(p.tempDatPath, kTempDatDeleteAttempts);
  TrailerCheck check = TrailerCheck::Absent;
  if (result == errOk) result = copyAndCheck(p.exePath, packageStream(), p.tempDatPath, check);
  if (result != errOk) {
    releasePackage();
    ui.reportInstallError(errTempCopyFailed, p.tempDatPath);
    return result;
  }
  if (check == TrailerCheck::Mismatch) {
    releasePackage();
    ui.reportInstallError(errChecksumMismatch, p.tempDatPath);
    return errChecksumMismatch;
  }
  return errOk;
}

ErrorCode readInstallerHeader(InstallUi& ui) {
  ProcessState& s = processState();
  const std::string& path = s.paths.tempDatPath;
  FileStream* held = nullptr;
  std::uint64_t fileSize = 0;
  ErrorCode result = heldPackage(held);
  FileStream& package = *held;
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
  // Items never reach into the trailer or a signature, so the checks see the
  // file without them.
  fileSize = packageContentEnd(fileSize, [&package](std::uint64_t at, std::uint8_t* dst, std::size_t n) {
    return package.seek(at) == errOk && package.readExact(dst, n) == errOk;
  });
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
  bool workFile = inWorkFolder(dest.path);
  if (workFile) workFiles().erase(dest.path);  // our own hold must not keep it
  // Outside the saver and work folders, what the item replaces is set aside
  // and the new file recorded in the install journal, which undoes both; one
  // that cannot be moved is busy and stays.  (The saver folder is recorded
  // as a whole, the work folder goes when the run ends.)
  bool elsewhere = !workFile && dest.path.rfind(processState().paths.saverFolder, 0) != 0;
  if (elsewhere && installJournal().prepareFile(dest.path) == errFileBusy) return errOk;
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
  // The native system folder's copy: its outcome is ignored.
  if (!dest.sysnativePath.empty() && installJournal().prepareFile(dest.sysnativePath) == errOk)
    copyFile(dest.path, dest.sysnativePath, false);
  if (workFile) {
    FileStream hold;
    if (hold.openRead(dest.path) == errOk) workFiles()[dest.path] = std::move(hold);
  }
  return errOk;
}

ErrorCode heldPackage(FileStream*& package) {
  FileStream& stream = packageStream();
  package = &stream;
  return stream.isOpen() ? errOk : stream.openRead(processState().paths.tempDatPath);
}

void releasePackage() {
  packageStream() = FileStream();
  workFiles().clear();
}

ErrorCode verifyWorkFile(int index, const std::string& path) {
  if (index < 0 || index >= kPackageItemCount) return errItemAbsent;
  const PackageItem& item = processState().header.items[static_cast<std::size_t>(index)];
  auto held = workFiles().find(path);
  if (!item.present() || held == workFiles().end()) return errChecksumMismatch;
  FileStream* package = nullptr;
  if (ErrorCode e = heldPackage(package)) return e;
  std::int64_t stored = itemStoredSize(item);
  if (stored <= 0) return errCorruptPackage;
  Comparison c;
  c.package = package;
  c.remaining = static_cast<std::uint64_t>(stored);
  c.file = &held->second;
  if (ErrorCode e = package->seek(static_cast<std::uint64_t>(item.startOffset))) return e;
  if (ErrorCode e = c.file->seek(0)) return e;
  if (item.isCompressed) {
    explodeStream(readExpected, compareWithFile, &c);
  } else {
    std::vector<char> block(static_cast<std::size_t>(std::min<std::uint64_t>(c.remaining, kCopyBlock)));
    unsigned got = 0;
    do {
      unsigned want = static_cast<unsigned>(block.size());
      got = readExpected(block.data(), &want, &c);
      if (got) compareWithFile(block.data(), &got, &c);
    } while (got && c.equal && !c.ioError);
  }
  if (c.ioError) return c.ioError;
  char extra = 0;
  std::size_t more = 0;
  if (c.equal && c.file->read(&extra, 1, more) == errOk && more == 0) return errOk;
  return errChecksumMismatch;
}

ErrorCode extractItemFromPackage(int index, const std::string& reportName, InstallUi& ui) {
  if (!processState().header.items[static_cast<std::size_t>(index)].present()) return errItemAbsent;
  FileStream* package = nullptr;
  if (ErrorCode e = heldPackage(package)) {
    ui.reportInstallError(e, reportName);
    return e;
  }
  return extractItem(*package, index, false, ui);
}

ErrorCode extractReadMe(InstallUi& ui) { return extractItemFromPackage(5, processState().folders.workFolder, ui); }

ErrorCode extractLicense(InstallUi& ui) { return extractItemFromPackage(4, processState().folders.workFolder, ui); }

ErrorCode extractPreview(InstallUi& ui) {
  PackageHeader& h = processState().header;
  if (!h.items[3].present()) return errItemAbsent;
  h.items[3].fileName = previewFileName(h.installerMode, h.items[3].fileName);
  return extractItemFromPackage(3, processState().folders.workFolder, ui);
}
