// The implode library's three entries, over the decoder of package/explode
// and the encoder of tools/implode.  Nothing may throw across the C
// boundary: every entry catches what the C++ code below could raise.
#include "tools/impborl/impborl.h"

#include <new>

#include "base/crc32.h"
#include "package/explode.h"
#include "tools/implode/implode.h"

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
  try {
    return statusCode(explodeStream(read, write, param));
  } catch (...) {
    return kImpborlAbort;
  }
}

unsigned IMPBORL_CALL impborlImplode(ImpborlReadFn read, ImpborlWriteFn write, char* /*work*/, void* param,
                                     unsigned* type, unsigned* dsize) {
  if (!type || (*type != 0 && *type != 1)) return kImpborlInvalidMode;
  if (!dsize || (*dsize != 1024 && *dsize != 2048 && *dsize != 4096)) return kImpborlInvalidDictSize;
  if (!read || !write) return kImpborlAbort;
  ImplodeOptions opts;
  opts.literalMode = *type == 1 ? ImplodeLiteralMode::Ascii : ImplodeLiteralMode::Binary;
  opts.dictionary = static_cast<ImplodeDictionary>(*dsize);
  try {
    return implodeStream(read, write, param, opts) ? kImpborlOk : kImpborlAbort;
  } catch (...) {
    return kImpborlAbort;
  }
}

unsigned long IMPBORL_CALL impborlCrc32(char* buffer, unsigned* size, unsigned long* oldCrc) {
  std::uint32_t reg = oldCrc ? static_cast<std::uint32_t>(*oldCrc) : 0;
  if (buffer && size) crcUpdate(buffer, *size, reg);
  return reg;
}

}  // extern "C"
