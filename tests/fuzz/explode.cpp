// libFuzzer entry point of the implode decoder harness (see harnesses.h).
#include "tests/fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  return fuzzExplode(data, size);
}
