// Latency probes shared by the end-to-end benchmarks: the simulator's
// pseudo-terminal notes when it writes each data frame, so that the host's
// callback of the frame's first tick can measure how long it took.
#ifndef VEXA_BENCH_TIMED_LINK_H_
#define VEXA_BENCH_TIMED_LINK_H_

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "vexa_sim/pty_link.h"

namespace vexa_bench {

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

// The median and 99th percentile of latencies, sorting them in place; 0 for
// none.
inline void summarise(std::vector<double>& latencies, double& medianUs, double& p99Us) {
  medianUs = p99Us = 0;
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  medianUs = latencies[latencies.size() / 2];
  p99Us = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
}

}  // namespace vexa_bench

#endif  // VEXA_BENCH_TIMED_LINK_H_
