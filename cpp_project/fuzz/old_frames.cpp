// The oldest family: its CRC-8 frames (both start forms, 8 and 12 bits),
// input changes, and the search for the version banner after a stop or an
// interrupt while idle.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.front();
  const bool zStart = mode & 1;  // the oldest firmware: one fixed start
  const int mask = zStart ? 255 : std::max<int>(1, in.front());
  const int nBits = zStart || (mode & 2) ? 12 : 8;
  FuzzIO* io = nullptr;
  auto dev = connectLegacy(in, zStart ? "Cadrium EMG v.1.5\n" : "Cadrium 2 v.3.1\n", false, &io);
  legacySession(in, *dev, *io, [&] { dev->impl()->sigX->startOld(1000.0f, mask, nBits); });
  return 0;
}
