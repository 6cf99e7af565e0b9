#include "check_steps.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "device.h"
#include "rate_meter.h"
#include "vexa/bdf_reader.h"
#include "vexa/host_clock.h"
#include "vexa/signals_dev.h"
#include "vexa/wire_trace.h"
#include "vexa_sim/simulated_device.h"

namespace vexa_cli {
namespace {

constexpr int kSilenceMs = 2000;  // a device quiet this long while it should talk has failed
constexpr double kMaxInterruptSeconds = 0.1;
constexpr double kRateTolerance = RateMeter::kRateTolerance;
// Slack for the first instants: the start's own timing on the host.
constexpr double kAheadSlackSeconds = 0.005;
// Instants later than this behind the host's clock: the link held them up.
constexpr double kMaxBehindSeconds = 1;
constexpr double kMinAcquireSeconds = 0.4, kMaxAcquireSeconds = 3;
// The longest any loop of the check runs.
constexpr double kLoopLimitSeconds = kMaxAcquireSeconds + 2;
// Instants an acquisition delivers before the check interrupts it.
constexpr int64_t kInstantsBeforeInterrupt = 20;

std::string describe(const Vexa::Exception& e) {
  return e.detail().empty() ? e.getDescription() : e.getDescription() + " (" + e.detail() + ")";
}

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

std::string hex4(int value) {
  char text[16];
  std::snprintf(text, sizeof text, " (0x%04X)", static_cast<unsigned>(value) & 0xFFFFu);
  return text;
}

std::string milliseconds(double seconds) { return format("%.1f ms", seconds * 1000); }

// One acquisition: sources on the current generation, one channel per port
// on the legacy families.
struct Setup {
  float rate = 0;
  std::vector<Vexa::Source> sources;
  std::vector<int> ports;
  int bits = 16;

  std::string name() const {
    std::ostringstream text;
    text << "acquire " << rate << " Hz ";
    std::vector<int> widths;
    if (!ports.empty()) {
      text << (ports.size() > 1 ? "ports " : "port ");
      for (size_t i = 0; i < ports.size(); ++i) text << (i ? "," : "") << ports[i];
      widths.push_back(bits);
    }
    for (const Vexa::Source& s : sources) {
      text << s.port << ":0x" << std::hex << s.chMask << std::dec;
      if (s.freqDivisor != 1) text << "/" << s.freqDivisor;
      text << " ";
      if (widths.empty() || widths.back() != s.nBits) widths.push_back(s.nBits);
    }
    if (ports.empty()) text.seekp(-1, std::ios_base::cur);  // the last blank
    text << " (";
    for (size_t i = 0; i < widths.size(); ++i) text << (i ? "/" : "") << widths[i];
    text << " bits)";
    return text.str();
  }
};

// What each family takes: a few rates and channel sets.
std::vector<Setup> setupsFor(Vexa::DeviceFamily family) {
  switch (family) {
    case Vexa::DeviceFamily::kOldest:  // every firmware takes the first
      return {{1000, {}, {1, 2, 3, 4, 5, 6, 7, 8}, 12}, {250, {}, {1, 2}, 8}, {500, {}, {3}, 12}};
    case Vexa::DeviceFamily::kCompactBoard:  // 1, 10, 100 or 1000 Hz on ports 1 to 6
      return {{1000, {}, {1, 2, 3, 4, 5, 6}, 16}, {100, {}, {1, 2}, 16}};
    default:
      return {{1000, {{1, 1, 16, 1}}, {}, 16},
              {2000, {{1, 1, 16, 0x3}, {2, 2, 8, 0x1}}, {}, 16},
              {250, {{1, 1, 16, 1}, {2, 1, 16, 1}, {3, 1, 16, 1}, {4, 1, 16, 1}}, {}, 16}};
  }
}

// The recording's own rate and channels: one source per port, in the
// order the recording first names each.
Setup recordedSetup(const Vexa::RecordingInfo& recording) {
  Setup setup;
  setup.rate = static_cast<float>(recording.baseFrequency);
  for (const Vexa::RecordedChannel& c : recording.channels) {
    Vexa::Source* source = nullptr;
    for (Vexa::Source& s : setup.sources) source = s.port == c.port ? &s : source;
    if (!source) source = &setup.sources.emplace_back(Vexa::Source{c.port, c.freqDivisor, c.nBits, 0});
    source->chMask |= 1 << c.channel;
  }
  return setup;
}

class CheckDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  enum class End { kNone, kMeasured, kInterrupted, kSilent, kDisconnected };

