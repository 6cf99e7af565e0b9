// vexa record PATH --rate HZ --channels TEXT [--bits N] [--seconds S] -o FILE:
// acquires into a BDF+ or CSV file with a live progress line on standard
// error. SIGINT or SIGTERM ends the acquisition; the file is finished
// cleanly either way.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "device.h"
#include "recording_dev.h"

namespace vexa_cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSilenceMs = 2000;  // a device quiet for this long has failed

struct Options {
  std::string path, channels, output;
  double rate = 0;
  int bits = 16;
  double seconds = 0;  // 0: until stopped
};

// One character per port from port 1; "1" acquires it, anything else skips.
std::vector<int> portsOf(const std::string& text) {
  std::vector<int> ports;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '1') ports.push_back(static_cast<int>(i) + 1);
  }
  return ports;
}

Vexa::RecordingInfo describe(RecordingDev& dev, const Options& o) {
  Vexa::Properties p = dev.getProperties();
  Vexa::RecordingInfo info;
  info.deviceType = p["description"].asString();
  info.productId = p["productID"].asInt();
  info.firmware = versionText(p["fwVersion"].asInt());
  info.path = o.path;
  info.start = Vexa::RecordingStart::now();
  info.baseFrequency = o.rate;
  for (int port : portsOf(o.channels)) info.channels.push_back({port, 0, 1, o.bits});
  return info;
}

// The live line: rewritten in place on a terminal, one line a second
// otherwise (a log or a pipe).
class Progress {
 public:
  Progress() : terminal_(isatty(STDERR_FILENO) == 1), began_(Clock::now()) {}

  void show(const RecordingDev& dev, const Vexa::Recorder& recorder, bool force = false) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - began_).count();
    if (!force && !terminal_ && elapsed < nextLine_) return;
    nextLine_ = std::floor(elapsed) + 1;
    const Vexa::RecorderCounters c = recorder.counters();
    char line[160];
    std::snprintf(line, sizeof line, "recording %.1f s  %lld instants  %llu lost ticks  %.1f KiB", elapsed,
                  static_cast<long long>(dev.instants.load()), static_cast<unsigned long long>(c.lostTicks),
                  static_cast<double>(c.bytesWritten) / 1024);
    std::fprintf(stderr, terminal_ ? "\r%-72s" : "%s\n", line);
    std::fflush(stderr);
  }
  void end() {
    if (terminal_) std::fputc('\n', stderr);
  }

 private:
  bool terminal_;
  Clock::time_point began_;
  double nextLine_ = 1;
};

// Runs the loop on a thread of its own while this one shows progress and
// waits for a stop signal (blocked by the caller in every thread).
void acquire(RecordingDev& dev, Vexa::Recorder& recorder, const sigset_t& stopSignals,
             std::exception_ptr& failure) {
  std::atomic<bool> done{false};
  std::thread loop([&] {
    try {
      dev.loop();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
  });
  Progress progress;
  bool stopping = false, interrupted = false;
  while (!done) {
    const long waitNs = stopping ? 10'000'000 : 250'000'000;
    const timespec wait{0, waitNs};
    if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
      stopping = true;
      dev.stopRequested = true;  // a streaming device's next instant ends the loop
    }
    if (stopping && !interrupted && !done) {
      // An idle device sends no instant: wake the loop. Refused while the
      // loop handles a message; tried again shortly.
      try {
        dev.interrupt(nullptr);
        interrupted = true;
      } catch (const Vexa::Exception&) {
      }
    }
    progress.show(dev, recorder);
  }
  loop.join();
  progress.show(dev, recorder, true);
  progress.end();
}

