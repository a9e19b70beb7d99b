// Installer building: plan every item and entry from the manifest, check
// names and sizes before reading anything, read and compress, validate the
// result, write it through a temporary file.
#include "tools/saverpack/build.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "package/explode.h"
#include "base/names.h"
#include "package/package_writer.h"
#include "package/trailer.h"
#include "package/package_text.h"
#include "package/validate.h"
#include "tools/implode/implode.h"
#include "tools/saverpack/checks.h"
#include "tools/saverpack/sign.h"

namespace saverpack {

namespace fs = std::filesystem;

namespace {

// Offsets are signed 32-bit, so the whole installer stays below 2 GiB.
constexpr std::uint64_t kMaxInstallerSize = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
constexpr const char* kFlashInstallerNames[2] = {"install_flash_player_10_active_x.exe",
                                                 "install_flash_player_active_x.exe"};
// The largest signature a signed stub may carry.
constexpr std::uint64_t kMaxStubSignature = 1 << 20;
constexpr const char* kLibraryPlaceholder = "impborl.dll placeholder: the installer has its own decoder";

struct PlannedItem {
  int index = 0;
  std::string name;  // UTF-8
  std::int32_t itemType = 0;
  fs::path file;     // empty: `inlineData` is the content
  Bytes inlineData;
  std::uint64_t size = 0;
  Compression compression = Compression::Store;
};

struct PlannedMember {
  std::string name;  // UTF-8, backslash-separated
  fs::path file;
  std::uint64_t size = 0;
  Compression compression = Compression::Store;
};

// The file's name, once it is known that the package's code page holds it.
std::string storableBaseName(const fs::path& file, const std::string& what) {
  std::u8string u = file.filename().u8string();
  std::string name(u.begin(), u.end());
  if (!ansiFromUtf8(name))
    throw ToolError(displayPath(file) + ": the file name of " + what + " has characters outside code page " +
                    std::to_string(nameCodePage()));
  return name;
}

// A name as the package stores it: bytes in the chosen code page.
std::string storedName(const std::string& name) {
  std::optional<std::string> bytes = ansiFromUtf8(name);
  if (!bytes) throw ToolError("the name \"" + name + "\" has characters outside code page " + std::to_string(nameCodePage()));
  if (bytes->size() > kEntryNameFieldSize - 1)
    throw ToolError("the name \"" + name + "\" is " + std::to_string(bytes->size()) + " bytes long in code page " +
                    std::to_string(nameCodePage()) + ", over the 255 its field holds");
  return *bytes;
}

std::string sizeText(std::uint64_t n) { return std::to_string(n) + " bytes"; }

bool startsWith(const Bytes& data, std::string_view prefix) {
  return data.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), data.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

class Builder {
 public:
  Builder(const BuildSettings& settings, const Manifest& manifest) : s_(settings), m_(manifest) {}

  void run(BuildReport& report) {
    planItems();
    planMembers();
    checkPlan();
    checkPlannedSize();
    Bytes stub = readStub();
    pack();
    writeOutput(stub, report);
  }

 private:
  [[noreturn]] void fail(const std::string& what) const { throw ToolError(displayPath(m_.path) + ": " + what); }

  // ---- planning: names, files and sizes, nothing read yet ----------------

  void checkName(const std::string& name, const std::string& what, bool relative = false) const {
    std::string problem = nameProblem(name, relative);
    if (!problem.empty()) fail(what + ": the name \"" + name + "\" " + problem);
  }

