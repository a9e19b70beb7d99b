// Building an installer from a manifest: the stub, the package header, the
// items at absolute offsets and the integrity trailer.
//
// Item layout (see base/package_format.h for the records):
//   1  "impborl.dat", itemType 4, stored: the implode library
//   2  the Flash Player installer, itemType 3, named after its version
//      ("install_flash_player_10_active_x.exe" for 0,
//       "install_flash_player_active_x.exe" for 1)
//   3  the preview, itemType 7 ("installer.swf" by default for a movie)
//   4  license, 5 read-me: itemType 7
//   6  the screen saver program "<saverName>.scr", itemType 2 (the uninstall
//      entry runs the program under exactly that name)
//   7, 9, 10  further files with their itemType (default 1)
//   8  the screen saver data file "saverdata.bin", itemType 7
// The data folder's files become data file entries sorted by name, each
// stored or imploded as the manifest's compression rules say ("auto":
// imploded when that is smaller).  Every imploded stream is decoded again
// and compared before it is used.  The built package passes the checks of
// package/validate.h before a byte of the output is written, and the output
// appears only complete (through a temporary file renamed at the end).  The
// same inputs always give the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/saverpack/manifest.h"
#include "tools/saverpack/support.h"

namespace saverpack {

struct BuildSettings {
  std::filesystem::path manifest;
  std::filesystem::path output;
  // Override the manifest's paths; without either, the files are looked up
  // as <toolFolder>/../win32/stub.exe and <toolFolder>/../win32/impborl.dll.
  std::optional<std::filesystem::path> stub;
  std::optional<std::filesystem::path> library;
  bool noLibrary = false;  // item 1 gets a short placeholder
  // The code page of the package's names; replaces the manifest's "codePage".
  std::optional<unsigned> codePage;
  std::filesystem::path toolFolder;
  ProgressFn progress;                                   // optional
  std::function<void(const std::string&)> warning;       // optional
};

struct BuiltMember {
  std::string name;            // entry name (UTF-8)
  std::uint64_t fileSize = 0;
  std::uint64_t storedSize = 0;
  bool imploded = false;
  bool copy = false;           // entry 1 taken from the preview
};

struct BuildReport {
  std::uint64_t installerSize = 0;
  std::vector<BuiltMember> members;
};

// Builds the installer the settings describe.  On failure returns false with
// a one-line `error` naming the file and the problem, and the output file is
// left as it was.
bool buildInstaller(const BuildSettings& settings, BuildReport& report, std::string& error);

}  // namespace saverpack
