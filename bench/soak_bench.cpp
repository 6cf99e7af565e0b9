// Soak: what a Unity game does with the plug-in, over and over, through its
// exported functions. A simulated device streams 64 16-bit channels at the
// highest rate the simulator sustains, on a pseudo-terminal read by the real
// serial transport. The acquisition is interrupted from another thread and
// resumed, stopped and started again; the battery is queried while idle;
// stray bytes are put on the line before data frames. Every tick is checked
// against the simulator's pattern, and resident memory and open descriptors
// are sampled once per interval.
//
//   vexa_soak_bench [seconds=600] [rate=100000] [seed=1]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "soak_probe.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_sim/sample_pattern.h"
#include "vexa_unity_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using vexa_sim::CurrentDeviceModel;

constexpr int kSources = 8;  // eight ports of eight 16-bit channels
constexpr int kChannelsPerSource = 8;
constexpr int kChannels = kSources * kChannelsPerSource;
// Ticks on either side of an injection where a lost tick or a failed loop is
// put down to the stray bytes rather than counted as a fault.
constexpr int64_t kStraySlack = 2;
constexpr milliseconds kAwait{5000};

// Counters of the whole run; the loop thread writes the tick ones.
struct Totals {
  std::atomic<int64_t> ticks{0}, lost{0}, strayLost{0}, badTicks{0};
  std::atomic<int64_t> restarts{0}, interrupts{0}, idleInterrupts{0}, batteryQueries{0}, batteryBad{0};
  std::atomic<int64_t> strayInjections{0}, strayFailures{0}, failures{0};
};
Totals totals;

// The running acquisition as the loop thread sees it.
struct Acquisition {
  std::mutex mutex;                   // guards strayTicks
  std::vector<int64_t> strayTicks;    // first tick of each frame hit
  int64_t last = -1;                  // last tick delivered (loop thread)
  std::atomic<int64_t> delivered{0};  // ticks since the last loop entry
};
Acquisition acq;

bool strayNear(int64_t from, int64_t to) {
  std::lock_guard<std::mutex> lock(acq.mutex);
  return std::any_of(acq.strayTicks.begin(), acq.strayTicks.end(),
                     [&](int64_t t) { return t >= from - kStraySlack && t <= to + kStraySlack; });
}
// Stray bytes the loop never read through, left for the stop to meet.
bool strayAfterLastTick() { return strayNear(acq.last, INT64_MAX - kStraySlack); }

void onRawData(int nSeq, const int* samples, int nChannels) {
  const int64_t tick = nSeq;
  if (tick != acq.last + 1) {
    if (tick <= acq.last) {
      ++totals.badTicks;  // repeated or going backwards
    } else {
      (strayNear(acq.last + 1, tick) ? totals.strayLost : totals.lost) += tick - acq.last - 1;
    }
  }
  acq.last = std::max(acq.last, tick);
  bool good = nChannels == kChannels;
  for (int s = 0; good && s < kSources; ++s) {
    for (int ch = 0; ch < kChannelsPerSource; ++ch) {
      if (samples[s * kChannelsPerSource + ch] != vexa_sim::samplePattern(tick, s, ch, 16)) {
        good = false;
        break;
      }
    }
  }
  if (!good) ++totals.badTicks;
  ++totals.ticks;
  ++acq.delivered;
}

// How the last StartLoop ended, besides an interrupt.
std::atomic<int> loopExceptions{0}, loopDisconnects{0};
std::mutex messageMutex;
std::string firstException;

void onException(int, const char* message) {
  ++loopExceptions;

  std::lock_guard<std::mutex> lock(messageMutex);
  if (firstException.empty() && message != nullptr) firstException = message;
}
void onDisconnect(int) { ++loopDisconnects; }

// Runs StartLoop on its own thread, again after every interrupt, until it is
// asked to end or the loop ends any other way (a failure).
class LoopThread {
 public:
  LoopThread() : thread_([this] { run(); }) {}
  ~LoopThread() { thread_.join(); }

