// libFuzzer entry point of the signed-installer harness (see harnesses.h).
#include "tests/fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  return fuzzPeSigning(data, size);
}
