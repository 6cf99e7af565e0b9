// The stream message reader: messages cut at any point, failed CRCs and the
// one-byte resynchronisation, commands waiting for their reply while other
// messages arrive, and the queue those leave behind.
#include "fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa_fuzz::FuzzInput in(data, size);
  vexa_fuzz::readMessages(in, false);
  return 0;
}
