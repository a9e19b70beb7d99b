// Writes the seed corpora of the fuzz harnesses: tests/fuzz/corpus/<harness>/
// seed-<what>.  Seeds are made with the package writer, the implode encoder,
// zlib and by hand, small on purpose (the fuzzer grows them).  Files that do
// not start with "seed-" (inputs of past findings) are left alone.
//
//   scripts/fuzz --seeds      (builds and runs this program)
//   make_seeds DIR            (DIR: the corpus root)
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/package_format.h"
#include "package/package_writer.h"
#include "package/trailer.h"
#include "tools/implode/implode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path gRoot;
int gWritten = 0;
bool gFailed = false;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

void write(const char* harness, const std::string& name, const Bytes& bytes)
{
  fs::path dir = gRoot / harness;
  fs::create_directories(dir);
  fs::path path = dir / ("seed-" + name);
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) gFailed = true;
  if (f && std::fclose(f) != 0) gFailed = true;
  ++gWritten;
}

// Deterministic sample contents.
Bytes text(std::size_t n)
{
  static const char* const kWords[] = {"the ", "saver ", "installs ", "a ", "movie ", "into ", "its ",
                                       "folder, ", "and ", "then ", "shows ", "it.\r\n"};
  std::string s;
  std::uint32_t x = 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += kWords[(x >> 16) % 12];
  }
  s.resize(n);
  return bytesOf(s);
}

Bytes binary(std::size_t n)
{
  Bytes b(n);
  std::uint32_t x = 7;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = (i % 64 < 20) ? 0 : (i % 5 == 0) ? static_cast<std::uint8_t>(x >> 24) : static_cast<std::uint8_t>(i);
  }
  return b;
}

