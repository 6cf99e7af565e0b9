// The compact board: CRC-4 frames found again after lost bytes, on byte
// streams and on BLE packets (frames split across packets, time-outs in the
// middle), the state reply, and the version banner after a stop or an
// interrupt while idle.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.front();
  const bool packets = mode & 1;
  static const float kRates[] = {1.0f, 10.0f, 100.0f, 1000.0f};
  const float rate = kRates[(mode >> 1) & 3];
  const int mask = 1 + in.front() % 63;
  FuzzIO* io = nullptr;
  // Revision 5 and later: the first revision's one-second pauses would
  // only slow the search down.
  auto dev = connectLegacy(in, packets ? "Quillbox_v5.1" : "Quillbox_v5.1\n", packets, &io);
  legacySession(in, *dev, *io, [&] { dev->impl()->sigX->startBit(rate, mask, 8); });
  return 0;
}
