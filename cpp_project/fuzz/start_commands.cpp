// Start commands built from arbitrary source and port lists on every
// product kind, with acknowledgements, refusals or silence from the device.
#include "fuzz_io.h"

using namespace vexa_fuzz;

namespace {

// Any value, but the interesting ones often.
int32_t pick(FuzzInput& in) {
  static const int32_t kEdges[] = {0, 1, -1, 8, 16, 24, 63, 64, 255, 256, 0xFFFF, 0x10000, INT32_MIN, INT32_MAX};
  const uint8_t c = in.front();
  return c < 14 * 16 ? kEdges[c % 14] : in.front32();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  static const uint16_t kProducts[] = {0x0201, 0x0205, 0x0215, 0x0216, 0x021E, 0x020A, 0x0502, 0x0801};
  CurrentAnswers answers;
  const uint8_t mode = in.front();
  answers.productId = kProducts[mode & 7];
  answers.fwVersion = (mode & 8) ? 0x0307 : 0x0306;
  answers.replyCode = (mode >> 4) & 1;
  FuzzIO* io = nullptr;
  auto dev = connectCurrent(in, false, answers, &io);
  if (mode & 0x20) io->onSend = nullptr;  // a silent device
  Vexa::SignalsX& sig = *dev->impl()->sigX;
  for (int round = 0; round < 4 && in.left() > 0; ++round) {
    const float freq = static_cast<float>(pick(in)) / 4;
    const size_t n = in.front() % 40;
    std::vector<Vexa::Source> sources;
    std::vector<int> ports;
    for (size_t i = 0; i < n; ++i) {
      sources.push_back(Vexa::Source{pick(in), pick(in), pick(in), pick(in)});
      ports.push_back(sources.back().port);
    }
    io->sent.clear();
    const bool byPorts = in.back() & 1;
    bool started = false;
    guarded([&] {
      byPorts ? dev->start(freq, ports, sources.empty() ? 8 : sources[0].nBits) : dev->start(freq, sources);
      started = true;
    });
    if (started) {
      // The command went out framed, 22 + 8 or 9 bytes per source, and the
      // decoding state matches the list.
      const size_t entry = io->sent.size() >= 5 ? io->sent[3] : 0;
      const size_t count = byPorts ? ports.size() : sources.size();
      if (io->sent.size() != 2 + 22 + (entry == 2 ? 9 : 8) * count + 1) std::abort();
      if (static_cast<size_t>(sig.nSources) != count || sig.samples.size() != static_cast<size_t>(sig.totalChannels))
        std::abort();
    }
    if (in.back() & 1) guarded([&] { dev->stop(); });
  }
  return 0;
}