  // Interrupts the loop and waits for StartLoop to return; last: the loop is
  // not entered again. While acquiring, it first waits for a tick, so the
  // loop surely runs and the interrupt lands once. Idle, an interrupt sent
  // before the loop is entered finds nothing to wake and is dropped, so it
  // is repeated until StartLoop returns. False if the loop had ended by
  // failure or did not return.
  bool interrupt(bool acquiring, bool last) {
    const auto deadline = Clock::now() + kAwait;
    while (acquiring && acq.delivered == 0 && !finished() && Clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (finished_) return false;
    last_ = last;
    const int64_t seen = returns_;
    auto returned = [&] { return returns_ != seen || finished_; };
    do {
      lock.unlock();
      InterruptAcquisition();
      lock.lock();
    } while (!returned_.wait_for(lock, acquiring ? kAwait : milliseconds(20), returned) && !acquiring);
    return returns_ != seen && !failed_;
  }
  bool finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
  }
  bool failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }

 private:
  void run() {
    for (;;) {
      const int exceptions = loopExceptions, disconnects = loopDisconnects;
      StartLoop();
      std::lock_guard<std::mutex> lock(mutex_);
      ++returns_;
      acq.delivered = 0;
      failed_ = loopExceptions != exceptions || loopDisconnects != disconnects;
      finished_ = failed_ || last_;
      returned_.notify_all();
      if (finished_) return;
    }
  }

  std::mutex mutex_;
  std::condition_variable returned_;
  int64_t returns_ = 0;
  bool last_ = false, finished_ = false, failed_ = false;
  std::thread thread_;  // last: starts once the rest exists
};

int ms(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

class Soak {
 public:
  Soak(std::FILE* out, double seconds, int rate, unsigned seed)
      : sim_(std::make_unique<CurrentDeviceModel>(config())),
        rate_(rate),
        rng_(seed),
        duration_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))),
        table_(out, std::max(1.0, seconds / 20)) {
    for (int p = 1; p <= kSources; ++p) sources_.push_back({p, 1, 16, 0xFF});
  }

  const std::string comPath() const { return sim_.comPath(); }

  void run() {
    began_ = Clock::now();
    end_ = began_ + duration_;
    sample(false);
    for (bool first = true; Clock::now() < end_; first = false) {
      if (!start()) break;
      if (!first) ++totals.restarts;
      const bool tainted = acquire();
      StopAcquisition();
      idle(tainted);
      sample(false);
    }
    sample(true);
  }

  double cleanTicksPerSecond() const { return cleanSeconds_ > 0 ? cleanTicks_ / cleanSeconds_ : 0; }
  double acquiringSeconds() const { return acquiringSeconds_; }
  int battery() const { return battery_; }
  const vexa_bench::SoakTable& table() const { return table_; }

 private:
  static vexa_sim::CurrentDeviceConfig config() {
    vexa_sim::CurrentDeviceConfig c;
    c.productId = 517;
    return c;
  }

  void sample(bool now) {
    const auto t = Clock::now() - began_;
    if (now) {
      table_.sampleNow(t, totals.ticks, totals.lost, totals.strayLost, totals.restarts, totals.interrupts,
                       totals.batteryQueries);
    } else {
      table_.sampleIfDue(t, totals.ticks, totals.lost, totals.strayLost, totals.restarts, totals.interrupts,
                         totals.batteryQueries);
    }
  }

  // A stop that met stray bytes may have failed with them: a host stops
  // again before its next start.
  bool start() {
    {
      std::lock_guard<std::mutex> lock(acq.mutex);
      acq.strayTicks.clear();
    }
    acq.last = -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const int exceptions = loopExceptions;
      StartAcquisitionBySources(rate_, sources_.data(), kSources);
      if (loopExceptions == exceptions) return true;
      StopAcquisition();
    }
    ++totals.failures;
    return false;
  }

  // Acquires for one to four seconds, interrupting and resuming the loop
  // and putting stray bytes on the line now and then. True when stray bytes
  // ended the loop or were left for the stop to read through.
  bool acquire() {
    const auto began = Clock::now();
    const auto end = std::min(end_, began + milliseconds(ms(rng_, 1000, 4000)));
    auto nextInterrupt = began + milliseconds(ms(rng_, 50, 250));
    auto nextStray = began + milliseconds(ms(rng_, 100, 600));
    const int64_t ticksBefore = totals.ticks;
    LoopThread loop;
    for (auto now = began; now < end && !loop.finished(); now = Clock::now()) {
      std::this_thread::sleep_until(std::min({nextInterrupt, nextStray, end}));
      now = Clock::now();
      if (now >= nextStray) {
        injectStrayBytes();
        nextStray = now + milliseconds(ms(rng_, 100, 600));
      }
      if (now >= nextInterrupt && now < end) {
        if (loop.interrupt(true, false)) ++totals.interrupts;
        nextInterrupt = Clock::now() + milliseconds(ms(rng_, 50, 250));
      }
      sample(false);
    }
    if (loop.interrupt(true, true)) ++totals.interrupts;
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    acquiringSeconds_ += seconds;
    if (!loop.failed()) {
      cleanTicks_ += static_cast<double>(totals.ticks - ticksBefore);
      cleanSeconds_ += seconds;
      return strayAfterLastTick();
    }
    // A failed loop next to stray bytes is the noise's doing; the device is
    // stopped and started again as any host would.
    ++(strayNear(acq.last, acq.last) ? totals.strayFailures : totals.failures);
    return true;
  }

  // Bytes a noisy line might carry: one to eight of any value.
  void injectStrayBytes() {
    std::vector<uint8_t> bytes(ms(rng_, 1, 8));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng_());
    // One tick per frame: the frame hit starts at the ticks sent so far.
    sim_.engine().with<CurrentDeviceModel>([&](CurrentDeviceModel& m) {
      m.injectStrayBytes(bytes);
      std::lock_guard<std::mutex> lock(acq.mutex);
      acq.strayTicks.push_back(m.ticksSent());
    });
    ++totals.strayInjections;
  }

  // Battery queries, then a loop interrupted while idle. After a tainted
  // acquisition, the stop may have queued what the noise looked like.
  void idle(bool tainted) {
    for (int n = ms(rng_, 1, 3); n > 0; --n) {
      const int b = GetBattery();
      if (battery_ == -2) battery_ = b;
      if (b < 0 || b != battery_) ++totals.batteryBad;
      ++totals.batteryQueries;
    }
    LoopThread loop;
    if (loop.interrupt(false, true)) {
      ++totals.idleInterrupts;
    } else {
      ++(tainted ? totals.strayFailures : totals.failures);
    }
  }

  vexa_sim::PtySimulator sim_;
  std::vector<VexaSource> sources_;
  const int rate_;
  std::mt19937 rng_;
  const Clock::duration duration_;
  Clock::time_point began_, end_;
  vexa_bench::SoakTable table_;
  double acquiringSeconds_ = 0, cleanTicks_ = 0, cleanSeconds_ = 0;
  int battery_ = -2;
};

