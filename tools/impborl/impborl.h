// "impborl.dll": the implode library the package carries as item 1.  Its
// three entries have the interface of the PKWARE Data Compression Library
// (C calling convention, the caller pops the arguments, all integers 32-bit)
// and are exported under exactly these names in the 32- and 64-bit builds:
//
//   _explode(read, write, work, param) -> unsigned
//       Expands one implode stream (package/explode.h), pulling input through
//       read and pushing output through write, both given `param` unchanged,
//       until the end code.  `work` is the caller's work area (12596 bytes
//       for the original library); this library keeps its own state and
//       accepts any pointer, null included.
//   _implode(read, write, work, param, type, dsize) -> unsigned
//       Compresses everything read returns until it returns 0 into one
//       stream.  *type: 0 binary, 1 ASCII literals; *dsize: 1024, 2048 or
//       4096.  `work` (35256 bytes for the original library) is unused.
//   _crc32(buffer, size, old_crc) -> unsigned long
//       Folds *size bytes into *old_crc with the CRC-32 table of
//       base/crc32.h and returns the new register, with no initial value
//       and no final complement, so calls chain: start from 0xFFFFFFFF and
//       complement the last result to get the standard CRC-32 (0xCBF43926
//       for "123456789").  *old_crc itself is left unchanged.
//
// Callbacks: read(buf, size, param) copies up to *size bytes into buf and
// returns how many (0: no more input); write(buf, size, param) takes *size
// bytes.
#pragma once

#ifdef _WIN32
#define IMPBORL_CALL __cdecl
#else
#define IMPBORL_CALL
#endif

extern "C" {

typedef unsigned(IMPBORL_CALL* ImpborlReadFn)(char* buf, unsigned* size, void* param);
typedef void(IMPBORL_CALL* ImpborlWriteFn)(char* buf, unsigned* size, void* param);

typedef unsigned(IMPBORL_CALL* ImpborlExplodeFn)(ImpborlReadFn read, ImpborlWriteFn write, char* work, void* param);
typedef unsigned(IMPBORL_CALL* ImpborlImplodeFn)(ImpborlReadFn read, ImpborlWriteFn write, char* work, void* param,
                                                 unsigned* type, unsigned* dsize);
typedef unsigned long(IMPBORL_CALL* ImpborlCrc32Fn)(char* buffer, unsigned* size, unsigned long* oldCrc);

}  // extern "C"

// Return codes of _explode and _implode, as the DCL numbers them.
enum : unsigned {
  kImpborlOk = 0,
  kImpborlInvalidDictSize = 1,  // dsize not 1024/2048/4096, or a stream header with a code outside 4..6
  kImpborlInvalidMode = 2,      // type not 0/1, or a stream header with a literal mode other than 0/1
  kImpborlBadData = 3,          // the stream ends early or copies from before its start
  kImpborlAbort = 4,            // a callback is missing or memory ran out
};

// Sizes of the work areas the original library asks of its callers.
constexpr unsigned kImpborlExplodeWorkSize = 12596;
constexpr unsigned kImpborlImplodeWorkSize = 35256;
