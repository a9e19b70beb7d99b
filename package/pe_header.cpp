// DOS stub header -> "PE\0\0" -> COFF header -> optional header (PE32 or
// PE32+) -> data directories.
#include "package/pe_header.h"

#include "base/byte_reader.h"

namespace {

constexpr std::size_t kLfanewAt = 0x3C;
constexpr std::size_t kCoffSize = 20;
constexpr std::size_t kChecksumInOptional = 64;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::size_t kDirectoryEntrySize = 8;

}  // namespace

std::optional<PeSigningFields> parsePeSigningFields(std::span<const std::uint8_t> head) {
  std::size_t size = head.size() < kPeHeadSize ? head.size() : kPeHeadSize;
  const std::uint8_t* p = head.data();
  auto fits = [size](std::uint64_t at, std::uint64_t n) { return at <= size && n <= size - at; };
  if (!fits(0, kLfanewAt + 4) || p[0] != 'M' || p[1] != 'Z') return std::nullopt;
  std::uint64_t pe = loadLe32(p + kLfanewAt);
  if (!fits(pe, 4 + kCoffSize + 2)) return std::nullopt;
  if (p[pe] != 'P' || p[pe + 1] != 'E' || p[pe + 2] != 0 || p[pe + 3] != 0) return std::nullopt;
  std::uint64_t optionalSize = loadLe16(p + pe + 4 + 16);
  std::uint64_t optional = pe + 4 + kCoffSize;
  std::uint16_t magic = loadLe16(p + optional);
  std::uint64_t countAt = 0;  // NumberOfRvaAndSizes; the directories follow it
  if (magic == kMagicPe32)
    countAt = optional + 92;
  else if (magic == kMagicPe32Plus)
    countAt = optional + 108;
  else
    return std::nullopt;
  std::uint64_t entryAt = countAt + 4 + kCertificateDirectory * kDirectoryEntrySize;
  if (entryAt + kDirectoryEntrySize > optional + optionalSize || !fits(entryAt, kDirectoryEntrySize))
    return std::nullopt;
  if (loadLe32(p + countAt) <= kCertificateDirectory) return std::nullopt;
  PeSigningFields f;
  f.checksumAt = static_cast<std::size_t>(optional + kChecksumInOptional);
  f.certEntryAt = static_cast<std::size_t>(entryAt);
  f.certOffset = loadLe32(p + entryAt);
  f.certSize = loadLe32(p + entryAt + 4);
  return f;
}

void zeroPeSigningFields(std::span<std::uint8_t> head) {
  std::optional<PeSigningFields> f = parsePeSigningFields(head);
  if (!f) return;
  storeLe32(head.data() + f->checksumAt, 0);
  storeLe32(head.data() + f->certEntryAt, 0);
  storeLe32(head.data() + f->certEntryAt + 4, 0);
}
