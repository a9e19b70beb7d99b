// Signing installers with an Authenticode signature through Debian's
// osslsigncode.
//
// A signature is a certificate table appended to the file, pointed at by the
// PE header's certificate-table entry; signing also rewrites the header's
// checksum.  The integrity trailer leaves both fields out and sits right
// before the table (package/trailer.h), so a signed installer keeps a valid
// check whatever tool signed it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tools/saverpack/support.h"

namespace saverpack {

// The environment variable that holds the certificate's password when no
// password file is given.
constexpr const char* kSignPasswordVariable = "SAVERPACK_SIGN_PASSWORD";

struct SignSettings {
  std::filesystem::path certificate;                  // PKCS#12 (.p12, .pfx)
  std::optional<std::filesystem::path> passwordFile;  // else kSignPasswordVariable
  std::string timestampUrl;                           // RFC 3161 server; empty: none
};

// Signs `input` into `output` (the same path signs in place; an existing
// signature is replaced).  The signed file must keep a valid trailer if the
// input had one.  `output` appears only complete and signed; on failure it
// is left as it was.  False with a one-line `error` on failure.
bool signInstaller(const std::filesystem::path& input, const std::filesystem::path& output,
                   const SignSettings& settings, std::string& error);

// The file without its signature (table cut off, both header fields zero),
// if it is signed; std::nullopt otherwise.
std::optional<Bytes> withoutSignature(const Bytes& file);

}  // namespace saverpack