  // Before each loop: the meter that gets every instant (none: the
  // instants are only counted).
  void prepare(RateMeter* meter) {
    meter_ = meter;
    end = End::kNone;
    instants = 0;
    deadline_ = Vexa::hostTime() + kLoopLimitSeconds;
  }

  bool onRawFrame(int, const int[]) override {
    instants.fetch_add(1);
    const double now = Vexa::hostTime();
    // A streaming device never lets the loop time out: the deadline ends
    // an unmeasured loop should nothing else (a meter has its own).
    if (!meter_ && now > deadline_) return finish(End::kNone);
    return meter_ && meter_->add(deliveredTick(), now) && finish(End::kMeasured);
  }
  bool onEvent(const Vexa::Event& ev) override {
    if (ev.type != Vexa::Event::kDisconnect) return false;
    disconnectReason = static_cast<const Vexa::Events::Disconnect&>(ev).reason;
    return finish(End::kDisconnected);
  }
  bool onTimeout() override { return finish(End::kSilent); }
  bool onInterrupt(void*) override {
    interruptTaken = Vexa::hostTime();
    return finish(End::kInterrupted);
  }

  End end = End::kNone;
  int disconnectReason = 0;
  double interruptTaken = 0;
  std::atomic<int64_t> instants{0};

 private:
  bool finish(End how) {
    end = how;
    return true;
  }
  RateMeter* meter_ = nullptr;
  double deadline_ = 0;
};

// Calls interrupt() from a thread of its own once ready() holds, again
// while the loop is busy with a message, until the call is taken or the
// loop has ended. Joined before the device is used otherwise.
class Interrupter {
 public:
  Interrupter(CheckDev& dev, std::function<bool()> ready)
      : thread_([this, &dev, ready = std::move(ready)] { run(dev, ready); }) {}
  ~Interrupter() { finish(); }
  Interrupter(const Interrupter&) = delete;
  Interrupter& operator=(const Interrupter&) = delete;

  void finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // After finish(): when the taken call was made, NaN if none was.
  double askedAt() const { return askedAt_; }
  const std::string& failure() const { return failure_; }

 private:
  void run(CheckDev& dev, const std::function<bool()>& ready) {
    for (; !done_; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
      if (!ready()) continue;
      const double now = Vexa::hostTime();
      try {
        dev.interrupt(nullptr);
        askedAt_ = now;
        return;
      } catch (const Vexa::Error::InvalidOperation&) {
        // The loop handles a message or does not wait yet: try again.
      } catch (const Vexa::Exception& e) {
        failure_ = describe(e);
        return;
      }
    }
  }

  std::atomic<bool> done_{false};
  double askedAt_ = std::numeric_limits<double>::quiet_NaN();
  std::string failure_;
  std::thread thread_;  // last: runs once the rest is set
};

void start(CheckDev& dev, const Setup& setup) {
  if (setup.ports.empty()) return dev.start(setup.rate, setup.sources);
  dev.start(setup.rate, setup.ports, setup.bits);
}

// Runs the loop until a callback ends it; a failure of the library's ends
// it too and is returned.
std::string runLoop(CheckDev& dev) {
  try {
    dev.loop();
    return "";
  } catch (const Vexa::Exception& e) {
    return describe(e);
  }
}

// Stops what still runs; "" or why that failed.
std::string stopAcquisition(CheckDev& dev) {
  if (dev.channelCount() == 0) return "";
  try {
    dev.stop();
    return "";
  } catch (const Vexa::Exception& e) {
    return "the stop failed: " + describe(e);
  }
}

std::string endText(const CheckDev& dev) {
  switch (dev.end) {
    case CheckDev::End::kSilent:
      return "no data for " + std::to_string(kSilenceMs / 1000) + " s";
    case CheckDev::End::kDisconnected:
      return "the device ended the acquisition (disconnect, reason " + std::to_string(dev.disconnectReason) + ")";
    default:
      return "";
  }
}

class Checker {
 public:
  Checker(std::string path, std::string tracePath, CheckReport& report)
      : path_(std::move(path)), tracePath_(std::move(tracePath)), report_(report) {}

  void run() {
    runSteps();
    // The last link closes first, so the trace holds everything it carried.
    dev_.reset();
    if (trace_) {
      try {
        trace_->stop();
      } catch (const Vexa::Exception& e) {
        report_.traceFailure = e.detail().empty() ? e.getDescription() : e.detail();
      }
    }
  }

