// End-to-end: a simulated device on a pseudo-terminal streams through the
// serial transport, the message reader and the decoder to onRawFrame. Reports
// samples per second delivered, ticks lost, and the latency from the
// simulator's write of each frame to the callback of its first tick.
//
//   vexa_e2e_bench [seconds]
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "signals/signals_x.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/engine.h"
#include "vexa_sim/pty_link.h"
#include "timed_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using vexa_bench::TimedLink;
using vexa_bench::WriteTimes;

class MeasuringDev : public Vexa::SignalsDev {
 public:
  MeasuringDev(const std::string& path, WriteTimes& times) : SignalsDev(path), times_(times) {}
  using BaseDev::impl;
  bool onRawFrame(int nSeq, const int data[]) override {
    if (ticks_ > 0 && nSeq != last_ + 1) lost_ += nSeq - last_ - 1;
    last_ = nSeq;
    ++ticks_;
    samples_ += impl()->sigX->totalChannels;
    // With every divisor 1, a frame's sequence number is its first tick.
    Clock::time_point written;
    const auto now = Clock::now();
    if (times_.take(nSeq, written)) {
      latencies_.push_back(std::chrono::duration<double, std::micro>(now - written).count());
    }
    return now >= end_;
  }

  Clock::time_point end_;
  int64_t ticks_ = 0, lost_ = 0, samples_ = 0;
  int last_ = -1;
  std::vector<double> latencies_;

 private:
  WriteTimes& times_;
};

struct Result {
  double samplesPerSecond, ticksPerSecond;
  int64_t lost;
  double medianUs, p99Us;
};

Result run(float freq, const std::vector<Vexa::Source>& sources, double seconds) {
  WriteTimes times;
  auto pty = std::make_unique<vexa_sim::PtyLink>();
  const std::string path = pty->comPath();
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 517;
  vexa_sim::Engine engine(std::make_unique<TimedLink>(std::move(pty), times),
                          std::make_unique<vexa_sim::CurrentDeviceModel>(config));
  MeasuringDev dev(path, times);
  dev.setTimeout(2000);
  dev.start(freq, sources);
  const auto began = Clock::now();
  dev.end_ = began + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  dev.loop();
  const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
  dev.stop();

  Result r{};
  r.samplesPerSecond = dev.samples_ / elapsed;
  r.ticksPerSecond = dev.ticks_ / elapsed;
  r.lost = dev.lost_;
  vexa_bench::summarise(dev.latencies_, r.medianUs, r.p99Us);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  struct Case {
    const char* name;
    float freq;
    std::vector<Vexa::Source> sources;
  } cases[] = {
      {"1000 Hz, 8 channels 16-bit", 1000.0f, {{1, 1, 16, 0xFF}}},
      {"20000 Hz, 8 x 8 channels 16-bit", 20000.0f, std::vector<Vexa::Source>{}},
      {"80000 Hz, 8 x 8 channels 16-bit", 80000.0f, std::vector<Vexa::Source>{}},
  };
  for (int p = 0; p < 8; ++p) {
    cases[1].sources.push_back({p, 1, 16, 0xFF});
    cases[2].sources.push_back({p, 1, 16, 0xFF});
  }
  std::printf("%-34s %14s %12s %6s %12s %12s\n", "run", "samples/s", "ticks/s", "lost", "median us", "p99 us");
  for (const Case& c : cases) {
    Result r = run(c.freq, c.sources, seconds);
    std::printf("%-34s %14.0f %12.0f %6lld %12.1f %12.1f\n", c.name, r.samplesPerSecond, r.ticksPerSecond,
                static_cast<long long>(r.lost), r.medianUs, r.p99Us);
  }
  return 0;
}