int run(const Options& o) {
  // Blocked before any thread starts, so that every thread inherits it and
  // the signal waits for acquire() instead of killing the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<RecordingDev> dev;
  std::unique_ptr<Vexa::Recorder> recorder;
  try {
    dev = connect<RecordingDev>(o.path);
  } catch (const Vexa::Exception& e) {
    return reportFailure("record", e);
  }
  try {
    recorder = std::make_unique<Vexa::Recorder>(o.output, describe(*dev, o));
  } catch (const Vexa::Exception& e) {
    std::cerr << "vexa record: cannot record into " << o.output << ": the file cannot be created, or the format "
              << "cannot hold " << o.rate << " Hz with " << o.bits << "-bit samples (" << e.getDescription()
              << ")\n";
    return kFailure;
  }
  try {
    dev->setTimeout(kSilenceMs);
    dev->start(static_cast<float>(o.rate), portsOf(o.channels), o.bits);
  } catch (const Vexa::Exception& e) {
    recorder.reset();
    std::remove(o.output.c_str());  // nothing was recorded
    return reportFailure("record", e);
  }
  const int64_t limit = o.seconds > 0 ? std::max<int64_t>(1, std::llround(o.seconds * o.rate)) : 0;
  dev->begin(*recorder, limit);

  std::exception_ptr failure;
  acquire(*dev, *recorder, stopSignals, failure);

  int status = kOk;
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const Vexa::Exception& e) {
      status = reportFailure("record", e);
    }
  }
  if (dev->timedOut) {
    std::cerr << "vexa record: the device sent nothing for " << kSilenceMs / 1000 << " s\n";
    status = kFailure;
  }
  if (dev->disconnectReason) {
    std::cerr << "vexa record: the device ended the acquisition (disconnect, reason " << *dev->disconnectReason
              << ")\n";
  }
  if (dev->channelCount() > 0) {
    try {
      dev->stop();
    } catch (const Vexa::Exception& e) {
      status = reportFailure("record", e);
    }
  }
  try {
    recorder->close();
  } catch (const Vexa::Exception& e) {
    std::cerr << "vexa record: writing " << o.output << " failed: " << e.getDescription()
              << (e.detail().empty() ? "" : " (" + e.detail() + ")") << "\n";
    status = kFailure;
  }
  const Vexa::RecorderCounters c = recorder->counters();
  std::cerr << "vexa record: " << c.instantsWritten << " instants, " << c.lostTicks << " lost ticks, "
            << c.bytesWritten << " bytes in " << o.output << "\n";
  if (c.droppedInstants > 0) {
    std::cerr << "vexa record: the disk did not keep up: " << c.droppedInstants
              << " instants dropped (noted in the file)\n";
  }
  return status;
}

}  // namespace

void addRecord(CLI::App& app, int& status) {
  auto o = std::make_shared<Options>();
  CLI::App* record = app.add_subcommand("record", "Acquire into a .bdf (BDF+) or .csv file; Ctrl-C ends it");
  record->add_option("PATH", o->path, "Connection path (COM…, BTH…, BLE…, USB…, SIM or SIM:…)")->required();
  record->add_option("--rate", o->rate, "Base sampling rate in hertz")->required()->check(CLI::Range(1e-3, 1e7));
  record
      ->add_option("--channels", o->channels, "One character per port from port 1; \"1\" acquires it (e.g. 1011)")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) { return portsOf(text).empty() ? std::string("selects no port") : std::string(); },
          "TEXT"));
  record->add_option("--bits", o->bits, "Sample width in bits")->capture_default_str()->check(CLI::Range(1, 24));
  record->add_option("--seconds", o->seconds, "Length of the recording (default: until Ctrl-C)")
      ->check(CLI::PositiveNumber);
  record->add_option("-o,--output", o->output, "File to write: .bdf or .csv")
      ->required()
      ->check(CLI::Validator(
          [](std::string& file) {
            std::string ext = file.size() >= 4 ? file.substr(file.size() - 4) : "";
            for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return ext == ".bdf" || ext == ".csv" ? std::string() : std::string("must end in .bdf or .csv");
          },
          "FILE"));
  record->callback([o, &status] { status = run(*o); });
}

}  // namespace vexa_cli
