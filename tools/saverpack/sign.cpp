// Signing through osslsigncode, and a small DER walk to name the signer.
#include "tools/saverpack/sign.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <system_error>

#include "package/pe_header.h"
#include "package/trailer.h"

namespace saverpack {

namespace fs = std::filesystem;

namespace {

// A file that is removed when the guard goes out of scope.
class ScratchFile {
 public:
  explicit ScratchFile(fs::path path) : path_(std::move(path)) {}
  ~ScratchFile() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

fs::path scratchBeside(const fs::path& target, const char* what) {
  static std::atomic<unsigned> counter{0};
  // Appended piece by piece: "." + s draws a false -Wrestrict from g++ 12.
  std::string name(1, '.');
  name += target.filename().string();
  name += '.';
  name += what;
  name += '-';
  name += std::to_string(counter++);
  name += ".tmp";
  return target.parent_path() / name;
}

TrailerCheck trailerOf(const fs::path& path) {
  InputFile in(path);
  TrailerChecker checker;
  Bytes block(1 << 20);
  for (std::uint64_t at = 0; at < in.size();) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), in.size() - at));
    if (!in.readAt(at, block.data(), n)) throw ToolError(displayPath(path) + ": cannot be read");
    checker.update(block.data(), n);
    at += n;
  }
  return checker.finish();
}

bool isSignedFile(const fs::path& path) {
  InputFile in(path);
  Bytes head(static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), kPeHeadSize)));
  if (!in.readAt(0, head.data(), head.size())) return false;
  std::optional<PeSigningFields> pe = parsePeSigningFields(head);
  return pe && pe->signedWithin(in.size());
}

void sign(const fs::path& input, const fs::path& output, const SignSettings& s) {
  std::error_code ec;
  if (!fs::is_regular_file(s.certificate, ec))
    throw ToolError(displayPath(s.certificate) + ": no such certificate file");
  if (!fs::is_regular_file(input, ec)) throw ToolError(displayPath(input) + ": no such file");
  TrailerCheck before = trailerOf(input);
  if (before == TrailerCheck::Mismatch)
    throw ToolError(displayPath(input) + ": its integrity trailer does not match; not signing a damaged installer");

  // The password reaches osslsigncode through a file, never its command line.
  std::optional<ScratchFile> passwordScratch;
  fs::path passwordFile;
  if (s.passwordFile) {
    passwordFile = *s.passwordFile;
  } else if (std::optional<std::string> pw = environmentValue(kSignPasswordVariable)) {
    passwordScratch.emplace(scratchBeside(output, "password"));
    passwordFile = passwordScratch->path();
    { std::ofstream(passwordFile, std::ios::binary | std::ios::trunc); }
    fs::permissions(passwordFile, fs::perms::owner_read | fs::perms::owner_write, ec);
    std::ofstream f(passwordFile, std::ios::binary | std::ios::trunc);
    f << *pw;
    if (!f.flush()) throw ToolError(displayPath(passwordFile) + ": cannot be written");
  } else {
    throw ToolError(displayPath(s.certificate) + ": no password; give --sign-password-file FILE or set " +
                    kSignPasswordVariable);
  }

  ScratchFile signedCopy(scratchBeside(output, "signed"));
  std::vector<std::string> args = {"osslsigncode", "sign", "-pkcs12", s.certificate.string(),
                                   "-readpass", passwordFile.string(), "-h", "sha256"};
  if (!s.timestampUrl.empty()) {
    args.push_back("-ts");
    args.push_back(s.timestampUrl);
  }
  args.insert(args.end(), {"-in", input.string(), "-out", signedCopy.path().string()});
  int rc = runProgram(args);
  if (rc < 0) throw ToolError("osslsigncode cannot be run (is it installed? scripts/setup installs it)");
  if (rc != 0) throw ToolError(displayPath(input) + ": osslsigncode failed (exit code " + std::to_string(rc) + ")");
  if (!isSignedFile(signedCopy.path()))
    throw ToolError(displayPath(input) + ": osslsigncode wrote no signature at the end of the file");
  TrailerCheck after = trailerOf(signedCopy.path());
  if (after == TrailerCheck::Mismatch || (before == TrailerCheck::Valid && after != TrailerCheck::Valid))
    throw ToolError(displayPath(input) + ": the signed file fails the integrity check");
  fs::rename(signedCopy.path(), output, ec);
  if (ec) throw ToolError(displayPath(output) + ": cannot be written: " + ec.message());
}

}  // namespace

bool signInstaller(const fs::path& input, const fs::path& output, const SignSettings& settings, std::string& error) {
  try {
    sign(input, output, settings);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

std::optional<Bytes> withoutSignature(const Bytes& file) {
  std::optional<PeSigningFields> pe = parsePeSigningFields(file);
  if (!pe || !pe->signedWithin(file.size())) return std::nullopt;
  Bytes out(file.begin(), file.begin() + pe->certOffset);
  zeroPeSigningFields(out);
  return out;
}

}  // namespace saverpack
