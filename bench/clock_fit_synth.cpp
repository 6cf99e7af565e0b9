// The time fit alone, on synthetic arrivals shaped like the simulator's:
// a device clock off by some ppm, a message every M ticks (10 at 1 kHz, 63
// at 10 kHz) ready when its last instant is due, released after a floor
// plus a uniform delay of 0 to J ms, never before the message ahead of it,
// and every 2 s held for J ms and released at once. Each case runs over
// many seeds in seconds, so an idea for the fit is scored without the
// simulator; the simulator's own run is vexa_clock_bench. Other shapes of
// delay show what the fit assumes: "tail" draws it from an exponential of
// mean J/4 (no longest delay), "growing" lets the uniform one's bound grow
// by 0.5 % of itself each second.
//
//   vexa_clock_fit_synth [seconds per run = 12] [seeds = 20] [rates = 1000,10000] [jitters = 0,5,30] [shape = uniform]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "vexa/tick_time_fit.h"

namespace {

constexpr double kSettleSeconds = 5.0;
constexpr double kTarget = 1e-3;
constexpr double kFloor = 0.1e-3;  // the link's shortest delay
constexpr double kWakeup = 0.05e-3;  // the host's wake-up, on top of it
constexpr double kStallPeriod = 2.0;

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  double uniform() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 11) * 0x1.0p-53;
  }

 private:
  uint64_t state_;
};

struct Run {
  // oracle: the error of a line with the device clock's true slope through
  // the earliest arrival so far, the best a lower edge can give.
  double oracleP99 = 0;
  double p99 = 0, max = 0, settle = 0, drift2s = 0, driftEnd = 0;
};

enum class Shape { kUniform, kTail, kGrowing };

Run runOnce(int rate, double jitter, double ppm, double seconds, uint64_t seed, Shape shape) {
  const int ticksPerMessage = rate >= 10000 ? 63 : std::max(1, rate / 100);
  const double secondsPerTick = 1.0 / (rate * (1 + ppm * 1e-6));
  const double t0 = 50.0 + 0.37 * static_cast<double>(seed);
  Random random(seed);
  Vexa::TickTimeFit fit;
  fit.start(rate);
  std::vector<double> settled, oracle;
  double earliest = std::numeric_limits<double>::infinity();
  double lastRelease = 0;
  Run run;
  bool drift2sTaken = false;
  for (int64_t first = 0;; first += ticksPerMessage) {
    const int64_t last = first + ticksPerMessage - 1;
    const double ready = t0 + static_cast<double>(last) * secondsPerTick;
    if (ready - t0 > seconds) break;
    double delay = jitter * random.uniform();
    if (shape == Shape::kTail) delay = -jitter / 4 * std::log(1 - random.uniform());
    if (shape == Shape::kGrowing) delay *= 1 + 0.005 * (ready - t0);
    double release = std::max(lastRelease, ready + delay);
    const double sinceStart = release - t0;
    const double stallStart = t0 + std::floor(sinceStart / kStallPeriod) * kStallPeriod;
    if (sinceStart >= kStallPeriod && release < stallStart + jitter) release = stallStart + jitter;
    lastRelease = release;
    const double arrival = release + kFloor + kWakeup * random.uniform();
    fit.addArrival(last, arrival);
    earliest = std::min(earliest, arrival - ready);
    if (!drift2sTaken && arrival - t0 >= 2.0) {
      drift2sTaken = true;
      run.drift2s = fit.health().driftPpm;
    }
    for (int64_t tick = first; tick <= last; ++tick) {
      const double truth = t0 + static_cast<double>(tick) * secondsPerTick;
      const double error = std::abs(fit.timeOf(tick) - truth);
      if (error > kTarget) run.settle = truth - t0;
      if (truth - t0 >= kSettleSeconds) {
        settled.push_back(error);
        oracle.push_back(earliest);
      }
    }
  }
  std::sort(settled.begin(), settled.end());
  run.p99 = settled[settled.size() * 99 / 100];
  run.max = settled.back();
  std::sort(oracle.begin(), oracle.end());
  run.oracleP99 = oracle[oracle.size() * 99 / 100];
  run.driftEnd = fit.health().driftPpm;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 12.0;
  const int seeds = argc > 2 ? std::atoi(argv[2]) : 20;
  std::vector<int> rates;
  std::istringstream list(argc > 3 ? argv[3] : "1000,10000");
  for (std::string r; std::getline(list, r, ',');) rates.push_back(std::atoi(r.c_str()));
  std::vector<int> jitters;
  std::istringstream jitterList(argc > 4 ? argv[4] : "0,5,30");
  for (std::string j; std::getline(jitterList, j, ',');) jitters.push_back(std::atoi(j.c_str()));
  const std::string shapeName = argc > 5 ? argv[5] : "uniform";
  const Shape shape = shapeName == "tail" ? Shape::kTail : shapeName == "growing" ? Shape::kGrowing : Shape::kUniform;

  std::printf("| Rate | Jitter | Drift | p99 median | p99 worst | max worst | Runs met | Within 1 ms after (median) | "
              "Drift at 2 s (runs shown, worst) | Drift at end (worst) | Edge-bound p99 median, worst |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  int met = 0, runs = 0;
  for (int rate : rates) {
    for (int jitter : jitters) {
      for (int ppm : {-200, 0, 200}) {
        std::vector<Run> all;
        for (int seed = 1; seed <= seeds; ++seed) all.push_back(runOnce(rate, jitter * 1e-3, ppm, seconds, seed, shape));
        std::vector<double> p99s, settles, oracles;
        double worstMax = 0, worstDrift2s = ppm, worstDriftEnd = ppm;
        int drift2sShown = 0;
        int caseMet = 0;
        for (const Run& r : all) {
          p99s.push_back(r.p99);
          oracles.push_back(r.oracleP99);
          settles.push_back(r.settle);
          worstMax = std::max(worstMax, r.max);
          // 0 is the fit saying it has no measure yet.
          if (r.drift2s != 0) ++drift2sShown;
          if (r.drift2s != 0 && std::abs(r.drift2s - ppm) > std::abs(worstDrift2s - ppm)) worstDrift2s = r.drift2s;
          if (std::abs(r.driftEnd - ppm) > std::abs(worstDriftEnd - ppm)) worstDriftEnd = r.driftEnd;
          if (r.p99 < kTarget) ++caseMet;
        }
        std::sort(p99s.begin(), p99s.end());
        std::sort(settles.begin(), settles.end());
        std::sort(oracles.begin(), oracles.end());
        met += caseMet;
        runs += seeds;
        std::printf("| %d Hz | %d ms | %+d ppm | %.0f us | %.0f us | %.0f us | %d/%d | %.1f s | %d, %+.0f ppm | %+.0f ppm | %.0f us, %.0f us |\n",
                    rate, jitter, ppm, p99s[p99s.size() / 2] * 1e6, p99s.back() * 1e6, worstMax * 1e6, caseMet, seeds,
                    settles[settles.size() / 2], drift2sShown, worstDrift2s, worstDriftEnd,
                    oracles[oracles.size() / 2] * 1e6, oracles.back() * 1e6);
        std::fflush(stdout);
      }
    }
  }
  std::printf("\n%d of %d runs met the target (p99 under 1 ms after %.0f s)\n", met, runs, kSettleSeconds);
  return 0;
}
