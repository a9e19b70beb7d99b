// A small DER walk through a certificate table to name the signer.  The
// table comes from the installer, so it is untrusted: every length is
// checked against what is left, and nothing is copied but the name.
#include "tools/saverpack/signer_name.h"

#include <algorithm>

#include "base/byte_reader.h"

namespace saverpack {

namespace {

struct Tlv {
  std::uint8_t tag = 0;
  std::span<const std::uint8_t> body;
  std::span<const std::uint8_t> whole;  // tag, length and body
};

// Reads one element from the front of `in`; false at the end or on a
// malformed one (long tags, indefinite or oversized lengths).
bool nextTlv(std::span<const std::uint8_t>& in, Tlv& t) {
  if (in.size() < 2 || (in[0] & 0x1F) == 0x1F) return false;
  std::size_t header = 2;
  std::size_t length = in[1];
  if (length >= 0x80) {
    std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || in.size() < 2 + count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | in[2 + i];
    header += count;
  }
  if (length > in.size() - header) return false;
  t.tag = in[0];
  t.body = in.subspan(header, length);
  t.whole = in.first(header + length);
  in = in.subspan(header + length);
  return true;
}

// The body of the element with `tag` at the front of `in`, or false.
bool expect(std::span<const std::uint8_t>& in, std::uint8_t tag, Tlv& t) { return nextTlv(in, t) && t.tag == tag; }

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// The value of the first attribute with this OID in a Name, printable.
std::optional<std::string> nameAttribute(std::span<const std::uint8_t> name, std::span<const std::uint8_t> oid) {
  Tlv rdn;
  while (nextTlv(name, rdn)) {
    std::span<const std::uint8_t> set = rdn.body;
    Tlv pair;
    while (nextTlv(set, pair)) {
      std::span<const std::uint8_t> fields = pair.body;
      Tlv id, value;
      if (!expect(fields, 0x06, id) || !nextTlv(fields, value) || !sameBytes(id.body, oid)) continue;
      std::string out;
      for (std::uint8_t c : value.body) out += c >= 0x20 && c != 0x7F ? static_cast<char>(c) : '?';
      return out;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> signerName(std::span<const std::uint8_t> table) {
  static constexpr std::uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
  static constexpr std::uint8_t kCommonNameOid[] = {0x55, 0x04, 0x03};
  static constexpr std::uint8_t kOrganisationOid[] = {0x55, 0x04, 0x0A};
  // WIN_CERTIFICATE: length, revision, type 2 (PKCS#7 signed data), the data.
  if (table.size() < 8 || loadLe16(table.data() + 6) != 2) return std::nullopt;
  std::size_t length = std::min<std::size_t>(loadLe32(table.data()), table.size());
  if (length < 8) return std::nullopt;
  std::span<const std::uint8_t> in = table.subspan(8, length - 8);

  Tlv contentInfo, oid, explicitContent, signedData, skip, certificates, signerInfos;
  if (!expect(in, 0x30, contentInfo)) return std::nullopt;
  in = contentInfo.body;
  if (!expect(in, 0x06, oid) || !sameBytes(oid.body, kSignedDataOid)) return std::nullopt;
  if (!expect(in, 0xA0, explicitContent)) return std::nullopt;
  in = explicitContent.body;
  if (!expect(in, 0x30, signedData)) return std::nullopt;
  in = signedData.body;
  // version, digest algorithms, content; then certificates [0] and crls [1]
  // if present, then the signer infos.
  if (!expect(in, 0x02, skip) || !expect(in, 0x31, skip) || !expect(in, 0x30, skip)) return std::nullopt;
  Tlv t;
  while (nextTlv(in, t)) {
    if (t.tag == 0xA0) certificates = t;
    if (t.tag == 0x31) signerInfos = t;
  }
  std::span<const std::uint8_t> infos = signerInfos.body;
  Tlv info, issuerAndSerial, issuer, serial, version;
  if (!expect(infos, 0x30, info)) return std::nullopt;
  std::span<const std::uint8_t> fields = info.body;
  if (!expect(fields, 0x02, version) || !expect(fields, 0x30, issuerAndSerial)) return std::nullopt;
  std::span<const std::uint8_t> ias = issuerAndSerial.body;
  if (!expect(ias, 0x30, issuer) || !expect(ias, 0x02, serial)) return std::nullopt;

  std::span<const std::uint8_t> certs = certificates.body;
  Tlv cert;
  while (nextTlv(certs, cert)) {
    std::span<const std::uint8_t> c = cert.body;
    Tlv tbs, field, certSerial, certIssuer, subject;
    if (cert.tag != 0x30 || !expect(c, 0x30, tbs)) continue;
    std::span<const std::uint8_t> f = tbs.body;
    if (!nextTlv(f, field)) continue;
    if (field.tag == 0xA0 && !nextTlv(f, field)) continue;  // explicit version
    certSerial = field;
    if (certSerial.tag != 0x02 || !expect(f, 0x30, skip) || !expect(f, 0x30, certIssuer) || !expect(f, 0x30, skip) ||
        !expect(f, 0x30, subject))
      continue;
    if (!sameBytes(certSerial.body, serial.body) || !sameBytes(certIssuer.whole, issuer.whole)) continue;
    if (std::optional<std::string> cn = nameAttribute(subject.body, kCommonNameOid)) return cn;
    return nameAttribute(subject.body, kOrganisationOid);
  }
  return std::nullopt;
}

}  // namespace saverpack
