// vexa record PATH --rate HZ (--channels TEXT | --source PORT:MASK[:DIV]...)
// [descriptions] -o FILE: acquires into a BDF+ or CSV file with a live
// progress line on standard error, and takes markers typed on standard
// input. SIGINT or SIGTERM ends the acquisition; the file is finished
// cleanly either way. An existing file is replaced only with --force, and
// the file is created only once the device accepted the start.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "device.h"
#include "record_plan.h"
#include "recording_dev.h"
#include "stdin_markers.h"
#include "vexa/bdf_reader.h"
#include "vexa/tick_time_fit.h"
#include "vexa_sim/replay_model.h"
#include "vexa_sim/simulated_device.h"

namespace vexa_cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSilenceMs = 2000;  // a device quiet for this long has failed

// The recording that a "SIM:…" path replays (a word ending in ".bdf", as
// the simulator takes it), for its descriptions and to explain a refused
// start; empty for other paths or a file that cannot be read.
std::optional<Vexa::RecordingInfo> replayedRecording(const std::string& path) {
  if (!vexa_sim::isSimulatedDevicePath(path) || path.size() < 4) return std::nullopt;
  std::istringstream words(path.substr(4));
  for (std::string word; words >> word;) {
    std::string tail = word.size() > 4 ? word.substr(word.size() - 4) : "";
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail != ".bdf") continue;
    try {
      return Vexa::BdfReader(word).recordingInfo();
    } catch (const Vexa::Exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

Vexa::RecordingInfo describe(RecordingDev& dev, const RecordOptions& o, const std::vector<Vexa::Source>& sources,
                             const Vexa::RecordingInfo* replayed) {
  Vexa::Properties p = dev.getProperties();
  Vexa::RecordingInfo info;
  info.deviceType = p["description"].asString();
  info.productId = p["productID"].asInt();
  info.firmware = versionText(p["fwVersion"].asInt());
  info.path = o.path;
  info.start = Vexa::RecordingStart::now();
  info.baseFrequency = o.rate;
  info.channels = recordedChannels(sources, dev.family());
  describeChannels(info, o, replayed);
  return info;
}

// Starts the acquisition: the sources form on the current generation, the
// ports form (one channel per port at the base rate) on the legacy ones.
void start(RecordingDev& dev, const RecordOptions& o, const std::vector<Vexa::Source>& sources) {
  if (!Vexa::isLegacy(dev.family())) return dev.start(static_cast<float>(o.rate), sources);
  std::vector<int> ports;
  for (const Vexa::Source& s : sources) {
    if (s.chMask != 1 || s.freqDivisor != 1) {
      VEXA_THROW_DETAIL(Vexa::Error::NotSupported, "this family takes one channel per port at the base rate: " +
                                                       std::string("--source PORT:1, or --channels"));
    }
    ports.push_back(s.port);
  }
  dev.start(static_cast<float>(o.rate), ports, o.bits);
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
    const Vexa::TickTimeFit::Health clock = dev.tickTimes().health();
    char line[200];
    std::snprintf(line, sizeof line,
                  "recording %.1f s  %lld instants  %llu lost ticks  %.1f KiB  drift %+.1f ppm  jitter %.1f ms",
                  elapsed, static_cast<long long>(dev.instants.load()), static_cast<unsigned long long>(c.lostTicks),
                  static_cast<double>(c.bytesWritten) / 1024, clock.driftPpm, clock.jitterSeconds * 1000);
    std::fprintf(stderr, terminal_ ? "\r%-100s" : "%s\n", line);
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
// waits for a stop signal (blocked by the caller in every thread) or a
// failed write, which it notices within a quarter of a second; true when
// the writing failed.
bool acquire(RecordingDev& dev, Vexa::Recorder& recorder, const sigset_t& stopSignals,
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
  bool stopping = false, interrupted = false, writeFailed = false;
  while (!done) {
    const long waitNs = stopping ? 10'000'000 : 250'000'000;
    const timespec wait{0, waitNs};
    const bool signalled = sigtimedwait(&stopSignals, nullptr, &wait) > 0;
    writeFailed = writeFailed || recorder.counters().writeFailed;
    if (signalled || writeFailed) {
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
  return writeFailed;
}

std::string causeOf(const Vexa::Exception& e) { return e.detail().empty() ? e.getDescription() : e.detail(); }

// Creates the output for the recorder unless it exists (without --force):
// the check before the device started may be stale.
bool claimOutput(const RecordOptions& o) {
  if (o.force) return true;
  const int fd = open(o.output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::cerr << "vexa record: cannot create " << o.output << ": " << std::strerror(errno)
              << (errno == EEXIST ? " (--force replaces it)" : "") << "\n";
    return false;
  }
  close(fd);
  return true;
}

int run(const RecordOptions& o) {
  // Blocked before any thread starts, so that every thread inherits it and
  // the signal waits for acquire() instead of killing the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::error_code ignored;
  const bool existed = std::filesystem::exists(std::filesystem::symlink_status(o.output, ignored));
  if (existed && !o.force) {
    std::cerr << "vexa record: " << o.output << " exists; --force replaces it\n";
    return kFailure;
  }
  const std::vector<Vexa::Source> sources = sourcesOf(o);
  const std::optional<Vexa::RecordingInfo> replayed = replayedRecording(o.path);
  std::unique_ptr<RecordingDev> dev;
  Vexa::RecordingInfo info;
  try {
    dev = connect<RecordingDev>(o.path);
    // Checked before anything is sized by the rate.
    if (const std::string why = rateRefusal(dev->family(), o.rate); !why.empty()) {
      std::cerr << "vexa record: " << dev->getProperties()["description"].asString() << " cannot sample at "
                << std::setprecision(10) << o.rate << " Hz: " << why << "\n";
      return kFailure;
    }
    info = describe(*dev, o, sources, replayed ? &*replayed : nullptr);
    dev->setTimeout(kSilenceMs);
    start(*dev, o, sources);
  } catch (const Vexa::Exception& e) {
    const int status = reportFailure("record", e);
    if (replayed) {
      if (std::string why = vexa_sim::replayRefusal(*replayed, o.rate, sources); !why.empty()) {
        std::cerr << "vexa record: the replayed recording cannot serve this start: " << why << "\n";
      }
    }
    return status;
  }
  // The device streams from here on; the destructor of dev stops it on
  // every early return.
  if (!claimOutput(o)) return kFailure;
  std::unique_ptr<Vexa::Recorder> recorder;
  try {
    Vexa::RecorderOptions options;
    options.clock = &dev->tickTimes();
    recorder = std::make_unique<Vexa::Recorder>(o.output, info, options);
  } catch (const Vexa::Exception& e) {
    if (!existed) std::remove(o.output.c_str());  // nothing was recorded into it
    std::cerr << "vexa record: cannot record into " << o.output << ": " << causeOf(e) << "\n";
    return kFailure;
  }
  const int64_t limit = o.seconds > 0 ? std::max<int64_t>(1, std::llround(o.seconds * o.rate)) : 0;
  dev->begin(*recorder, limit);

  std::exception_ptr failure;
  bool writeFailed;
  {
    StdinMarkers markers(*recorder);
    writeFailed = acquire(*dev, *recorder, stopSignals, failure);
  }

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
  // The file first: a failed write is told before the device's stop, which
  // may take seconds.
  std::string writeError;
  try {
    recorder->close();
  } catch (const Vexa::Exception& e) {
    writeError = causeOf(e);
  }
  if (writeFailed && writeError.empty()) writeError = recorder->failure();
  if (!writeError.empty()) {
    std::cerr << "vexa record: writing " << o.output << " failed: " << writeError << "\n";
    status = kFailure;
  }
  if (dev->channelCount() > 0) {
    try {
      dev->stop();
    } catch (const Vexa::Exception& e) {
      status = reportFailure("record", e);
    }
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

// A CLI11 check from a function that says what is wrong, empty when nothing.
CLI::Validator check(std::string (*error)(const std::string&), const std::string& name) {
  return CLI::Validator([error](std::string& text) { return error(text); }, name);
}

}  // namespace

void addRecord(CLI::App& app, int& status) {
  auto o = std::make_shared<RecordOptions>();
  CLI::App* record = app.add_subcommand(
      "record", "Acquire into a .bdf (BDF+) or .csv file; Ctrl-C ends it. Each line typed on standard input "
                "while it records becomes a marker in the file.");
  record->add_option("PATH", o->path, "Connection path (COM…, BTH…, BLE…, USB…, SIM or SIM:…)")->required();
  record->add_option("--rate", o->rate, "Base sampling rate in hertz")->required()->check(CLI::Range(1e-3, 1e7));
  CLI::Option* channels =
      record->add_option("--channels", o->channels, "One character per port from port 1; \"1\" acquires its first "
                                                    "channel (e.g. 1011)")
          ->check(CLI::Validator(
              [](std::string& text) {
                return text.find('1') == std::string::npos ? std::string("selects no port") : std::string();
              },
              "TEXT"));
  CLI::Option* sources =
      record->add_option("--source", o->sources,
                         "Repeatable, instead of --channels: the channels of MASK (bit 0 the first; decimal or 0x…) "
                         "on PORT, sampled every DIVISOR-th tick (default 1), e.g. 1:0xFF")
          ->type_name("PORT:MASK[:DIVISOR]")
          ->check(check(sourceError, ""));
  channels->excludes(sources);
  record->add_option("--bits", o->bits, "Sample width in bits")->capture_default_str()->check(CLI::Range(1, 24));
  record->add_option("--seconds", o->seconds, "Length of the recording (default: until Ctrl-C)")
      ->check(CLI::PositiveNumber);
  // N counts the channels in the file from 1 (the order of the sources and
  // of each source's channels); "*" is every channel, and a numbered setting
  // wins over it.
  const std::string n = " (N the channel in the file, from 1, or * for all; repeatable)";
  record->add_option("--label", o->labels, "Channel label, 16 printable characters at most" + n)
      ->type_name("N=TEXT")
      ->check(CLI::Validator([](std::string& t) { return channelTextError("--label", t, 0); }, ""));
  record->add_option("--unit", o->units, "Physical unit such as uV, 8 printable characters at most" + n)
      ->type_name("N=TEXT")
      ->check(CLI::Validator([](std::string& t) { return channelTextError("--unit", t, 0); }, ""));
  record->add_option("--physical", o->physical, "Physical values of the digital range's ends" + n)
      ->type_name("N=MIN:MAX")
      ->check(CLI::Validator([](std::string& t) { return channelTextError("--physical", t, 0); }, ""));
  record->add_option("--subject", o->subject, "Who is recorded");
  record->add_option("--note", o->note, "Free text about the recording");
  record->add_flag("--force", o->force, "Replace an existing output file");
  record->add_option("-o,--output", o->output, "File to write: .bdf or .csv")
      ->required()
      ->check(CLI::Validator(
          [](std::string& file) {
            std::string ext = file.size() >= 4 ? file.substr(file.size() - 4) : "";
            for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return ext == ".bdf" || ext == ".csv" ? std::string() : std::string("must end in .bdf or .csv");
          },
          "FILE"));
  record->callback([o, &status] {
    if (o->channels.empty() && o->sources.empty()) throw CLI::RequiredError("--channels or --source");
    // The channel numbers, now that the channels are known.
    const size_t count = channelCount(sourcesOf(*o));
    const std::pair<const char*, const std::vector<std::string>*> settings[] = {
        {"--label", &o->labels}, {"--unit", &o->units}, {"--physical", &o->physical}};
    for (const auto& [option, texts] : settings) {
      for (const std::string& text : *texts) {
        if (std::string why = channelTextError(option, text, count); !why.empty()) {
          throw CLI::ValidationError(option, why);
        }
      }
    }
    status = run(*o);
  });
}

}  // namespace vexa_cli
