// Installer-level rules for packages.
#include "tools/saverpack/checks.h"

#include <map>

#include "tools/saverpack/support.h"

namespace saverpack {

namespace {

const char* const kRoles[kPackageItemCount] = {
    "unused",          "the implode library", "the Flash Player installer", "the preview",
    "the license",     "the read-me",         "the screen saver program",   "a further file",
    "the data file",   "a further file",      "a further file",
};

std::string itemLabel(int k) { return "item " + std::to_string(k) + " (" + kRoles[k] + ")"; }

bool inWorkFolder(std::int32_t itemType) { return itemType == 4 || itemType == 7; }

// Symbolic folders: the collision check only compares paths.
InstallFolders symbolicFolders() {
  return InstallFolders{"<work>\\", "<saver>\\", "<system>\\", "<sysnative>\\", "<common>\\"};
}

}  // namespace

std::vector<std::string> headerRuleProblems(const PackageHeader& h) {
  std::vector<std::string> problems;
  auto item = [&h](int k) -> const PackageItem& { return h.items[static_cast<std::size_t>(k)]; };
  bool quiet = h.installerMode == 4;

  auto requireItem = [&](int k, const std::string& when) {
    if (!item(k).present())
      problems.push_back(itemLabel(k) + " is absent" + when + ": the installer stops with -531 when it asks for it");
  };
  requireItem(1, "");
  if (h.hasFlashAXInstaller) requireItem(2, " but hasFlashAXInstaller is set");
  if (!quiet) requireItem(3, " and installerMode " + std::to_string(h.installerMode) + " shows a window");
  if (h.hasLicense && !quiet) requireItem(4, " but hasLicense is set");
  if (h.hasReadMe) requireItem(5, " but hasReadMe is set");
  for (int k = 6; k <= 10; ++k) requireItem(k, "");

  const PackageItem& lib = item(1);
  if (lib.present() && (lib.fileName != "impborl.dat" || lib.itemType != 4 || lib.isCompressed))
    problems.push_back(itemLabel(1) + " must be a stored \"impborl.dat\" of itemType 4 (it is \"" +
                       lib.fileName + "\", itemType " + std::to_string(lib.itemType) +
                       (lib.isCompressed ? ", compressed)" : ")"));
  const PackageItem& flash = item(2);
  if (flash.present() && flash.itemType != 7 &&
      !(flash.itemType == 3 && (flash.fileName == "install_flash_player_10_active_x.exe" ||
                                flash.fileName == "install_flash_player_active_x.exe")))
    problems.push_back(itemLabel(2) + " would not land in the work folder (itemType " +
                       std::to_string(flash.itemType) + ", name \"" + flash.fileName + "\")");
  for (int k : {3, 4, 5, 8})
    if (item(k).present() && !inWorkFolder(item(k).itemType))
      problems.push_back(itemLabel(k) + " has itemType " + std::to_string(item(k).itemType) +
                         "; the installer looks for it in the work folder (itemType 4 or 7)");
  const PackageItem& scr = item(6);
  if (scr.present() && scr.itemType != 2)
    problems.push_back(itemLabel(6) + " has itemType " + std::to_string(scr.itemType) +
                       ", not 2 (the system folder)");
  if (scr.present() && scr.fileName != h.saverName + ".scr")
    problems.push_back(itemLabel(6) + " is named \"" + scr.fileName + "\", but the uninstall entry runs \"" +
                       h.saverName + ".scr\"");
  return problems;
}

std::vector<std::string> dataFileRuleProblems(const PackageHeader& h, const SaverDataRecord& record,
                                              std::span<const DataFileEntry> entries) {
  std::vector<std::string> problems;
  if (record.mainFileSource() != kMainFileFromPreview) return problems;
  const PackageItem& preview = h.items[3];
  if (h.installerMode != 2 && h.installerMode != 3)
    problems.push_back("mainFileSource 3 copies the preview movie, but installerMode " +
                       std::to_string(h.installerMode) + " has no movie preview in the work folder");
  else if (preview.fileName != "installer.swf")
    problems.push_back("mainFileSource 3 copies \"installer.swf\", but item 3 is named \"" +
                       preview.fileName + "\"");
  if (entries.empty()) problems.push_back("mainFileSource 3 needs an entry 1 to copy the movie to");
  return problems;
}

std::vector<std::string> collisionProblems(const PackageHeader& h, std::span<const DataFileEntry> entries) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> files;    // folded path -> what writes it
  std::map<std::string, std::pair<std::string, std::string>> folders;  // folded -> (path, entry inside)
  auto add = [&](const std::string& path, const std::string& what) {
    std::string key = foldCaseName(path);
    auto [it, fresh] = files.emplace(key, what);
    if (!fresh) problems.push_back(what + " and " + it->second + " are both written as " + path);
  };
  add("<work>\\temp.dat", "the installer's own copy");
  add("<saver>\\saver.dat", "the installer's saver.dat");

  InstallFolders f = symbolicFolders();
  for (int k = 1; k < kPackageItemCount; ++k) {
    const PackageItem& it = h.items[static_cast<std::size_t>(k)];
    if (!it.present()) continue;
    std::string name = k == 3 ? previewFileName(h.installerMode, it.fileName) : it.fileName;
    ItemDestination d = itemDestination(it.itemType, name, f, /*osIs64Bit=*/true);
    if (!d.hasDestination) continue;  // reported by validation
    add(d.path, "item " + std::to_string(k));
    if (!d.sysnativePath.empty()) add(d.sysnativePath, "item " + std::to_string(k));
  }
  if (h.hasLicense && h.installerMode != 4 && h.items[4].present())
    add("<saver>\\" + h.items[4].fileName, "the license copy");
  if (h.hasReadMe && h.items[5].present()) add("<saver>\\" + h.items[5].fileName, "the read-me copy");

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].entryName;
    if (name.empty()) continue;
    std::string what = "data file entry " + std::to_string(i + 1);
    add("<saver>\\" + name, what);
    for (std::size_t cut = name.find('\\'); cut != std::string::npos; cut = name.find('\\', cut + 1))
    {
      std::string folder = "<saver>\\" + name.substr(0, cut);
      folders.emplace(foldCaseName(folder), std::make_pair(folder, what));
    }
  }
  for (const auto& [key, place] : folders) {
    auto it = files.find(key);
    if (it != files.end())
      problems.push_back(it->second + " is a file where " + place.second + " needs the folder " +
                         place.first);
  }
  return problems;
}

std::string errorCodeText(ErrorCode code) {
  switch (code) {
    case errOk: return "no error";
    case errCorruptPackage: return "inconsistent offsets, sizes, counts or item types (-540)";
    case errBadName: return "a stored name is not a safe file name (-541)";
    default: return "error " + std::to_string(code);
  }
}

}  // namespace saverpack
