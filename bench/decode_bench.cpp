// Decoding throughput of SignalsX::dispatchFrames for representative source
// layouts, beside a memcpy of the same payload bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "signals/signals_x.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/in_process_simulator.h"

namespace {

using Vexa::SourceLayout;

class SinkDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  using BaseDev::impl;
  bool onRawFrame(int nSeq, const int data[]) override {
    benchmark::DoNotOptimize(data[0]);
    return false;
  }
};

struct Layout {
  const char* name;
  std::vector<SourceLayout> sources;
  int ticksPerFrame;
};

const Layout kLayouts[] = {
    {"one 16-bit channel", {{1, 16, 1}}, 100},
    {"8 sources x 8 16-bit channels", std::vector<SourceLayout>(8, SourceLayout{1, 16, 8}), 8},
    {"mixed divisors 1/2/4/8, 16-bit x 4", {{1, 16, 4}, {2, 16, 4}, {4, 16, 4}, {8, 16, 4}}, 64},
    {"8 24-bit channels", {{1, 24, 8}}, 40},
};

// Bytes and samples one frame of ticksPerFrame ticks carries from tick 0.
void frameSize(const Layout& l, size_t& bytes, size_t& samples) {
  bytes = samples = 0;
  for (int t = 0; t < l.ticksPerFrame; ++t) {
    for (const SourceLayout& s : l.sources) {
      if (t % s.divisor != 0) continue;
      bytes += static_cast<size_t>(s.nBits / 8 * s.nChannels);
      samples += static_cast<size_t>(s.nChannels);
    }
  }
}

void BM_DispatchFrames(benchmark::State& state) {
  const Layout& layout = kLayouts[state.range(0)];
  vexa_sim::InProcessSimulator sim(std::make_unique<vexa_sim::CurrentDeviceModel>());
  SinkDev dev("COMbench", sim.takeHostIo());
  Vexa::SignalsX& sig = *dev.impl()->sigX;
  sig.setUp(layout.sources);

  size_t bytes, samples;
  frameSize(layout, bytes, samples);
  std::vector<uint8_t> payload(bytes);
  for (size_t i = 0; i < bytes; ++i) payload[i] = static_cast<uint8_t>(i * 31);
  for (auto _ : state) {
    // Each frame continues where the last ended: ticksPerFrame is a multiple
    // of every divisor, so the next frame starts on a sampled tick.
    sig.dispatchFrames(static_cast<uint16_t>(sig.counter & 0x7FFF), payload.data(), static_cast<uint16_t>(bytes));
  }
  state.SetLabel(layout.name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["samples/s"] = benchmark::Counter(static_cast<double>(state.iterations() * samples), benchmark::Counter::kIsRate);
  state.counters["ticks/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * layout.ticksPerFrame), benchmark::Counter::kIsRate);
}

void BM_MemcpySamePayload(benchmark::State& state) {
  const Layout& layout = kLayouts[state.range(0)];
  size_t bytes, samples;
  frameSize(layout, bytes, samples);
  std::vector<uint8_t> payload(bytes, 0x5A), out(bytes);
  for (auto _ : state) {
    std::memcpy(out.data(), payload.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetLabel(layout.name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_DispatchFrames)->DenseRange(0, 3);
BENCHMARK(BM_MemcpySamePayload)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();
