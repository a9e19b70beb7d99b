// TCompressor: expands data in the implode format into a file.
//
// The decoder is built into the installer rather than loaded from the
// "impborl.dll" that the package carries: the installer runs elevated and its
// work folder lies in the user's own writable application-data folder, so
// loading a library from there would let any program of that user plant code
// into an elevated process.  The library item is still written out, and the
// object keeps the loaded flag of the library interface; it is always set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/error_codes.h"

class FileStream;
class InstallUi;

class TCompressor {
public:
  explicit TCompressor(const std::string& libraryFolder);
  TCompressor(const TCompressor&) = delete;
  TCompressor& operator=(const TCompressor&) = delete;

  bool loaded() const { return loaded_; }

  // Expands `count` imploded bytes, read from `source` at its current
  // position in blocks, into a new file at outputPath (an existing file is
  // replaced).  Memory use does not depend on the sizes involved.  Corrupt
  // data ends the expansion early with errOk: callers judge the outcome by
  // the written file's size.  An input/output error shows the "Zip Error"
  // box (when ui is given) and returns the system's code.  Output that
  // would pass outputLimit bytes is not written: the expansion stops there
  // with errSizeMismatch, so a hostile stream never takes more disk than
  // the size its package announced.
  ErrorCode expandToFile(const std::string& outputPath, FileStream& source, std::uint64_t count, InstallUi* ui,
                         std::uint64_t outputLimit = kNoOutputLimit);
  // The same for data already in memory.
  ErrorCode expandToFile(const std::string& outputPath, const std::uint8_t* buffer, std::size_t count,
                         InstallUi* ui, std::uint64_t outputLimit = kNoOutputLimit);

  static constexpr std::uint64_t kNoOutputLimit = ~std::uint64_t{0};

private:
  bool loaded_ = false;
};
