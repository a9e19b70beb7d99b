// libFuzzer entry point of the Flash version text harness (see harnesses.h).
#include "tests/fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  return fuzzFlashVersion(data, size);
}