  PlannedItem& addItem(int index, const FileSpec& spec, const std::string& defaultName, std::int32_t itemType,
                       const std::string& what) {
    PlannedItem item;
    item.index = index;
    item.name = spec.name.empty() ? defaultName : spec.name;
    item.itemType = itemType;
    item.file = spec.file;
    item.compression = spec.compression;
    checkName(item.name, what);
    try {
      item.size = regularFileSize(item.file);
    } catch (const ToolError& e) {
      throw ToolError(std::string(e.what()) + " (" + what + ")");
    }
    if (item.size > kMaxInstallerSize) throw ToolError(displayPath(item.file) + ": " + sizeText(item.size) +
                                                       ", too large for an installer (under 2 GiB)");
    // The installer cannot extract a stored item of 0 bytes (-7); an
    // imploded one still has its header and end code.
    if (item.size == 0 && item.compression == Compression::Store)
      throw ToolError(displayPath(item.file) + ": " + what + " is empty; the installer cannot extract an empty "
                      "stored item (use \"compression\": \"implode\")");
    items_[index] = std::move(item);
    return items_[index];
  }

  void planLibrary() {
    PlannedItem lib;
    lib.index = 1;
    lib.name = "impborl.dat";
    lib.itemType = 4;
    if (s_.noLibrary) {
      std::string_view text = kLibraryPlaceholder;
      lib.inlineData.assign(text.begin(), text.end());
      lib.size = lib.inlineData.size();
    } else {
      lib.file = s_.library ? *s_.library
                 : m_.implodeLibrary ? *m_.implodeLibrary
                                     : (s_.toolFolder / ".." / "win32" / "impborl.dll").lexically_normal();
      std::error_code ec;
      if (!fs::exists(lib.file, ec))
        throw ToolError(displayPath(lib.file) + ": no such file (the implode library; give --library PATH, "
                        "\"implodeLibrary\" in the manifest, or --no-library)");
      lib.size = regularFileSize(lib.file);
    }
    items_[1] = std::move(lib);
  }

  void planItems() {
    planLibrary();
    if (m_.flashInstaller) {
      const char* name = kFlashInstallerNames[m_.flashInstallerVersion];
      if (!m_.flashInstaller->name.empty() && m_.flashInstaller->name != name)
        fail(std::string("flashInstaller: the installer runs it only under the name \"") + name +
             "\"; leave \"name\" out");
      addItem(2, *m_.flashInstaller, name, 3, "flashInstaller");
    }

    bool quiet = m_.previewMode == PreviewMode::Quiet;
    if (m_.preview) {
      std::string def = m_.previewMode == PreviewMode::Movie ? "installer.swf" : storableBaseName(m_.preview->file, "the preview");
      PlannedItem& p = addItem(3, *m_.preview, def, 7, "preview");
      // The installer renames a bitmap or JPEG preview before writing it.
      checkName(previewFileName(installerModeOf(m_.previewMode), p.name), "preview (as the installer renames it)");
    } else if (!quiet) {
      fail(std::string("preview: missing; previewMode \"") + previewModeName(m_.previewMode) +
           "\" needs a preview file (only \"quiet\" does without)");
    }
    if (m_.license) addItem(4, *m_.license, storableBaseName(m_.license->file, "the license"), 7, "license");
    if (m_.readMe) addItem(5, *m_.readMe, storableBaseName(m_.readMe->file, "the read-me"), 7, "readMe");

    std::string scrName = m_.saverName + ".scr";
    if (!m_.saver.name.empty() && m_.saver.name != scrName)
      fail("saver: the screen saver program is stored as \"" + scrName +
           "\" (the uninstall entry runs that name); leave \"name\" out");
    addItem(6, m_.saver, scrName, 2, "saver");

    for (int k : {7, 9, 10}) {
      auto it = m_.extraItems.find(k);
      if (it == m_.extraItems.end())
        fail("items." + std::to_string(k) + ": missing; the installer requires items 7, 9 and 10 and stops "
             "with -531 at the first absent one");
      addItem(k, it->second, storableBaseName(it->second.file, "item " + std::to_string(k)), it->second.itemType,
              "items." + std::to_string(k));
    }
    checkName(m_.dataFileName, "dataFileName");
  }

