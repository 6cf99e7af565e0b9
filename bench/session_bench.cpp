// Several devices at once through the plug-in's sessions: four simulated
// devices in process and one on a pseudo-terminal (read by the real serial
// transport), each at 10 kHz x 16 channels with a clock error of its own,
// every session's loop on the library's threads, all read by one thread
// once per 16 ms frame as a game would. Reports per device the ticks lost,
// the time error of its instants against the truth the clock pattern
// carries (channels 0 and 1: the microseconds of the host time each instant
// was due), and for the whole run the CPU time and the allocations of the
// read path.
//
//   vexa_session_bench [seconds=60] [rate=10000]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vexa/host_clock.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_unity_interface.h"

namespace {

// Allocations made by the reading thread while it is inside a read.
thread_local bool inRead = false;
thread_local int64_t readAllocations = 0;

constexpr int kChannels = 16;
constexpr int kBlock = 4096;
constexpr double kSettleSeconds = 5.0;

struct Stream {
  Stream(std::string path, double ppm) : path(std::move(path)), ppm(ppm) {}
  std::string path;
  double ppm = 0;
  int session = 0;
  int64_t next = -1;  // the tick expected next
  int64_t instants = 0, lost = 0;
  double firstTruth = NAN;
  std::vector<double> errors;  // after the settling time
};

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The due time an instant's two clock channels carry, unwrapped next to now.
double truthOf(const int* samples, double now) {
  const uint32_t micros = static_cast<uint32_t>(samples[0]) | static_cast<uint32_t>(samples[1]) << 16;
  const int32_t age = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(now * 1e6)) - micros);
  return std::floor(now * 1e6 - age) * 1e-6 + 0.5e-6;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(v.size() * p))];
}

int openOrDie(const std::string& path) {
  const int session = VexaExtOpen(path.c_str());
  if (session <= 0) {
    std::fprintf(stderr, "cannot open %s: %d %s\n", path.c_str(), session, VexaExtGetLastErrorDetail());
    std::exit(1);
  }
  return session;
}

}  // namespace

void* operator new(size_t size) {
  if (inRead) ++readAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 10000;

  vexa_sim::CurrentDeviceConfig ptyConfig;
  ptyConfig.clockPpm = 120;
  ptyConfig.signal = vexa_sim::SignalKind::kClock;
  vexa_sim::PtySimulator pty(std::make_unique<vexa_sim::CurrentDeviceModel>(ptyConfig));

  std::vector<Stream> streams;
  for (double ppm : {-200.0, -50.0, 75.0, 200.0}) {
    streams.emplace_back("SIM:current --clock-ppm " + std::to_string(static_cast<int>(ppm)) + " --pattern clock", ppm);
  }
  streams.emplace_back(pty.comPath(), ptyConfig.clockPpm);

  // Ports 1 and 2, every tick, eight 16-bit channels each.
  const VexaSource sources[] = {{1, 1, 16, 0xFF}, {2, 1, 16, 0xFF}};
  for (Stream& s : streams) s.session = openOrDie(s.path);
  // Started one after the other, then all running: the loops start last so
  // that no device waits for another's start.
  for (Stream& s : streams) {
    if (VexaExtStartBySources(s.session, rate, sources, 2) != 0 || VexaExtRun(s.session) != 0) {
      std::fprintf(stderr, "cannot start %s: %s\n", s.path.c_str(), VexaExtGetLastErrorDetail());
      return 1;
    }
  }

  std::vector<long long> ticks(kBlock);
  std::vector<double> times(kBlock);
  std::vector<int> samples(kBlock * kChannels);
  const double cpuBefore = processCpuSeconds();
  const double begin = Vexa::hostTime();
  auto frame = std::chrono::steady_clock::now();
  int64_t reads = 0;
  while (Vexa::hostTime() - begin < seconds) {
    frame += std::chrono::microseconds(16667);
    std::this_thread::sleep_until(frame);
    for (Stream& s : streams) {
      for (;;) {
        int channels = 0, acquisition = 0;
        inRead = true;
        const int n = VexaExtReadBlock(s.session, ticks.data(), times.data(), kBlock, samples.data(),
                                       static_cast<int>(samples.size()), &channels, &acquisition);
        inRead = false;
        ++reads;
        if (n < 0) {
          std::fprintf(stderr, "read of %s failed: %d %s\n", s.path.c_str(), n, VexaExtGetLastErrorDetail());
          return 1;
        }
        const double now = Vexa::hostTime();
        for (int i = 0; i < n; ++i) {
          if (s.next >= 0 && ticks[i] != s.next) s.lost += ticks[i] - s.next;
          s.next = ticks[i] + 1;
          const double truth = truthOf(&samples[i * channels], now);
          if (std::isnan(s.firstTruth)) s.firstTruth = truth;
          if (truth - s.firstTruth >= kSettleSeconds) s.errors.push_back(std::abs(times[i] - truth));
        }
        s.instants += n;
        if (n < kBlock) break;
      }
    }
  }
  const double cpu = processCpuSeconds() - cpuBefore;
  for (Stream& s : streams) VexaExtClose(s.session);

  std::printf("| Device | Clock error | Instants | Ticks lost | Time error median | p99 | max |\n|---|---|---|---|---|---|---|\n");
  int missed = 0;
  for (const Stream& s : streams) {
    const double p99 = percentile(s.errors, 0.99);
    if (s.lost != 0 || !(p99 < 1e-3)) ++missed;
    std::printf("| %s | %+.0f ppm | %lld | %lld | %.0f us | %.0f us | %.0f us |\n", s.path.c_str(), s.ppm,
                static_cast<long long>(s.instants), static_cast<long long>(s.lost), percentile(s.errors, 0.5) * 1e6,
                p99 * 1e6, percentile(s.errors, 1.0) * 1e6);
  }
  std::printf("\nCPU %.2f s of %.0f s for %zu devices (%.1f%% of one core per device); %lld reads, %lld allocations "
              "while reading\n",
              cpu, seconds, streams.size(), 100.0 * cpu / seconds / streams.size(), static_cast<long long>(reads),
              static_cast<long long>(readAllocations));
  return missed == 0 && readAllocations == 0 ? 0 : 1;
}
