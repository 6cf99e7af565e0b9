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

namespace {

using Clock = std::chrono::steady_clock;

// When each frame left the simulator, in the order they were written.
class WriteTimes {
 public:
  void record(uint16_t seq, Clock::time_point t) {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back({seq, t});
  }
  // The write time of the frame that starts at this tick, if one does; the
  // frames come in order, so anything older at the front is dropped.
  bool take(int tick, Clock::time_point& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!frames_.empty()) {
      const int behind = (tick - frames_.front().seq) & 0x7FFF;
      if (behind == 0) {
        t = frames_.front().written;
        frames_.pop_front();
        return true;
      }
      if (behind > 0x4000) return false;  // the front frame is still ahead
      frames_.pop_front();
    }
    return false;
  }

 private:
  struct Frame {
    uint16_t seq;
    Clock::time_point written;
  };
  std::mutex mutex_;
  std::deque<Frame> frames_;
};

// The simulator's pseudo-terminal, noting the time each frame is written.
class TimedLink : public vexa_sim::Link {
 public:
  TimedLink(std::unique_ptr<vexa_sim::PtyLink> pty, WriteTimes& times) : pty_(std::move(pty)), times_(times) {}
  int read(uint8_t* buf, int len, std::chrono::milliseconds timeout) override { return pty_->read(buf, len, timeout); }
  void wakeReader() override { pty_->wakeReader(); }
  void write(const uint8_t* data, size_t len) override {
    pty_->write(data, len);
    const auto now = Clock::now();
    // Whole messages are written at once: walk their headers.
    for (size_t i = 0; i < len;) {
      const bool twoByteCode = data[i] >= 0x80;
      const size_t header = twoByteCode ? 3 : 2;
      if (i + header > len) break;
      size_t length = data[i + header - 1];
      size_t extra = 0;
      if (length == 0xFF && i + header + 2 <= len) {
        length = data[i + header] | data[i + header + 1] << 8;
        extra = 2;
      }
      if (twoByteCode) times_.record(static_cast<uint16_t>((data[i] << 8 | data[i + 1]) & 0x7FFF), now);
      i += header + extra + length + 1;
    }
  }

 private:
  std::unique_ptr<vexa_sim::PtyLink> pty_;
  WriteTimes& times_;
};

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
  std::vector<double>& l = dev.latencies_;
  if (!l.empty()) {
    std::sort(l.begin(), l.end());
    r.medianUs = l[l.size() / 2];
    r.p99Us = l[std::min(l.size() - 1, l.size() * 99 / 100)];
  }
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
