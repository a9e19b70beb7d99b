// libFuzzer entry point of the implode encoder round trip harness (see harnesses.h).
#include "tests/fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  return fuzzImplodeRoundtrip(data, size);
}
