// The time of every sample instant against the truth: the simulated device
// (a "SIM:" path) runs a clock off by some ppm, holds its messages back by a
// random delay with a stall every 2 s, and carries in each instant the
// microseconds of hostTime() at which it was due. The host feeds the time
// fit with each message's arrival and asks it the time of every instant it
// is handed; beside it, the error of stamping each instant with the arrival
// time of its message, and the bound of any fit that follows the lower edge
// of arrivals: the error of a line with the true times through the earliest
// arrival so far.
//
//   vexa_clock_bench [seconds per case = 12] [rates = 1000,10000] [jitters = 0,5,30]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "vexa/host_clock.h"
#include "vexa/signals_dev.h"
#include "vexa/tick_time_fit.h"
#include "vexa_sim/simulated_device.h"

namespace {

constexpr double kSettleSeconds = 5.0;
constexpr double kTarget = 1e-3;

class ClockedDev : public Vexa::SignalsDev {
 public:
  ClockedDev(const std::string& path, int ticksPerMessage, double seconds)
      : SignalsDev(path, vexa_sim::openSimulatedDevice(path)), ticksPerMessage_(ticksPerMessage), seconds_(seconds) {}

  bool onRawFrame(int tick, const int data[]) override {
    if (tick % ticksPerMessage_ == 0) {
      // A message's instants are handed over together: its arrival is now,
      // and it applies to its last instant.
      arrival_ = Vexa::hostTime();
      fit.addArrival(tick + ticksPerMessage_ - 1, arrival_);
    }
    const double fitted = fit.timeOf(tick);
    // The 32-bit microseconds of the due time, unwrapped next to now.
    const uint32_t micros = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 16;
    const int32_t age = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(arrival_ * 1e6)) - micros);
    const double truth = std::floor(arrival_ * 1e6 - age) * 1e-6 + 0.5e-6;  // the middle of its microsecond
    if (tick == 0) first_ = truth;
    if (tick % ticksPerMessage_ == ticksPerMessage_ - 1) earliest_ = std::min(earliest_, arrival_ - truth);
    since.push_back(truth - first_);
    edgeBound.push_back(earliest_);
    fitError.push_back(fitted - truth);
    arrivalError.push_back(arrival_ - truth);
    return truth - first_ >= seconds_;
  }

  Vexa::TickTimeFit fit;
  std::vector<double> since, fitError, arrivalError, edgeBound;

 private:
  int ticksPerMessage_;
  double seconds_;
  double arrival_ = 0;
  double first_ = 0;
  double earliest_ = 1e9;
};

struct Stats {
  double median = 0, p99 = 0, max = 0;
};

Stats stats(const std::vector<double>& since, const std::vector<double>& error) {
  std::vector<double> settled;
  for (size_t i = 0; i < error.size(); ++i) {
    if (since[i] >= kSettleSeconds) settled.push_back(std::abs(error[i]));
  }
  Stats s;
  if (settled.empty()) return s;
  std::sort(settled.begin(), settled.end());
  s.median = settled[settled.size() / 2];
  s.p99 = settled[std::min(settled.size() - 1, settled.size() * 99 / 100)];
  s.max = settled.back();
  return s;
}

// From the start until the error stays within the target for good.
double settleTime(const std::vector<double>& since, const std::vector<double>& error) {
  double last = 0;
  for (size_t i = 0; i < error.size(); ++i) {
    if (std::abs(error[i]) > kTarget) last = since[i];
  }
  return last;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 12.0;
  std::vector<int> rates;
  std::istringstream list(argc > 2 ? argv[2] : "1000,10000");
  for (std::string r; std::getline(list, r, ',');) rates.push_back(std::atoi(r.c_str()));
  std::vector<int> jitters;
  std::istringstream jitterList(argc > 3 ? argv[3] : "0,5,30");
  for (std::string j; std::getline(jitterList, j, ',');) jitters.push_back(std::atoi(j.c_str()));

  std::printf("| Rate | Jitter | Drift | Fit median | Fit p99 | Fit max | Within 1 ms after | "
              "Arrival median | Arrival p99 | Arrival max | Measured drift | Edge bound p99 |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  int missed = 0;
  for (int rate : rates) {
    // About 10 ms per message at 1 kHz; 63 four-byte instants fill a
    // short message at 10 kHz.
    const int ticksPerMessage = rate >= 10000 ? 63 : std::max(1, rate / 100);
    for (int jitter : jitters) {
      for (int ppm : {-200, 0, 200}) {
        std::ostringstream path;
        path << "SIM:current --clock-ppm " << ppm << " --jitter-ms " << jitter << " --pattern clock --ticks-per-frame "
             << ticksPerMessage << " --seed " << (rate + jitter + ppm + 1000);
        ClockedDev dev(path.str(), ticksPerMessage, seconds);
        dev.setTimeout(2000);
        dev.fit.start(rate);
        dev.start(static_cast<float>(rate), {{1, 1, 16, 0x3}});
        dev.loop();
        dev.stop();
        const Stats fit = stats(dev.since, dev.fitError);
        const Stats arrival = stats(dev.since, dev.arrivalError);
        const Stats bound = stats(dev.since, dev.edgeBound);
        if (fit.p99 >= kTarget) ++missed;
        std::printf("| %d Hz | %d ms | %+d ppm | %.0f us | %.0f us | %.0f us | %.1f s | %.1f ms | %.1f ms | %.1f ms | "
                    "%+.0f ppm | %.0f us |\n",
                    rate, jitter, ppm, fit.median * 1e6, fit.p99 * 1e6, fit.max * 1e6,
                    settleTime(dev.since, dev.fitError), arrival.median * 1e3, arrival.p99 * 1e3, arrival.max * 1e3,
                    dev.fit.health().driftPpm, bound.p99 * 1e6);
        std::fflush(stdout);
      }
    }
  }
  std::printf("\n%d case(s) missed the target (fit p99 under 1 ms after %.0f s)\n", missed, kSettleSeconds);
  return missed == 0 ? 0 : 1;
}