long long ll(int64_t v) { return static_cast<long long>(v); }

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 100000;
  const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1u;
  if (!(seconds > 0) || rate <= 0) {
    std::fprintf(stderr, "usage: vexa_soak_bench [seconds=600] [rate=100000] [seed=1]\n");
    return 2;
  }
  // The plug-in logs on standard output; the figures go to the original one.
  std::fflush(stdout);
  std::FILE* out = fdopen(dup(STDOUT_FILENO), "w");
  if (out == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 1;

  SetOnRawDataHandler(onRawData);
  SetOnExceptionRaisedHandler(onException);
  SetOnEventDetectedHandlers(onDisconnect, nullptr);
  Soak soak(out, seconds, rate, seed);
  VexaDevUnity(soak.comPath().c_str());
  if (loopExceptions != 0) {
    std::fprintf(stderr, "cannot connect to %s: %s\n", soak.comPath().c_str(), firstException.c_str());
    return 1;
  }
  const auto began = Clock::now();
  soak.run();
  DisconnectVexaDevUnity();
  const int fdsDisconnected = vexa_bench::openDescriptors();

  const vexa_bench::SoakTable& table = soak.table();
  std::fprintf(out, "\n%.0f s at %d Hz x %d channels 16-bit: %.0f s acquiring, %.0f ticks/s in loops not ended by noise\n",
               std::chrono::duration<double>(Clock::now() - began).count(), rate, kChannels, soak.acquiringSeconds(),
               soak.cleanTicksPerSecond());
  table.printSummary();
  std::fprintf(out, "fds after disconnecting: %d\n", fdsDisconnected);
  std::fprintf(out, "ticks %lld, lost %lld, lost next to stray bytes %lld, bad %lld\n", ll(totals.ticks),
               ll(totals.lost), ll(totals.strayLost), ll(totals.badTicks));
  std::fprintf(out, "restarts %lld, interrupts %lld while acquiring + %lld idle, battery queries %lld (%d %%, %lld wrong)\n",
               ll(totals.restarts), ll(totals.interrupts), ll(totals.idleInterrupts), ll(totals.batteryQueries),
               soak.battery(), ll(totals.batteryBad));
  std::fprintf(out, "stray injections %lld, loops they ended %lld, other failures %lld, reports %d%s%s\n",
               ll(totals.strayInjections), ll(totals.strayFailures), ll(totals.failures), loopExceptions.load(),
               firstException.empty() ? "" : ", first: ", firstException.c_str());
  const bool clean = totals.lost == 0 && totals.badTicks == 0 && totals.failures == 0 && totals.batteryBad == 0 &&
                     table.fdsEnd() <= table.fdsStart() && fdsDisconnected < table.fdsStart();
  return clean ? 0 : 1;
}
