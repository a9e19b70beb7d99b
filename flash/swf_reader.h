// The head of a SWF movie, read before the movie is handed to the player.
//
//   offset 0  3 bytes  signature: "FWS" uncompressed, "CWS" zlib from offset 8
//   offset 3  1 byte   SWF version; versions 3 to 11 are accepted
//   offset 4  4 bytes  file length, little-endian (not interpreted)
//
// The reader never decompresses: a compressed movie is inflated into an
// uncompressed copy by the movie panel, which then reads that copy.  At most
// 4 bytes are read from a file.
//
// Result codes: 0, errNotSwfFile, errSwfVersionTooHigh, errSwfVersionTooLow,
// ioErrReadPastEnd for a file shorter than the bytes the check needs, or a
// positive file error when an existing file cannot be opened or read
// (2 file not found, 3 path not found, 4 too many open files, 5 access
// denied, 8 out of memory, 31 any other failure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/error_codes.h"

// File input/output error "read past end of file".
constexpr ErrorCode ioErrReadPastEnd = 100;

constexpr std::uint8_t kMinSwfVersion = 3;
constexpr std::uint8_t kMaxSwfVersion = 11;

// Fields the movie panel owns and the reader writes.
struct SwfHeaderState {
    std::string swfSignature;      // first 3 bytes of the file last classified
    std::uint8_t swfVersion = 0;   // version byte last read; 0 when none was read
};

// Pure cores over the first bytes of a file (n of them), for the file
// functions below and for fuzzing.
//
// classifySwfHeader: n < 3 gives ioErrReadPastEnd and leaves swfSignature
// alone; otherwise swfSignature := the first 3 bytes, and the result is 0
// for exactly "FWS" or "CWS" (case-sensitive), else errNotSwfFile.
ErrorCode classifySwfHeader(const std::uint8_t* bytes, std::size_t n, SwfHeaderState& state);

// checkFwsHeader: swfVersion := 0; then, in order, fewer than 3 bytes,
// a signature other than "FWS", fewer than 4 bytes, and a version byte
// outside 3..11 each fail with their own code.  A rejected version byte is
// still stored in swfVersion.
ErrorCode checkFwsHeader(const std::uint8_t* bytes, std::size_t n, SwfHeaderState& state);

// A missing file (or a folder of that name) gives 0 and leaves swfSignature
// unchanged.
ErrorCode readSWFFileFormatType(const std::string& fileName, SwfHeaderState& state);

// A missing file gives 0 with swfVersion 0.
ErrorCode readSWFFile_FWS_Format(const std::string& fileName, SwfHeaderState& state);
