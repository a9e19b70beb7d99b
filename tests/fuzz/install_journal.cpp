// libFuzzer entry point of the install journal harness (see harnesses.h).
#include "tests/fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  return fuzzInstallJournal(data, size);
}
