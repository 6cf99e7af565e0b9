// Recording while acquiring: a simulated device streams 8 sources x 8 16-bit
// channels on a pseudo-terminal at the simulator's highest rate, read by the
// serial transport; every instant goes through the Recorder into a BDF+
// file. Reports lost ticks, the loop's latency (frame written by the
// simulator to the callback of its first tick) with and without recording,
// and the writer's own throughput on instants handed over all at once.
//
//   vexa_record_bench [seconds=10] [rate=100000] [dir=/tmp]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "timed_link.h"
#include "vexa/recorder.h"
#include "vexa/signals_dev.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/engine.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 64;

class BenchDev : public Vexa::SignalsDev {
 public:
  BenchDev(const std::string& path, vexa_bench::WriteTimes& times, Vexa::Recorder* recorder)
      : SignalsDev(path), times_(times), recorder_(recorder) {}
  bool onRawFrame(int nSeq, const int data[]) override {
    if (ticks_ > 0) lost_ += nSeq - last_ - 1;
    last_ = nSeq;
    ++ticks_;
    if (recorder_) recorder_->addInstant(nSeq, data, kChannels);
    Clock::time_point written;
    const auto now = Clock::now();
    if (times_.take(nSeq, written)) latencies_.push_back(std::chrono::duration<double, std::micro>(now - written).count());
    return now >= end_;
  }
  Clock::time_point end_;
  int64_t ticks_ = 0, lost_ = 0;
  int last_ = -1;
  std::vector<double> latencies_;

 private:
  vexa_bench::WriteTimes& times_;
  Vexa::Recorder* recorder_;
};

Vexa::RecordingInfo describe(double rate) {
  Vexa::RecordingInfo info;
  info.deviceType = "tessarimodular";
  info.productId = 517;
  info.firmware = "3.4";
  info.path = "bench";
  info.start = Vexa::RecordingStart::now();
  info.baseFrequency = rate;
  for (int p = 0; p < 8; ++p) {
    for (int c = 0; c < 8; ++c) info.channels.push_back({p, c, 1, 16});
  }
  return info;
}

struct Loop {
  double ticksPerSecond;
  int64_t lost;
  double medianUs, p99Us;
  Vexa::RecorderCounters counters;
};

Loop acquire(double rate, double seconds, const std::string& file) {
  vexa_bench::WriteTimes times;
  auto pty = std::make_unique<vexa_sim::PtyLink>();
  const std::string path = pty->comPath();
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 517;
  vexa_sim::Engine engine(std::make_unique<vexa_bench::TimedLink>(std::move(pty), times),
                          std::make_unique<vexa_sim::CurrentDeviceModel>(config));
  std::unique_ptr<Vexa::Recorder> recorder;
  if (!file.empty()) recorder = std::make_unique<Vexa::Recorder>(file, describe(rate));
  BenchDev dev(path, times, recorder.get());
  dev.setTimeout(2000);
  std::vector<Vexa::Source> sources;
  for (int p = 0; p < 8; ++p) sources.push_back({p, 1, 16, 0xFF});
  dev.start(static_cast<float>(rate), sources);
  const auto began = Clock::now();
  dev.end_ = began + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  dev.loop();
  const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
  dev.stop();
  Loop r{dev.ticks_ / elapsed, dev.lost_, 0, 0, {}};
  if (recorder) {
    recorder->close();
    r.counters = recorder->counters();
  }
  vexa_bench::summarise(dev.latencies_, r.medianUs, r.p99Us);
  return r;
}

// The writer alone: n instants handed over at once (the ring holds them
// all), timed until close() has written the last of them.
void writer(double rate, const std::string& file, int64_t n) {
  std::vector<int32_t> samples(kChannels);
  const auto began = Clock::now();
  Vexa::Recorder recorder(file, describe(rate), static_cast<size_t>(n));
  for (int64_t t = 0; t < n; ++t) {
    for (int c = 0; c < kChannels; ++c) samples[c] = static_cast<int32_t>((t * 31 + c * 977) & 0xFFFF);
    recorder.addInstant(t, samples.data(), kChannels);
  }
  recorder.close();
  const double s = std::chrono::duration<double>(Clock::now() - began).count();
  const Vexa::RecorderCounters c = recorder.counters();
  std::printf("writer alone: %lld instants in %.2f s: %.0f instants/s, %.1f MB/s of BDF+ (%llu dropped)\n",
              static_cast<long long>(c.instantsWritten), s, c.instantsWritten / s, c.bytesWritten / s / 1e6,
              static_cast<unsigned long long>(c.droppedInstants));
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const double rate = argc > 2 ? std::atof(argv[2]) : 100000.0;
  const std::string dir = argc > 3 ? argv[3] : "/tmp";
  const std::string file = dir + "/vexa_record_bench_" + std::to_string(getpid()) + ".bdf";
  std::printf("%.0f Hz, 8 x 8 channels 16-bit, %.0f s per run\n", rate, seconds);
  std::printf("%-18s %12s %8s %12s %12s %14s %12s\n", "run", "ticks/s", "lost", "median us", "p99 us", "written", "MB/s");
  for (const bool recording : {false, true}) {
    const Loop r = acquire(rate, seconds, recording ? file : "");
    std::printf("%-18s %12.0f %8lld %12.1f %12.1f %14llu %12.1f\n", recording ? "with recording" : "without recording",
                r.ticksPerSecond, static_cast<long long>(r.lost), r.medianUs, r.p99Us,
                static_cast<unsigned long long>(r.counters.instantsWritten), r.counters.bytesWritten / seconds / 1e6);
    if (recording && (r.counters.droppedInstants > 0 || r.counters.lostTicks > 0)) {
      std::printf("  recorder: %llu dropped, %llu lost\n", static_cast<unsigned long long>(r.counters.droppedInstants),
                  static_cast<unsigned long long>(r.counters.lostTicks));
    }
  }
  writer(rate, file, static_cast<int64_t>(rate * 2));
  std::remove(file.c_str());
  return 0;
}