Bytes concat(Bytes a, const Bytes& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

CompressFn implodeWith(ImplodeLiteralMode mode, ImplodeDictionary dict)
{
  return [mode, dict](const Bytes& data) {
    ImplodeOptions o;
    o.literalMode = mode;
    o.dictionary = dict;
    return implodeBuffer(data.data(), data.size(), o);
  };
}

// ------------------------------------------------------------ package header

// The installer from the end of the stub on: what the harness takes.
Bytes afterStub(const PackageBuilder& b, BuildOptions options = {})
{
  Bytes whole = b.build(options);
  if (whole.size() < INSTALLER_SIZE_IN_BYTES2) {
    gFailed = true;
    return {};
  }
  return Bytes(whole.begin() + INSTALLER_SIZE_IN_BYTES2, whole.end());
}

void packageHeaderSeeds()
{
  const char* h = "package_header";
  CompressFn implode = implodeWith(ImplodeLiteralMode::Auto, ImplodeDictionary::Auto);
  write(h, "default", afterStub(PackageBuilder()));
  write(h, "default-trailer", afterStub(PackageBuilder(), {.trailer = true}));
  write(h, "bmp-license-readme-flash",
        afterStub(PackageBuilder()
                      .mode(1)
                      .preview("preview.gif", bytesOf("GIF89a"))
                      .license("license.rtf", bytesOf("{\\rtf1 license}"))
                      .readMe("readme.txt", bytesOf("read me"))
                      .flashInstaller("install_flash_player_active_x.exe", bytesOf("MZ flash"), 1),
                  {.trailer = true}));
  write(h, "jpg-compressed-items",
        afterStub(PackageBuilder()
                      .mode(8)
                      .preview("preview", bytesOf("JFIF"))
                      .compressedItem(7, "notes.txt", 1, text(300), implode)
                      .compressedItem(9, "ocx.ocx", 3, binary(200), implode)
                      .dataFile(DataFileBuilder().add("a.txt", text(40)).addImploded("b.bin", binary(90), implode))));
  write(h, "items-absent", afterStub(PackageBuilder().removeItem(7).removeItem(9).removeItem(10).removeItem(3)));
  write(h, "item-size-zero", afterStub(PackageBuilder().item(10, "empty.bin", 1, {})));
  write(h, "flash-installer-10",
        afterStub(PackageBuilder().flashInstaller("install_flash_player_10_active_x.exe", bytesOf("MZ"), 0)));
  write(h, "bad-name-traversal", afterStub(PackageBuilder().item(7, "..\\evil.dll", 1, bytesOf("x"))));
  write(h, "bad-name-device", afterStub(PackageBuilder().item(9, "NUL.txt", 1, bytesOf("x"))));
  write(h, "bad-saver-name", afterStub(PackageBuilder().saverName("a\\b")));
  write(h, "bad-flash-version", afterStub(PackageBuilder().flashInstaller("f.exe", bytesOf("MZ"), 2)));
  write(h, "bad-item-type", afterStub(PackageBuilder().editHeader([](PackageHeader& hd) { hd.items[7].itemType = 9; })));
  write(h, "offset-past-end",
        afterStub(PackageBuilder().editHeader([](PackageHeader& hd) { hd.items[10].endOffset += 1000; })));
  write(h, "offset-in-header", afterStub(PackageBuilder().editHeader([](PackageHeader& hd) {
          hd.items[6].startOffset = static_cast<std::int32_t>(INSTALLER_SIZE_IN_BYTES2);
        })));
  write(h, "negative-size", afterStub(PackageBuilder().editHeader([](PackageHeader& hd) {
          hd.items[9].endOffset = hd.items[9].startOffset - 2;
        })));
  write(h, "negative-expanded", afterStub(PackageBuilder().editHeader([](PackageHeader& hd) {
          hd.items[7].isCompressed = 1;
          hd.items[7].expandedSize = -1;
        })));
  Bytes mismatch = afterStub(PackageBuilder(), {.trailer = true});
  mismatch[mismatch.size() - kTrailerSize] ^= 0x55;
  write(h, "trailer-crc-mismatch", mismatch);
  Bytes shortHeader = afterStub(PackageBuilder());
  shortHeader.resize(kPackageHeaderSize - 1);
  write(h, "header-short", shortHeader);
}

// ------------------------------------------------------------ data file

void dataFileSeeds()
{
  const char* h = "data_file";
  CompressFn implode = implodeWith(ImplodeLiteralMode::Auto, ImplodeDictionary::Auto);
  write(h, "empty", DataFileBuilder().build());
  write(h, "stored-imploded-copy", DataFileBuilder()
                                       .add("movie.swf", bytesOf("FWS\x09 movie"))
                                       .addImploded("notes.txt", text(400), implode)
                                       .addCopy("copy.swf")
                                       .add("empty.bin", {})
                                       .build());
  write(h, "main-from-preview",
        DataFileBuilder().addCopy("main.swf").add("sub\\deeper\\a.txt", text(30)).mainFileSource(3).build());
  write(h, "empty-name-skipped", DataFileBuilder().add("", text(10)).add("b.txt", text(10)).build());
  write(h, "bad-name-traversal", DataFileBuilder().add("sub\\..\\..\\x.txt", text(10)).build());
  write(h, "bad-name-drive", DataFileBuilder().add("C:\\x.txt", text(10)).build());
  write(h, "bad-name-unterminated", DataFileBuilder().add(std::string(256, 'n'), text(10)).build());
  // In code page 932 "表\a.txt" is a folder and a file; in 1252 an empty component.
  write(h, "dbcs-5c-trail", DataFileBuilder().add("\x95\x5c\\a.txt", text(10)).add("\x83\x5c.txt", text(5)).build());
  write(h, "dbcs-lead-at-end", DataFileBuilder().add("a\x95", text(10)).build());
  MemberHeader negative{-5, -5, 0};
  write(h, "member-negative-size", DataFileBuilder().addMember("neg.bin", negative, {}).build());
  MemberHeader imploded0{100, 0, 1};
  write(h, "imploded-stored-zero", DataFileBuilder().addMember("zero.bin", imploded0, {}).build());
  MemberHeader tooLong{1000, 1000, 0};
  write(h, "member-past-end", DataFileBuilder().addMember("long.bin", tooLong, text(10)).build());
  DataFileLayout layout;
  Bytes moved = DataFileBuilder().add("a.txt", text(10)).add("b.txt", text(10)).build(&layout);
  moved[layout.entryOffsets[1] + kEntryDataOffsetField] = 8;  // member inside the table
  write(h, "member-in-table", moved);
  SaverDataRecord record;
  record.setFileCount(kMaxFileCount + 1);
  write(h, "count-too-large", DataFileBuilder().rawRecord(record).build());
  record.setFileCount(3);
  write(h, "count-past-end", DataFileBuilder().rawRecord(record).add("a.txt", text(5)).build());
}

// ------------------------------------------------------------ explode

void explodeSeeds()
{
  const char* h = "explode";
  Bytes sample = concat(text(700), binary(500));
  for (auto mode : {ImplodeLiteralMode::Binary, ImplodeLiteralMode::Ascii})
    for (auto dict : {ImplodeDictionary::Size1024, ImplodeDictionary::Size2048, ImplodeDictionary::Size4096}) {
      std::string name = std::string(mode == ImplodeLiteralMode::Ascii ? "ascii-" : "binary-") +
                         std::to_string(static_cast<int>(dict));
      write(h, name, implodeWith(mode, dict)(sample));
    }
  // The worked example of the format notes: "AIAIAIAIAIAIA".
  write(h, "worked-example", {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f});
  // Long runs: output passes the 64 KiB block, so the window slides.
  Bytes run(150000, 'z');
  for (std::size_t i = 0; i < run.size(); i += 4001) run[i] = static_cast<std::uint8_t>(i);
  write(h, "window-slide", implodeWith(ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096)(run));
  Bytes cut = implodeWith(ImplodeLiteralMode::Ascii, ImplodeDictionary::Size2048)(text(500));
  cut.resize(cut.size() / 2);
  write(h, "truncated", cut);
  write(h, "trailing-bytes",
        concat(implodeWith(ImplodeLiteralMode::Binary, ImplodeDictionary::Size1024)(text(100)), bytesOf("junk")));
  // A copy as the first token: it reaches before the first byte.
  write(h, "distance-too-far", {0x00, 0x04, 0x05, 0x00, 0xff, 0x01});
  write(h, "bad-literal-mode", {0x02, 0x04, 0x00});
  write(h, "bad-dictionary", {0x00, 0x07, 0x00});
  write(h, "empty-stream", implodeWith(ImplodeLiteralMode::Ascii, ImplodeDictionary::Size4096)({}));
  // A few KiB that expand to 1 MiB: the shape of a stream claiming far less.
  write(h, "expansion-bomb", implodeWith(ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096)(Bytes(1u << 20, 0)));
}

// ------------------------------------------------------------ implode

void implodeSeeds()
{
  const char* h = "implode_roundtrip";
  // Flags: bits 0-1 literal mode, 2-3 dictionary, 4 fast, 5 streaming too.
  write(h, "text-auto", concat({0x02}, text(1500)));
  write(h, "text-ascii-2048-stream", concat({0x01 | 0x08 | 0x20}, text(900)));
  write(h, "binary-binary-4096", concat({0x00 | 0x0c}, binary(1500)));
  write(h, "binary-fast-1024", concat({0x00 | 0x04 | 0x10}, binary(1200)));
  write(h, "zeros-fast-stream", concat({0x02 | 0x10 | 0x20}, Bytes(3000, 0)));
  write(h, "empty", {0x02});
  Bytes noisy(600);
  std::uint32_t x = 99;
  for (auto& b : noisy) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  write(h, "noise-ascii", concat({0x01}, noisy));
  write(h, "pairs", concat({0x0c}, bytesOf("abababababcdcdcdcdabcdabcdxyxyxyxy")));
}

// ------------------------------------------------------------ SWF header

void swfSeeds()
{
  const char* h = "swf_reader";
  write(h, "fws-9", {'F', 'W', 'S', 9, 15, 0, 0, 0});
  write(h, "cws-10", {'C', 'W', 'S', 10, 0, 1, 0, 0, 0x78, 0x9c});
  write(h, "fws-too-low", {'F', 'W', 'S', 2});
  write(h, "fws-too-high", {'F', 'W', 'S', 12});
  write(h, "fws-short", {'F', 'W', 'S'});
  write(h, "lower-case", bytesOf("fws\x09"));
  write(h, "not-swf", bytesOf("GIF89a"));
}

// ------------------------------------------------------------ Flash version

void flashVersionSeeds()
{
  const char* h = "flash_version";
  write(h, "win", bytesOf("WIN 10,0,45,2"));
  write(h, "mac", bytesOf("MAC 9,0,124,0"));
  write(h, "separators", bytesOf("  WIN\t10 ,, 0 , 45 , 2  "));
  write(h, "quoted", bytesOf("\"WIN\" \"10\",\"0\",\"45\",\"2\""));
  write(h, "open-quote", bytesOf("WIN \"10,0,45,2"));
  write(h, "overflow", bytesOf("WIN 2147483648,0,45,2"));
  write(h, "int32-max", bytesOf("WIN 2147483647,0,2147483647,0"));
  write(h, "negative", bytesOf("WIN -1,0,45,2"));
  write(h, "three-tokens", bytesOf("WIN 10,0"));
  write(h, "empty", {});
}

// ------------------------------------------------------------ inflate

Bytes zlibCompress(const Bytes& data, int level)
{
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) gFailed = true;
  out.resize(size);
  return out;
}

