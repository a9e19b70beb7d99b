// The implode library's three entries, over the decoder of package/explode
// and the streaming encoder beside this file.  The library is built without
// the C++ runtime: nothing here or below allocates with new or throws.
#include "tools/impborl/impborl.h"

#include <cstdint>

#include "base/crc32.h"
#include "package/explode.h"
#include "tools/impborl/stream_implode.h"

namespace {

unsigned statusCode(ExplodeStatus st) {
  switch (st) {
    case ExplodeStatus::Ok: return kImpborlOk;
    case ExplodeStatus::BadDictionarySize: return kImpborlInvalidDictSize;
    case ExplodeStatus::BadLiteralMode: return kImpborlInvalidMode;
    case ExplodeStatus::Truncated:
    case ExplodeStatus::DistanceTooFar:
    case ExplodeStatus::BadCode: return kImpborlBadData;
    case ExplodeStatus::OutOfMemory:
    case ExplodeStatus::BadArgument: return kImpborlAbort;
  }
  return kImpborlBadData;
}

}  // namespace

extern "C" {

unsigned IMPBORL_CALL impborlExplode(ImpborlReadFn read, ImpborlWriteFn write, char* /*work*/, void* param) {
  if (!read || !write) return kImpborlAbort;
  return statusCode(explodeStream(read, write, param));
}

unsigned IMPBORL_CALL impborlImplode(ImpborlReadFn read, ImpborlWriteFn write, char* /*work*/, void* param,
                                     unsigned* type, unsigned* dsize) {
  if (!type || (*type != 0 && *type != 1)) return kImpborlInvalidMode;
  if (!dsize || (*dsize != 1024 && *dsize != 2048 && *dsize != 4096)) return kImpborlInvalidDictSize;
  if (!read || !write) return kImpborlAbort;
  unsigned dictCode = *dsize == 1024 ? 4 : *dsize == 2048 ? 5 : 6;
  StreamImplodeResult r = streamImplode(read, write, param, *type == 1, dictCode);
  return r == StreamImplodeResult::Ok ? kImpborlOk : kImpborlAbort;
}

unsigned long IMPBORL_CALL impborlCrc32(char* buffer, unsigned* size, unsigned long* oldCrc) {
  std::uint32_t reg = oldCrc ? static_cast<std::uint32_t>(*oldCrc) : 0;
  if (buffer && size) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(buffer);
    for (unsigned i = 0; i < *size; ++i) reg = crcTable[(p[i] ^ reg) & 0xFF] ^ (reg >> 8);
  }
  return reg;
}

}  // extern "C"
