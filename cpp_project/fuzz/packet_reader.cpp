// The packet message reader of BLE links: packets of 1 to 20 bytes, one-
// and two-byte codes, commands waiting for their reply among them, and the
// dispatch of each.
#include "fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa_fuzz::FuzzInput in(data, size);
  vexa_fuzz::readMessages(in, true);
  return 0;
}
