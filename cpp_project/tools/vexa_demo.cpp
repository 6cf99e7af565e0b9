// vexa-demo: the main use of the plug-in, through its exported C interface
// exactly as a Unity script drives it. It connects to a device (by default a
// simulated one on a pseudo-terminal), starts an acquisition, runs the loop
// on a worker thread, prints a live summary, interrupts, stops and
// disconnects.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_sim/quillbox_model.h"
#include "vexa_sim/sample_pattern.h"
#include "vexa_unity_interface.h"

namespace {

struct Options {
  std::string port;             // empty: a simulated device
  std::string family = "current";
  double seconds = 3.0;
  int rate = 1000;
  bool logFile = false;
};

// What the handlers saw; written on the loop's thread, read by main.
struct Totals {
  std::atomic<long long> ticks{0}, samples{0}, lost{0}, wrongSamples{0};
  std::atomic<int> lastTick{-1};
  std::atomic<int> failures{0};
  bool checkPattern = false;
} totals;

FILE* console = stdout;

void onFrame(int nSeq, const int* samples, int nChannels) {
  const int last = totals.lastTick.exchange(nSeq);
  if (last >= 0 && nSeq > last + 1) totals.lost += nSeq - last - 1;
  ++totals.ticks;
  totals.samples += nChannels;
  // The simulated current device streams ports 1..8, channel 0, 16 bits.
  if (totals.checkPattern) {
    for (int c = 0; c < nChannels; ++c) {
      if (samples[c] != vexa_sim::samplePattern(nSeq, c, 0, 16)) ++totals.wrongSamples;
    }
  }
}

void onException(int code, const char* message) {
  ++totals.failures;
  std::fprintf(console, "  failure %d: %s\n", code, message);
}

void onDisconnect(int reason) { std::fprintf(console, "  device disconnected (reason %d)\n", reason); }
void onDigIn(int, int clockValue, int input, bool state) {
  std::fprintf(console, "  digital input %d -> %d at tick %d\n", input, state ? 1 : 0, clockValue);
}

void usage(FILE* out) {
  std::fprintf(out,
               "usage: vexa-demo [--family current|cadrium|quillbox] [--seconds N] [--rate HZ]\n"
               "                 [--port PATH] [--log-file]\n"
               "  --family    which simulated device to play (default current)\n"
               "  --port      a real device's path (e.g. COM/dev/ttyUSB0) instead\n"
               "  --log-file  send the library's log to vexa_logs_file.txt\n");
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--port" && hasValue) {
      o.port = argv[++i];
    } else if (a == "--family" && hasValue) {
      o.family = argv[++i];
      if (o.family != "current" && o.family != "cadrium" && o.family != "quillbox") return false;
    } else if (a == "--seconds" && hasValue) {
      o.seconds = std::atof(argv[++i]);
    } else if (a == "--rate" && hasValue) {
      o.rate = std::atoi(argv[++i]);
    } else if (a == "--log-file") {
      o.logFile = true;
    } else {
      return false;
    }
  }
  return o.seconds > 0;
}

std::unique_ptr<vexa_sim::PtySimulator> simulate(const std::string& family) {
  std::unique_ptr<vexa_sim::DeviceModel> model;
  if (family == "cadrium") {
    model = std::make_unique<vexa_sim::CadriumModel>();
  } else if (family == "quillbox") {
    model = std::make_unique<vexa_sim::QuillboxModel>();
  } else {
    model = std::make_unique<vexa_sim::CurrentDeviceModel>();
  }
  return std::make_unique<vexa_sim::PtySimulator>(std::move(model));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    usage(stdout);
    return 0;
  }
  if (!parse(argc, argv, options)) {
    usage(stderr);
    return 2;
  }

  std::unique_ptr<vexa_sim::PtySimulator> simulator;
  if (options.port.empty()) {
    simulator = simulate(options.family);
    options.port = simulator->comPath();
    std::printf("Simulated %s device on %s\n", options.family.c_str(), options.port.c_str());
  }
  if (options.logFile) {
    // The summary stays on the terminal; the library's log goes to the file.
    console = fdopen(dup(STDOUT_FILENO), "w");
    setvbuf(console, nullptr, _IOLBF, 0);
    WelcomeFunction();
  }

  SetOnExceptionRaisedHandler(onException);
  SetOnRawDataHandler(onFrame);
  SetOnEventDetectedHandlers(onDisconnect, onDigIn);

  VexaDevUnity(options.port.c_str());
  if (totals.failures > 0) return 1;
  std::fprintf(console, "Connected: %s, product %d, battery %d %%\n", GetDeviceType(), GetProductId(), GetBattery());

  // Eight ports, one channel each, on current devices; all the channels a
  // legacy device offers otherwise.
  const bool current = options.family == "current";
  totals.checkPattern = simulator && current;
  if (options.family == "quillbox") {
    StartAcquisition(options.rate, "111111", 16);
  } else {
    StartAcquisition(options.rate, "11111111", current ? 16 : 12);
  }
  if (totals.failures > 0) return 1;
  std::fprintf(console, "Acquiring %d channels at %d Hz for %.1f s\n", GetNbrChannels(), options.rate, options.seconds);

  std::thread loop([] { StartLoop(); });
  const auto began = std::chrono::steady_clock::now();
  long long lastTicks = 0;
  auto lastReport = began;
  while (std::chrono::steady_clock::now() - began < std::chrono::duration<double>(options.seconds)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto now = std::chrono::steady_clock::now();
    const long long ticks = totals.ticks;
    const double rate = (ticks - lastTicks) / std::chrono::duration<double>(now - lastReport).count();
    std::fprintf(console, "  %7.0f ticks/s  %9lld samples  %lld lost ticks\n", rate, totals.samples.load(),
                 totals.lost.load());
    lastTicks = ticks;
    lastReport = now;
  }
  InterruptAcquisition();
  loop.join();
  StopAcquisition();
  std::fprintf(console, "Stopped: %lld ticks, %lld samples, %lld lost ticks", totals.ticks.load(),
               totals.samples.load(), totals.lost.load());
  if (totals.checkPattern) std::fprintf(console, ", %lld samples off the pattern", totals.wrongSamples.load());
  std::fprintf(console, "; battery %d %%\n", GetBattery());
  DisconnectVexaDevUnity();
  const bool clean = totals.failures == 0 && totals.lost == 0 && totals.wrongSamples == 0 && totals.ticks > 0;
  return clean ? 0 : 1;
}
