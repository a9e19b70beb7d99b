// The two fields of a PE image that an Authenticode signature rewrites: the
// optional header's checksum and the certificate-table entry (data
// directory 4: file offset and size of the signature appended to the file).
// The signature's hash leaves both out, and so does the integrity trailer's
// CRC, so that signing an installer keeps its trailer valid.
//
// The header is untrusted input: every field is read byte by byte, little-
// endian, inside the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Both fields must lie within the file's first kPeHeadSize bytes; a file
// whose headers lie farther in is treated as not a PE image.
constexpr std::size_t kPeHeadSize = 4096;
// Zero bytes a signing tool puts between the file and the certificate table
// so that the table starts on an 8-byte boundary.
constexpr std::size_t kMaxSignaturePadding = 7;

struct PeSigningFields {
  std::size_t checksumAt = 0;    // file offset of the 4-byte checksum
  std::size_t certEntryAt = 0;   // file offset of the 8-byte certificate-table entry
  std::uint32_t certOffset = 0;  // the entry: where the table starts ...
  std::uint32_t certSize = 0;    // ... and its size; both 0 in an unsigned file

  bool hasCertEntry() const { return certOffset != 0 || certSize != 0; }
  // Signed as the tools sign: the table is the last thing in the file.
  bool signedWithin(std::uint64_t fileSize) const {
    return certOffset != 0 && certSize != 0 && std::uint64_t{certOffset} + certSize == fileSize;
  }
};

// The fields of the image whose first bytes are `head` (the whole file or
// at least its first kPeHeadSize bytes); nullopt if it is no PE image or the
// fields lie outside head or beyond kPeHeadSize.
std::optional<PeSigningFields> parsePeSigningFields(std::span<const std::uint8_t> head);

// Sets both fields to zero in `head` if it holds them.
void zeroPeSigningFields(std::span<std::uint8_t> head);
