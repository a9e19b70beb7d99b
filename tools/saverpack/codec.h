// The packager's implode and explode commands: one file to one file in the
// implode format of package/explode.h.  The output appears only complete.
#pragma once

#include <filesystem>
#include <string>

#include "tools/implode/implode.h"
#include "tools/saverpack/support.h"

namespace saverpack {

struct CodecReport {
  std::uint64_t inputSize = 0;
  std::uint64_t outputSize = 0;
};

// On failure return false with a one-line `error`; the output is untouched.
bool implodeFile(const std::filesystem::path& in, const std::filesystem::path& out, ImplodeLiteralMode mode,
                 ImplodeDictionary dictionary, const ProgressFn& progress, CodecReport& report, std::string& error);
bool explodeFile(const std::filesystem::path& in, const std::filesystem::path& out, CodecReport& report,
                 std::string& error);

}  // namespace saverpack
