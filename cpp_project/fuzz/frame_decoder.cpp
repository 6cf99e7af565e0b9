// The frame decoder of current devices: a source layout built from the
// input through the real start, then data frames with any sequence number
// and payload; callbacks may end the loop or stop the acquisition while a
// frame is decoded.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto dev = connectCurrent(in, false);  // product 517: every width and mask
  Vexa::BaseDev::X& x = *dev->impl();
  std::vector<Vexa::Source> sources;
  const int n = 1 + in.front() % 6;
  static const int kWidths[] = {8, 16, 24};
  for (int i = 0; i < n; ++i) {
    const uint8_t divisor = in.front();
    const uint8_t bits = in.front();
    sources.push_back(Vexa::Source{i, 1 + divisor % 17, kWidths[bits % 3], in.front16()});
  }
  bool started = false;
  guarded([&] {
    dev->start(500.0f, sources);
    started = true;
  });
  if (!started) return 0;
  dev->onFrame = [&] { guarded([&] { dev->stop(); }); };
  while (in.left() > 0) {
    const uint16_t seq = in.front16() & 0x7FFF;
    const Bytes payload = in.frontBytes(in.front());
    guarded([&] {
      if (x.dispatchMsg(static_cast<uint16_t>(seq | 0x8000), payload.data(), static_cast<uint16_t>(payload.size()))) {
        x.dispatchPending();
      }
    });
  }
  return 0;
}