Bytes zlibWithDictionary(const Bytes& data)
{
  z_stream zs{};
  deflateInit(&zs, 6);
  static const char kDict[] = "saver movie folder";
  deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(kDict), sizeof kDict - 1);
  Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) gFailed = true;
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

void inflateSeeds()
{
  const char* h = "inflate_stream";
  // Byte 0: source prefix length << 4 | operation count; then the
  // operations (top 3 bits the kind, low 5 a size index); then the data.
  write(h, "text-one-read", concat({0x00}, zlibCompress(text(2000), 6)));
  write(h, "text-small-reads", concat({0x33, 0x01, 0x05, 0x47}, zlibCompress(text(3000), 9)));
  write(h, "stored-mixed-ops", concat({0x26, 0x0b, 0x62, 0x80, 0x0e, 0xb0, 0xc0}, zlibCompress(binary(1500), 0)));
  write(h, "zeros-past-64k", concat({0x14, 0x1d, 0x7f, 0xc0, 0x1b}, zlibCompress(Bytes(300000, 0), 9)));
  write(h, "trailing-data", concat(concat({0x02, 0x06, 0x09}, zlibCompress(text(500), 6)), bytesOf("AFTER")));
  write(h, "seek-end-restart", concat({0x04, 0xc0, 0x80, 0x0a, 0xe1}, zlibCompress(text(800), 1)));
  // Reads that end exactly where the data does, then one more.
  write(h, "exact-reads", concat({0x03, 0x0f, 0x0f, 0x01}, zlibCompress(text(2000), 6)));
  write(h, "exact-4096", concat({0x12, 0x12, 0x12}, zlibCompress(binary(4096), 6)));
  write(h, "refused-ops", concat({0x04, 0xe0, 0xe1, 0xe2, 0xe3}, zlibCompress(text(200), 6)));
  write(h, "empty-payload", concat({0x01, 0x07}, zlibCompress({}, 6)));
  Bytes truncated = zlibCompress(text(1000), 6);
  truncated.resize(truncated.size() - 9);
  write(h, "truncated", concat({0x01, 0x0f}, truncated));
  Bytes badCheck = zlibCompress(text(600), 6);
  badCheck.back() ^= 1;
  write(h, "bad-adler", concat({0x01, 0x1f}, badCheck));
  write(h, "needs-dictionary", concat({0x00}, zlibWithDictionary(text(300))));
  write(h, "raw-garbage", concat({0x02, 0x03, 0x04}, bytesOf("not zlib at all")));
  // A kilobyte that inflates to 1 MiB, as behind a movie's small length field.
  write(h, "expansion-bomb", concat({0x01}, zlibCompress(Bytes(1u << 20, 0), 9)));
}