 private:
  void runSteps() {
    if (!connectStep()) return;
    step("identify", [this](CheckStep& s) { identify(s); });
    step("battery", [this](CheckStep& s) { battery(s); });
    std::vector<Setup> setups = setupsFor(dev_->family());
    const std::optional<Vexa::RecordingInfo> recording = replayedRecording(path_);
    const std::optional<Setup> own = recording ? std::optional<Setup>(recordedSetup(*recording)) : std::nullopt;
    replay_ = own.has_value();
    for (const Setup& setup : setups) {
      if (own) {
        report_.steps.push_back({setup.name(), StepResult::kNotApplicable, "",
                                 "a replayed recording takes only its own rate and channels"});
      } else {
        step(setup.name(), [&](CheckStep& s) { acquire(setup, s); });
      }
    }
    if (own) step(own->name(), [&](CheckStep& s) { acquire(*own, s); });
    step("interrupt while idle", [this](CheckStep& s) { interruptIdle(s); });
    step("interrupt while acquiring", [&](CheckStep& s) { interruptAcquiring(own ? *own : setups.front(), s); });
    step("reconnect", [this](CheckStep& s) { reconnect(s); });
  }

  // The device at path_; with a trace file, the first link creates the
  // trace and the reconnect's link writes on in the same file.
  std::unique_ptr<CheckDev> open() {
    if (tracePath_.empty()) return connect<CheckDev>(path_);
    std::unique_ptr<Vexa::IO> io = openLink(path_, trace_ ? "" : tracePath_);
    if (trace_) {
      io->attachTrace(trace_);
    } else {
      trace_ = io->trace();
    }
    return std::make_unique<CheckDev>(path_, std::move(io));
  }

  // Runs one step; whatever it throws fails it, nothing ends the check.
  void step(const std::string& name, const std::function<void(CheckStep&)>& body) {
    CheckStep s{name, StepResult::kPass, "", ""};
    try {
      if (!dev_) throw std::runtime_error("the device is not connected");
      body(s);
    } catch (const Vexa::Exception& e) {
      fail(s, describe(e));
    } catch (const std::exception& e) {
      fail(s, e.what());
    }
    report_.steps.push_back(s);
  }

  static void fail(CheckStep& s, const std::string& why) {
    s.result = StepResult::kFail;
    s.detail = s.detail.empty() ? why : s.detail + "; " + why;
  }

  // Connects, timing the whole of opening and handshake; false when the
  // device cannot be used.
  bool connectStep() {
    CheckStep s{"connect", StepResult::kPass, "", ""};
    try {
      const double began = Vexa::hostTime();
      dev_ = open();
      s.figure = milliseconds(Vexa::hostTime() - began);
      s.detail = "link opened and version handshake answered";
      dev_->setTimeout(kSilenceMs);
    } catch (const Vexa::Exception& e) {
      report_.unusable = describe(e);
    } catch (const std::exception& e) {
      report_.unusable = e.what();
    }
    if (!report_.unusable.empty()) fail(s, report_.unusable);
    report_.steps.push_back(s);
    return dev_ != nullptr;
  }

  void identify(CheckStep& s) {
    Vexa::Properties p = dev_->getProperties();
    const int product = p["productID"].asInt();
    s.figure = p["description"].asString() + ", product " + std::to_string(product) +
               hex4(product) + ", firmware " +
               versionText(p["fwVersion"].asInt());
    std::string detail;
    if (p.count("hwVersion")) detail += "hardware " + versionText(p["hwVersion"].asInt());
    if (p.count("uid")) detail += (detail.empty() ? "" : ", ") + ("uid " + p["uid"].asString());
    if (p.count("color")) detail += (detail.empty() ? "" : ", ") + ("colour " + std::to_string(p["color"].asInt()));
    static const char* const kProtocols[] = {"ASCII commands", "framed messages", "framed messages",
                                             "single-byte commands", "framed messages"};
    const int family = static_cast<int>(dev_->family());
    s.detail = detail + (detail.empty() ? "" : ", ") + "family " + std::to_string(family) + ", " +
               kProtocols[family >= 0 && family <= 4 ? family : 1];
  }

  void battery(CheckStep& s) {
    try {
      const float percent = dev_->getBattery();
      s.figure = percent < 0 ? "no reading" : std::to_string(std::lround(percent)) + " %";
    } catch (const Vexa::Error::NotSupported&) {
      s.result = StepResult::kNotApplicable;
      s.detail = "this device reports no battery";
    }
  }

