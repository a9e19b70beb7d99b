// The name of whoever signed an installer, read from its certificate table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace saverpack {

// The signer's name (common name, else organisation) from a certificate
// table: a WIN_CERTIFICATE holding PKCS#7 signed data.  std::nullopt when the
// table cannot be read that far.  Any bytes are safe to pass.
std::optional<std::string> signerName(std::span<const std::uint8_t> table);

}  // namespace saverpack