// ------------------------------------------------------------ names

void nameSeeds()
{
  const char* h = "names";
  const std::pair<const char*, std::string> kNames[] = {
      {"plain", "Test Saver.scr"},   {"nested", "sub\\deeper\\file.txt"},
      {"dotdot", ".."},              {"traversal", "a\\..\\b"},
      {"device", "CON"},             {"device-ext", "nul.txt"},
      {"device-space", "COM1 .log"}, {"device-superscript", "LPT\xc2\xb9"},
      {"conin", "CONIN$"},           {"trailing-dot", "a."},
      {"trailing-space", "a "},      {"drive", "C:\\x"},
      {"unc", "\\\\server\\share"},  {"slash", "a/b"},
      {"stream", "file.txt:hidden"}, {"join", "left\x01right"},
      {"dots", "file.name.with.dots"}, {"high-bytes", "\xe9t\xe9.txt"},
      {"long-255", std::string(251, 'x') + ".txt"}, {"long-256", std::string(252, 'x') + ".txt"},
      {"saver-64", std::string(64, 's')}, {"control", "a\tb"},
      // Code page 932 traps: 0x5C as a second byte (表, ソ), a lead byte at the end.
      {"dbcs-5c-trail", "\x95\x5c\x83\x5c.txt"}, {"dbcs-lead-at-end", "abc\x95"},
      {"dbcs-lead-before-space", "\x95 x"}, {"utf8-kanji", "\xe8\xa1\xa8\xe7\xa4\xba.scr"},
  };
  for (const auto& [what, name] : kNames) write(h, what, bytesOf(name));
}