  void acquire(const Setup& setup, CheckStep& s) {
    RateMeter meter(setup.rate, kMinAcquireSeconds, kMaxAcquireSeconds);
    dev_->prepare(&meter);
    meter.begin(Vexa::hostTime());
    try {
      start(*dev_, setup);
    } catch (const Vexa::Error::InvalidParameter& e) {
      s.result = StepResult::kNotApplicable;
      s.detail = "this device does not take this set-up: " + describe(e);
      return;
    }
    const std::string failure = runLoop(*dev_);
    const std::string stopped = stopAcquisition(*dev_);
    const RateMeter::Estimate e = meter.estimate();
    const double drift = e.known ? e.rate / setup.rate - 1 : 0;
    s.figure = std::to_string(meter.lostTicks()) + " ticks lost";
    if (e.known) s.figure += format(", %.2f Hz (drift %+.0f ppm)", e.rate, drift * 1e6);
    s.detail = std::to_string(meter.instants()) + " instants in " + format("%.2f s", meter.seconds()) + ", " +
               std::to_string(meter.jumps()) + " sequence jumps";
    s.detail += format(", up to %.1f ms late", meter.behindSeconds() * 1000);
    if (e.known) s.detail += format(", jitter %.1f ms, rate known to %.0f ppm", e.jitter * 1000, e.uncertainty * 1e6);
    const bool recordingEnded = dev_->end == CheckDev::End::kDisconnected && replay_;
    if (recordingEnded) s.detail += ", the recording ended";
    if (!failure.empty()) fail(s, failure);
    if (!recordingEnded && !endText(*dev_).empty()) fail(s, endText(*dev_));
    if (!stopped.empty()) fail(s, stopped);
    if (meter.lostTicks() > 0 || meter.jumps() > 0) fail(s, "every tick must arrive, in order");
    if (meter.aheadSeconds() > kAheadSlackSeconds) {
      fail(s, format("instants came %.3f s of signal ahead of the host's clock: more than the rate gives",
                     meter.aheadSeconds()));
    }
    if (meter.behindSeconds() > kMaxBehindSeconds) {
      fail(s, format("instants came up to %.1f s late", meter.behindSeconds()));
    }
    if (!e.known) {
      fail(s, "too few messages to measure the rate");
    } else if (std::abs(drift) - e.uncertainty > kRateTolerance) {
      fail(s, format("the rate is off by %.2f %%, more than %.1f %%", drift * 100, kRateTolerance * 100));
    }
  }

  // Interrupts the loop once ready() holds; the latency is the time from
  // the taken call to onInterrupt().
  void interrupt(CheckStep& s, std::function<bool()> ready) {
    Interrupter interrupter(*dev_, std::move(ready));
    const std::string failure = runLoop(*dev_);
    interrupter.finish();
    const std::string stopped = stopAcquisition(*dev_);
    if (dev_->end == CheckDev::End::kInterrupted) {
      const double latency = dev_->interruptTaken - interrupter.askedAt();
      s.figure = milliseconds(latency);
      if (!(latency < kMaxInterruptSeconds)) fail(s, "more than " + milliseconds(kMaxInterruptSeconds));
    } else {
      fail(s, "the loop was not interrupted");
    }
    if (!interrupter.failure().empty()) fail(s, interrupter.failure());
    if (!failure.empty()) fail(s, failure);
    if (!endText(*dev_).empty()) fail(s, endText(*dev_));
    if (!stopped.empty()) fail(s, stopped);
  }

  void interruptIdle(CheckStep& s) {
    dev_->prepare(nullptr);
    interrupt(s, [] { return true; });
  }

  void interruptAcquiring(const Setup& setup, CheckStep& s) {
    dev_->prepare(nullptr);
    start(*dev_, setup);
    CheckDev& dev = *dev_;
    interrupt(s, [&dev] { return dev.instants.load() >= kInstantsBeforeInterrupt; });
  }

  void reconnect(CheckStep& s) {
    Vexa::Properties before = dev_->getProperties();
    dev_.reset();  // closes the link
    const double began = Vexa::hostTime();
    dev_ = open();
    s.figure = milliseconds(Vexa::hostTime() - began);
    Vexa::Properties after = dev_->getProperties();
    for (const char* key : {"description", "productID", "fwVersion", "uid"}) {
      if (!(before[key] == after[key])) {
        fail(s, std::string("the device answers with another ") + key);
      }
    }
  }

  const std::string path_;
  const std::string tracePath_;
  std::shared_ptr<Vexa::WireTrace> trace_;
  CheckReport& report_;
  std::unique_ptr<CheckDev> dev_;
  bool replay_ = false;  // the device plays a recording, which ends with a disconnect
};

}  // namespace

void runCheck(const std::string& path, const std::string& tracePath, CheckReport& report) {
  Checker(path, tracePath, report).run();
}

}  // namespace vexa_cli
