// File-to-file implode and explode.
#include "tools/saverpack/codec.h"

#include "package/explode.h"

namespace saverpack {

namespace fs = std::filesystem;

bool implodeFile(const fs::path& in, const fs::path& out, ImplodeLiteralMode mode, ImplodeDictionary dictionary,
                 const ProgressFn& progress, CodecReport& report, std::string& error) {
  try {
    Bytes data = readWholeFile(in);
    ImplodeOptions opts;
    opts.literalMode = mode;
    opts.dictionary = dictionary;
    std::string label = "imploding " + displayPath(in.filename());
    if (progress) opts.progress = [&](std::size_t done, std::size_t total) { progress(label, done, total); };
    Bytes packed = implodeBuffer(data.data(), data.size(), opts);
    writeFileAtomically(out, packed);
    report.inputSize = data.size();
    report.outputSize = packed.size();
    return true;
  } catch (const std::bad_alloc&) {
    error = displayPath(in) + ": out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

bool explodeFile(const fs::path& in, const fs::path& out, CodecReport& report, std::string& error) {
  try {
    Bytes packed = readWholeFile(in);
    Bytes data;
    ExplodeStatus st = explodeBuffer(packed.data(), packed.size(), data);
    if (st != ExplodeStatus::Ok) {
      error = displayPath(in) + ": not valid implode data: " + explodeStatusText(st);
      return false;
    }
    writeFileAtomically(out, data);
    report.inputSize = packed.size();
    report.outputSize = data.size();
    return true;
  } catch (const std::bad_alloc&) {
    error = displayPath(in) + ": out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

}  // namespace saverpack