  void planMembers() {
    if (m_.mainFromPreview) {
      if (m_.previewMode != PreviewMode::Movie)
        fail("mainFromPreview: entry 1 is copied from the movie preview, but previewMode is \"" +
             std::string(previewModeName(m_.previewMode)) + "\"");
      if (items_[3].name != "installer.swf")
        fail("mainFromPreview: the installer copies \"installer.swf\", so the preview must keep that name (it is \"" +
             items_[3].name + "\")");
      mainName_ = m_.mainFileName.empty() ? items_[3].name : m_.mainFileName;
      checkName(mainName_, "mainFileName", true);
    } else if (!m_.mainFileName.empty()) {
      fail("mainFileName: only used with \"mainFromPreview\": true");
    }
    if (m_.dataFolder) scanDataFolder(*m_.dataFolder);
    std::size_t count = members_.size() + (m_.mainFromPreview ? 1 : 0);
    // The scan stops at the first file too many, so no exact count.
    if (count > static_cast<std::size_t>(kMaxFileCount))
      throw ToolError(displayPath(*m_.dataFolder) + ": more than " + std::to_string(kMaxFileCount) +
                      " data file entries, the most a data file holds");
  }

  void scanDataFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) throw ToolError(displayPath(folder) + ": no such folder (dataFolder)");
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) throw ToolError(displayPath(folder) + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
      if (ec) throw ToolError(displayPath(folder) + ": " + ec.message());
      const fs::directory_entry& e = *it;
      if (e.is_symlink(ec) && e.is_directory(ec))
        throw ToolError(displayPath(e.path()) + ": a symbolic link to a folder; the packager does not follow those");
      if (e.is_directory(ec)) continue;  // empty folders have no place in the format
      if (!e.is_regular_file(ec)) throw ToolError(displayPath(e.path()) + ": not a regular file");
      addMember(folder, e.path());
      if (members_.size() > static_cast<std::size_t>(kMaxFileCount)) break;  // reported by the caller
    }
    std::sort(members_.begin(), members_.end(),
              [](const PlannedMember& a, const PlannedMember& b) { return a.name < b.name; });
  }

  void addMember(const fs::path& folder, const fs::path& file) {
    std::string name;
    for (const fs::path& part : file.lexically_relative(folder)) {
      if (!name.empty()) name += '\\';
      name += storableBaseName(part, "a data file");
    }
    if (name.size() > kMaxItemNameLength)
      throw ToolError(displayPath(file) + ": the entry name is " + std::to_string(name.size()) +
                      " characters long, over the 255 a data file entry holds");
    std::string problem = nameProblem(name, true);
    if (!problem.empty())
      throw ToolError(displayPath(file) + ": the entry name \"" + name + "\" " + problem);
    PlannedMember m;
    m.name = std::move(name);
    m.file = file;
    m.size = regularFileSize(file);
    if (m.size > kMaxInstallerSize)
      throw ToolError(displayPath(file) + ": " + sizeText(m.size) + ", too large for an installer (under 2 GiB)");
    m.compression = compressionFor(m_, m.name);
    if (m.size == 0 && s_.warning)
      s_.warning(displayPath(file) + ": empty; the installer writes nothing for an empty data file entry");
    members_.push_back(std::move(m));
  }

  // The installer-level rules on the names and types alone, so that a
  // collision is reported before anything is read or compressed.
  void checkPlan() const {
    PackageHeader h;
    h.installerMode = installerModeOf(m_.previewMode);
    h.saverName = m_.saverName;
    h.hasFlashAXInstaller = items_.count(2) ? 1 : 0;
    h.hasLicense = items_.count(4) ? 1 : 0;
    h.hasReadMe = items_.count(5) ? 1 : 0;
    for (const auto& [k, item] : items_) {
      h.items[static_cast<std::size_t>(k)].fileName = item.name;
      h.items[static_cast<std::size_t>(k)].itemType = item.itemType;
    }
    h.items[8].fileName = m_.dataFileName;
    h.items[8].itemType = 7;
    std::vector<DataFileEntry> entries;
    if (m_.mainFromPreview) entries.push_back(DataFileEntry{kEntryKindCopy, mainName_, true, 0});
    for (const PlannedMember& m : members_) entries.push_back(DataFileEntry{0, m.name, true, 0});
    SaverDataRecord record;
    record.setMainFileSource(m_.mainFromPreview ? kMainFileFromPreview : 0);
    std::vector<std::string> problems = headerRuleProblems(h);
    for (std::string& p : dataFileRuleProblems(h, record, entries)) problems.push_back(std::move(p));
    for (std::string& p : collisionProblems(h, entries)) problems.push_back(std::move(p));
    if (!problems.empty()) fail(problems.front());
  }

  // Stored bytes are known before reading; imploded ones only afterwards,
  // so this counts stored inputs only and catches the plainly too large
  // before anything is read.  The exact check follows after packing.
  void checkPlannedSize() const {
    std::uint64_t total = kPackageDataStart + kTrailerSize + dataFileTableSize(static_cast<std::int32_t>(entryCount()));
    for (const auto& [k, item] : items_)
      if (item.compression == Compression::Store) total += item.size;
    for (const PlannedMember& m : members_)
      total += kMemberHeaderSize + (m.compression == Compression::Store ? m.size : 0);
    if (total > kMaxInstallerSize)
      throw ToolError(displayPath(s_.output) + ": the installer would be at least " + sizeText(total) +
                      ", over the 2 GiB limit of the format's offsets");
  }

  std::size_t entryCount() const { return members_.size() + (m_.mainFromPreview ? 1 : 0); }

  Bytes readStub() const {
    fs::path path = s_.stub   ? *s_.stub
                    : m_.stub ? *m_.stub
                              : (s_.toolFolder / ".." / "win32" / "stub.exe").lexically_normal();
    std::error_code ec;
    if (!fs::exists(path, ec))
      throw ToolError(displayPath(path) + ": no such file (the installer stub; give --stub PATH or \"stub\")");
    std::uint64_t size = regularFileSize(path);
    Bytes stub;
    // A stub signed on its own (the build can sign it) is used without its
    // signature: the installer is signed as a whole, if at all.
    if (size > INSTALLER_SIZE_IN_BYTES2 && size <= INSTALLER_SIZE_IN_BYTES2 + kMaxStubSignature) {
      if (std::optional<Bytes> plain = withoutSignature(readWholeFile(path))) {
        stub = std::move(*plain);
        size = stub.size();
      }
    }
    if (size != INSTALLER_SIZE_IN_BYTES2)
      throw ToolError(displayPath(path) + ": the stub is " + sizeText(size) + "; it must be exactly " +
                      sizeText(INSTALLER_SIZE_IN_BYTES2));
    if (stub.empty()) stub = readWholeFile(path);
    if (!startsWith(stub, "MZ")) throw ToolError(displayPath(path) + ": the stub is not a Windows program (no MZ)");
    return stub;
  }

  // ---- packing: read, check contents, compress ----------------------------

  void checkContent(const PlannedItem& item, const Bytes& data) const {
    std::string where = displayPath(item.file);
    if (item.index == 1 && !s_.noLibrary && !startsWith(data, "MZ"))
      throw ToolError(where + ": the implode library is not a Windows DLL (no MZ)");
    if (item.index == 6 && !startsWith(data, "MZ"))
      throw ToolError(where + ": the screen saver program is not a Windows program (no MZ)");
    if (item.index != 3) return;
    switch (m_.previewMode) {
      case PreviewMode::Movie:
        if (!startsWith(data, "FWS") && !startsWith(data, "CWS"))
          throw ToolError(where + ": the movie preview is not a SWF movie (no FWS or CWS signature)");
        if (data.size() < 4 || data[3] < 3 || data[3] > 11)
          throw ToolError(where + ": SWF version " + std::to_string(data.size() < 4 ? 0 : data[3]) +
                          "; the installer plays versions 3 to 11");
        break;
      case PreviewMode::Jpeg:
        if (!startsWith(data, "\xFF\xD8\xFF")) throw ToolError(where + ": the JPEG preview is not a JPEG file");
        break;
      case PreviewMode::Bitmap:
        if (!startsWith(data, "BM")) throw ToolError(where + ": the bitmap preview is not a BMP file (no BM)");
        break;
      default:
        break;
    }
  }

  // Compresses as asked; "auto" keeps the implode stream only when it is
  // smaller.  Every stream is decoded again and compared before it is used.
  bool compress(const std::string& label, const Bytes& data, Compression c, Bytes& stored) {
    if (c == Compression::Store || (c == Compression::Auto && data.empty())) return false;
    ImplodeOptions opts;
    std::uint64_t base = progressDone_;
    if (s_.progress) {
      opts.progress = [this, &label, base](std::size_t done, std::size_t) {
        s_.progress("imploding " + label, base + done, progressTotal_);
      };
    }
    stored = implodeBuffer(data.data(), data.size(), opts);
    progressDone_ = base + data.size();
    if (s_.progress) s_.progress("imploding " + label, progressDone_, progressTotal_);
    Bytes check;
    if (explodeBuffer(stored.data(), stored.size(), check) != ExplodeStatus::Ok || check != data)
      throw ToolError(label + ": internal error: the imploded data does not expand to the original");
    if (c == Compression::Auto && stored.size() >= data.size()) return false;
    return true;
  }

  Bytes readItem(const PlannedItem& item) const {
    if (item.file.empty()) return item.inlineData;
    Bytes data = readWholeFile(item.file);
    checkContent(item, data);
    return data;
  }

  void pack() {
    for (const auto& [k, item] : items_)
      if (item.compression != Compression::Store) progressTotal_ += item.size;
    for (const PlannedMember& m : members_)
      if (m.compression != Compression::Store) progressTotal_ += m.size;

    pb_.mode(installerModeOf(m_.previewMode)).saverName(m_.saverName).offerControlPanel(m_.offerControlPanel);
    if (!items_.count(3)) pb_.removeItem(3);
    for (const auto& [k, item] : items_) {
      Bytes data = readItem(item);
      if (k == 2) pb_.flashInstaller(item.name, {}, m_.flashInstallerVersion);  // sets the header flags
      if (k == 4) pb_.license(item.name, {});
      if (k == 5) pb_.readMe(item.name, {});
      PackageItem fields;
      fields.fileName = item.name;
      fields.itemType = item.itemType;
      fields.expandedSize = static_cast<std::int32_t>(data.size());
      Bytes stored;
      if (compress(item.name, data, item.compression, stored)) {
        fields.isCompressed = 1;
        pb_.rawItem(k, fields, std::move(stored));
      } else {
        pb_.rawItem(k, fields, std::move(data));
      }
    }
    Bytes dataFile = buildDataFile();
    // Checked here, while it is still in one piece of our own.
    if (!parseDataFileTable(dataFile, record_, entries_) || !decodeEntryNames(entries_, nameCodePage()))
      fail("internal error: the built data file's table is unreadable");
    if (ErrorCode rc = validateDataFile(dataFile, nameCodePage()))
      fail("the built data file fails the installer's check: " + errorCodeText(rc));
    PackageItem fields;
    fields.fileName = m_.dataFileName;
    fields.itemType = 7;
    fields.expandedSize = static_cast<std::int32_t>(dataFile.size());
    pb_.rawItem(8, fields, std::move(dataFile));
  }

  Bytes buildDataFile() {
    DataFileBuilder df;
    SaverDataRecord record;
    if (m_.saverRecord) {
      Bytes raw = readWholeFile(*m_.saverRecord);
      if (raw.size() != kSaverDataRecordSize)
        throw ToolError(displayPath(*m_.saverRecord) + ": the saver record is " + sizeText(raw.size()) +
                        "; it must be exactly " + sizeText(kSaverDataRecordSize));
      std::copy(raw.begin(), raw.end(), record.bytes.begin());
    }
    // fileCount and mainFileSource always follow the entries built here.
    df.record(record);
    if (m_.mainFromPreview) {
      df.mainFileSource(kMainFileFromPreview);
      df.addCopy(storedName(mainName_));
      report_.members.push_back(BuiltMember{mainName_, 0, 0, false, true});
    }
    for (const PlannedMember& m : members_) {
      Bytes data = readWholeFile(m.file);
      if (data.size() != m.size) throw ToolError(displayPath(m.file) + ": changed while the package was built");
      MemberHeader h;
      h.fileSize = static_cast<std::int32_t>(data.size());
      Bytes stored;
      bool imploded = compress(m.name, data, m.compression, stored);
      h.isImploded = imploded ? 1 : 0;
      h.storedSize = static_cast<std::int32_t>(imploded ? stored.size() : data.size());
      report_.members.push_back(BuiltMember{m.name, data.size(), static_cast<std::uint64_t>(h.storedSize), imploded, false});
      df.addMember(storedName(m.name), h, imploded ? std::move(stored) : std::move(data));
    }
    Bytes bytes = df.build();
    if (bytes.empty()) throw ToolError(displayPath(s_.output) + ": the data file would exceed 2 GiB");
    return bytes;
  }

  // ---- checking and writing -----------------------------------------------

  void validate(const PackageHeader& header, std::uint64_t sizeWithoutTrailer) const {
    std::vector<std::string> problems = headerRuleProblems(header);
    for (std::string& p : dataFileRuleProblems(header, record_, entries_)) problems.push_back(std::move(p));
    for (std::string& p : collisionProblems(header, entries_)) problems.push_back(std::move(p));
    if (!problems.empty()) fail(problems.front());
    if (ErrorCode rc = validatePackageHeader(header, sizeWithoutTrailer))
      fail("the built package fails the installer's header check: " + errorCodeText(rc));
  }

  void writeOutput(const Bytes& stub, BuildReport& report) {
    PackageHeader header = pb_.header();
    std::uint64_t end = kPackageDataStart;
    for (const PackageItem& it : header.items)
      if (it.present()) end = std::max<std::uint64_t>(end, static_cast<std::uint64_t>(it.endOffset) + 1);
    std::uint64_t total = end + trailerPadding(end) + kTrailerSize;
    if (total > kMaxInstallerSize || header.items[8].startOffset == 0)
      throw ToolError(displayPath(s_.output) + ": the installer would be " + sizeText(total) +
                      ", over the 2 GiB limit of the format's offsets");
    validate(header, end);
    // Checked as UTF-8; stored in the code page.
    pb_.editHeader([](PackageHeader& h) {
      std::string field;
      if (!encodeHeaderNames(h, nameCodePage(), field))
        throw ToolError(field + ": cannot be stored in code page " + std::to_string(nameCodePage()) +
                        " (a character it lacks, or too long for its field)");
    });

    TempOutput out(s_.output);
    std::uint64_t written = 0;
    std::string writeError;
    bool ok = pb_.writeTo(stub, BuildOptions{.trailer = true}, [&](const std::uint8_t* p, std::size_t n) {
      try {
        out.write(p, n);
        written += n;
        return true;
      } catch (const ToolError& e) {
        writeError = e.what();
        return false;
      }
    });
    if (!writeError.empty()) throw ToolError(writeError);
    if (!ok || written != total) throw ToolError(displayPath(s_.output) + ": internal error: the package layout failed");
    out.commit();
    report_.installerSize = total;
    report = std::move(report_);
  }

  const BuildSettings& s_;
  const Manifest& m_;
  std::map<int, PlannedItem> items_;  // by index, so items are read in order
  std::vector<PlannedMember> members_;
  std::string mainName_;
  PackageBuilder pb_;
  SaverDataRecord record_;
  std::vector<DataFileEntry> entries_;
  BuildReport report_;
  std::uint64_t progressDone_ = 0, progressTotal_ = 0;
};

}  // namespace

bool buildInstaller(const BuildSettings& settings, BuildReport& report, std::string& error) {
  Manifest manifest;
  if (!loadManifest(settings.manifest, manifest, error, settings.codePage)) return false;
  try {
    Builder(settings, manifest).run(report);
    return true;
  } catch (const std::bad_alloc&) {
    error = displayPath(settings.output) + ": out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

}  // namespace saverpack
