// Damaged and hostile installers derived from one good installer, for the
// end-to-end robustness run (tests/win/hostile_test.cpp).
//
// The good installer is built with PackageBuilder on the real stub: every
// item 1 to 10 present (a carried Flash Player installer, a license, a
// read-me, a compressed item), and a data file with stored, nested,
// imploded and copy entries.  Each case changes it in one way and says what
// a sound installer must do with the result: refuse it and leave nothing
// behind, install it completely with a given set of files, or either of the
// two (a name the file system may or may not accept).  A refusal may carry
// any error code of the product, except where the damage has a code of its
// own that the user is told: the integrity trailer's mismatch.  Most cases are built without the integrity trailer, so
// that the damage reaches the structural checks instead of the CRC; the
// "trailer" family shows the CRC refusal.
//
// Portable: no Windows headers; the test supplies the stub and the implode
// encoder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "package/package_writer.h"

namespace hostile {

using Bytes = std::vector<std::uint8_t>;

enum class Outcome {
  Refused,   // non-zero product error code, nothing left behind
  Installs,  // exit code 0, exactly the expected files
  Either,    // one of the two, each checked in full
};

// A file the install must leave, by its path relative to its folder.
struct ExpectedFile {
  std::string path;
  std::int64_t size = 0;
};

struct HostileCase {
  std::string family;
  std::string name;  // "family/detail", unique
  Bytes installer;
  Outcome outcome = Outcome::Refused;
  // Refused: the exit code required (the integrity trailer's); 0 accepts any
  // error code of the product.
  ErrorCode code = 0;
  // The damage lies in the executable image itself: the system may refuse to
  // start it at all, which counts as a refusal.
  bool mayNotStart = false;
  // What a completed install must have written (Installs and Either).
  std::string saverName;                 // the saver folder's and uninstall entry's name
  std::vector<ExpectedFile> saverFiles;  // in the saver folder, "saver.dat" included
  std::vector<ExpectedFile> systemFiles; // in the system folder (type 2 items)
  std::vector<ExpectedFile> commonFiles; // in the common folder (type 3 items named as libraries)
};

// The good installer's names.
constexpr const char* kSaverName = "Hostile Test Saver";
constexpr const char* kProgramName = "Hostile Test Saver.scr";

// Every case, in a fixed order; the same stub and encoder give the same bytes.
// `codePage` is the one the installer will read names in (its machine's):
// the double-byte traps install or are refused depending on it.
std::vector<HostileCase> generateHostileCases(std::span<const std::uint8_t> stub, const CompressFn& implode,
                                              unsigned codePage = 1252);

// Number of cases per family, in order of first appearance.
std::vector<std::pair<std::string, int>> casesPerFamily(const std::vector<HostileCase>& cases);

}  // namespace hostile