// ------------------------------------------------------------ signed installers

// A DER element.
Bytes der(std::uint8_t tag, const Bytes& body)
{
  Bytes out{tag};
  if (body.size() < 0x80) {
    out.push_back(static_cast<std::uint8_t>(body.size()));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<std::uint8_t>(body.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(body.size()));
  }
  return concat(out, body);
}

// A Name with one common name.
Bytes derName(const std::string& commonName)
{
  Bytes attribute = concat(der(0x06, {0x55, 0x04, 0x03}), der(0x0C, bytesOf(commonName)));
  return der(0x30, der(0x31, der(0x30, attribute)));
}

// A certificate table shaped as the tools write it: WIN_CERTIFICATE around
// PKCS#7 signed data with one certificate and one signer info (no real
// keys or signatures: the reader looks at names and serial numbers only).
Bytes certificateTable(const std::string& signer)
{
  Bytes serial = der(0x02, {0x01, 0x23, 0x45});
  Bytes algorithm = der(0x30, der(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}));
  Bytes issuer = derName("Seed Issuer");
  Bytes validity = der(0x30, concat(der(0x17, bytesOf("260101000000Z")), der(0x17, bytesOf("270101000000Z"))));
  Bytes tbs = der(0x30, concat(concat(concat(concat(concat(der(0xA0, der(0x02, {0x02})), serial), algorithm), issuer),
                                      validity), derName(signer)));
  Bytes certificate = der(0x30, concat(concat(tbs, algorithm), der(0x03, {0x00, 0x01})));
  Bytes signerInfo = der(0x30, concat(der(0x02, {0x01}), der(0x30, concat(issuer, serial))));
  Bytes signedData = der(0x30, concat(concat(concat(concat(der(0x02, {0x01}), der(0x31, algorithm)),
                                                    der(0x30, der(0x06, {0x2B, 0x06, 0x01}))),
                                             der(0xA0, certificate)),
                                      der(0x31, signerInfo)));
  Bytes contentInfo = der(0x30, concat(der(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02}),
                                       der(0xA0, signedData)));
  Bytes table(8, 0);
  storeLe32(table.data(), static_cast<std::uint32_t>(8 + contentInfo.size()));
  storeLe16(table.data() + 4, 0x0200);
  storeLe16(table.data() + 6, 2);
  return concat(table, contentInfo);
}

// The first bytes of a PE image: MZ, the PE signature, a COFF header and an
// optional header with 16 directories.
Bytes peHeader(bool plus, std::size_t size)
{
  Bytes b = binary(size);
  std::fill(b.begin(), b.begin() + 0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  storeLe32(&b[0x3C], 0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  storeLe16(&b[0x80 + 20], plus ? 0xF0 : 0xE0);
  storeLe16(&b[0x98], plus ? 0x20B : 0x10B);
  storeLe32(&b[0x98 + 64], 0x5EED);
  storeLe32(&b[0x98 + (plus ? 108 : 92)], 16);
  return b;
}

void peSigningSeeds()
{
  const char* h = "pe_signing";
  write(h, "pe32", peHeader(false, 0x400));
  write(h, "pe32plus", peHeader(true, 0x1000));
  write(h, "pe32-odd-size", peHeader(false, 0x403));
  write(h, "certificate-table", certificateTable("Seed Signer"));
  Bytes signedImage = peHeader(false, 0x400);
  storeLe32(&signedImage[0x98 + 96 + 32], 0x400);
  Bytes table = certificateTable("Seed Signer");
  storeLe32(&signedImage[0x98 + 96 + 36], static_cast<std::uint32_t>(table.size()));
  write(h, "signed-pe32", concat(signedImage, table));
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_ROOT\n");
    return 2;
  }
  gRoot = argv[1];
  packageHeaderSeeds();
  dataFileSeeds();
  explodeSeeds();
  implodeSeeds();
  swfSeeds();
  flashVersionSeeds();
  inflateSeeds();
  nameSeeds();
  peSigningSeeds();
  if (gFailed) {
    std::fprintf(stderr, "make_seeds: could not make or write every seed\n");
    return 1;
  }
  std::printf("%d seeds written under %s\n", gWritten, gRoot.string().c_str());
  return 0;
}
