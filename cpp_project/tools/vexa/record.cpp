// vexa record PATH --rate HZ (--channels TEXT | --source PORT:MASK[:DIV]...)
// [descriptions] -o FILE: acquires into a BDF+ or CSV file with a live
// progress line on standard error, and takes markers typed on standard
// input. SIGINT or SIGTERM ends the acquisition; the file is finished
// cleanly either way. An existing file is replaced only with --force, and
// the file is created only once the device accepted the start. Several
// PATHs record their devices together into one file each in the folder -o
// names.
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

#include <CLI/CLI.hpp>

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

// One device of the run, its file and how its acquisition went.
struct Take {
  std::string path, output;
  // Put before every message about it: "" when it is the only one.
  std::string tag;
  bool existed = false;  // the file was there before (replaced with --force)
  std::optional<Vexa::RecordingInfo> replayed;
  std::unique_ptr<RecordingDev> dev;
  Vexa::RecordingInfo info;
  std::unique_ptr<Vexa::Recorder> recorder;
  // Set on the loop's thread before done.
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  bool writeFailed = false;
};

// The live line: rewritten in place on a terminal, one line a second
// otherwise (a log or a pipe). One line for all devices.
class Progress {
 public:
  Progress() : terminal_(isatty(STDERR_FILENO) == 1), began_(Clock::now()) {}

  void show(const std::vector<std::unique_ptr<Take>>& takes, bool force = false) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - began_).count();
    if (!force && !terminal_ && elapsed < nextLine_) return;
    nextLine_ = std::floor(elapsed) + 1;
    std::string text;
    char line[200];
    if (takes.size() == 1) {
      const Take& t = *takes.front();
      const Vexa::RecorderCounters c = t.recorder->counters();
      const Vexa::TickTimeFit::Health clock = t.dev->tickTimes().health();
      std::snprintf(line, sizeof line,
                    "recording %.1f s  %lld instants  %llu lost ticks  %.1f KiB  drift %+.1f ppm  jitter %.1f ms",
                    elapsed, static_cast<long long>(t.dev->instants.load()),
                    static_cast<unsigned long long>(c.lostTicks), static_cast<double>(c.bytesWritten) / 1024,
                    clock.driftPpm, clock.jitterSeconds * 1000);
      text = line;
    } else {
      std::snprintf(line, sizeof line, "recording %.1f s", elapsed);
      text = line;
      for (const auto& t : takes) {
        std::snprintf(line, sizeof line, "  |  %s %lld instants %llu lost", t->path.c_str(),
                      static_cast<long long>(t->dev->instants.load()),
                      static_cast<unsigned long long>(t->recorder->counters().lostTicks));
        text += line;
      }
    }
    std::fprintf(stderr, terminal_ ? "\r%-100s" : "%s\n", text.c_str());
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

// True once a device's loop ended for a failure: an error or a silence. A
// disconnect is the device's own end (a replay's last instant), as it is
// for a single device, and ends only its own file. Read only after done.
bool failedOnItsOwn(const Take& t) { return t.failure || t.dev->timedOut; }

// Runs each device's loop on a thread of its own while this one shows
// progress and waits for a stop signal (blocked by the caller in every
// thread), a failed write or a failed device, which it notices within a
// quarter of a second; any of them stops every device, so that the files
// end together.
void acquire(std::vector<std::unique_ptr<Take>>& takes, const sigset_t& stopSignals) {
  std::vector<std::thread> loops;
  for (auto& take : takes) {
    loops.emplace_back([&t = *take] {
      try {
        t.dev->loop();
      } catch (...) {
        t.failure = std::current_exception();
      }
      t.done = true;
    });
  }
  auto allDone = [&takes] {
    for (const auto& t : takes) {
      if (!t->done) return false;
    }
    return true;
  };
  Progress progress;
  bool stopping = false;
  std::vector<bool> interrupted(takes.size(), false);
  while (!allDone()) {
    const long waitNs = stopping ? 10'000'000 : 250'000'000;
    const timespec wait{0, waitNs};
    const bool signalled = sigtimedwait(&stopSignals, nullptr, &wait) > 0;
    bool failed = false;
    for (auto& t : takes) {
      t->writeFailed = t->writeFailed || t->recorder->counters().writeFailed;
      failed = failed || t->writeFailed || (t->done && failedOnItsOwn(*t));
    }
    if (signalled || failed) stopping = true;
    for (size_t i = 0; stopping && i < takes.size(); ++i) {
      Take& t = *takes[i];
      t.dev->stopRequested = true;  // a streaming device's next instant ends the loop
      if (interrupted[i] || t.done) continue;
      // An idle device sends no instant: wake the loop. Refused while the
      // loop handles a message; tried again shortly.
      try {
        t.dev->interrupt(nullptr);
        interrupted[i] = true;
      } catch (const Vexa::Exception&) {
      }
    }
    progress.show(takes);
  }
  for (std::thread& loop : loops) loop.join();
  progress.show(takes, true);
  progress.end();
}

std::string causeOf(const Vexa::Exception& e) { return e.detail().empty() ? e.getDescription() : e.detail(); }

// Creates the output for the recorder unless it exists (without --force):
// the check before the device started may be stale.
bool claimOutput(const std::string& output, bool force) {
  if (force) return true;
  const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::cerr << "vexa record: cannot create " << output << ": " << std::strerror(errno)
              << (errno == EEXIST ? " (--force replaces it)" : "") << "\n";
    return false;
  }
  close(fd);
  return true;
}

// Connects, checks the rate, describes and starts one device; reports a
// failure and returns false.
bool prepare(Take& t, const RecordOptions& o, const std::vector<Vexa::Source>& sources) {
  t.replayed = replayedRecording(t.path);
  try {
    t.dev = connect<RecordingDev>(t.path, o.trace);
    // Checked before anything is sized by the rate.
    if (const std::string why = rateRefusal(t.dev->family(), o.rate); !why.empty()) {
      std::cerr << "vexa record: " << t.tag << t.dev->getProperties()["description"].asString()
                << " cannot sample at " << std::setprecision(10) << o.rate << " Hz: " << why << "\n";
      return false;
    }
    RecordOptions own = o;
    own.path = t.path;
    t.info = describe(*t.dev, own, sources, t.replayed ? &*t.replayed : nullptr);
    t.dev->setTimeout(kSilenceMs);
    start(*t.dev, o, sources);
  } catch (const Vexa::Exception& e) {
    reportFailure(t.tag.empty() ? "record" : "record: " + t.path, e);
    if (t.replayed) {
      if (std::string why = vexa_sim::replayRefusal(*t.replayed, o.rate, sources); !why.empty()) {
        std::cerr << "vexa record: " << t.tag << "the replayed recording cannot serve this start: " << why << "\n";
      }
    }
    return false;
  }
  return true;
}

// Closes the file and stops the device after the loop; reports what went
// wrong and the counts. Returns the device's exit status.
int finish(Take& t) {
  int status = kOk;
  if (t.failure) {
    try {
      std::rethrow_exception(t.failure);
    } catch (const Vexa::Exception& e) {
      status = reportFailure(t.tag.empty() ? "record" : "record: " + t.path, e);
    }
  }
  if (t.dev->timedOut) {
    std::cerr << "vexa record: " << t.tag << "the device sent nothing for " << kSilenceMs / 1000 << " s\n";
    status = kFailure;
  }
  if (t.dev->disconnectReason) {
    std::cerr << "vexa record: " << t.tag << "the device ended the acquisition (disconnect, reason "
              << *t.dev->disconnectReason << ")\n";
  }
  // The file first: a failed write is told before the device's stop, which
  // may take seconds.
  std::string writeError;
  try {
    t.recorder->close();
  } catch (const Vexa::Exception& e) {
    writeError = causeOf(e);
  }
  if (t.writeFailed && writeError.empty()) writeError = t.recorder->failure();
  if (!writeError.empty()) {
    std::cerr << "vexa record: writing " << t.output << " failed: " << writeError << "\n";
    status = kFailure;
  }
  if (t.dev->channelCount() > 0) {
    try {
      t.dev->stop();
    } catch (const Vexa::Exception& e) {
      status = reportFailure(t.tag.empty() ? "record" : "record: " + t.path, e);
    }
  }
  status = std::max(status, endTrace(*t.dev, "record"));
  const Vexa::RecorderCounters c = t.recorder->counters();
  std::cerr << "vexa record: " << c.instantsWritten << " instants, " << c.lostTicks << " lost ticks, "
            << c.bytesWritten << " bytes in " << t.output << "\n";
  if (c.droppedInstants > 0) {
    std::cerr << "vexa record: " << t.tag << "the disk did not keep up: " << c.droppedInstants
              << " instants dropped (noted in the file)\n";
  }
  return status;
}

// The devices of the run: one file named -o for a single path; else one
// file per path in the folder -o names, created when missing.
std::vector<std::unique_ptr<Take>> plan(const RecordOptions& o) {
  std::vector<std::unique_ptr<Take>> takes;
  if (o.paths.size() <= 1) {
    takes.push_back(std::make_unique<Take>());
    takes.back()->path = o.path;
    takes.back()->output = o.output;
    return takes;
  }
  const std::vector<std::string> names = fileNamesFor(o.paths);
  for (size_t i = 0; i < o.paths.size(); ++i) {
    takes.push_back(std::make_unique<Take>());
    takes.back()->path = o.paths[i];
    takes.back()->output = (std::filesystem::path(o.output) / names[i]).string();
    takes.back()->tag = o.paths[i] + ": ";
  }
  return takes;
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

  std::vector<std::unique_ptr<Take>> takes = plan(o);
  if (takes.size() > 1) {
    std::error_code error;
    std::filesystem::create_directories(o.output, error);
    if (error) {
      std::cerr << "vexa record: cannot create the folder " << o.output << ": " << error.message() << "\n";
      return kFailure;
    }
  }
  for (auto& t : takes) {
    std::error_code ignored;
    t->existed = std::filesystem::exists(std::filesystem::symlink_status(t->output, ignored));
    if (t->existed && !o.force) {
      std::cerr << "vexa record: " << t->output << " exists; --force replaces it\n";
      return kFailure;
    }
  }
  // Every device connected and started before any loop runs: no instant is
  // recorded until all of them stream.
  const std::vector<Vexa::Source> sources = sourcesOf(o);
  for (auto& t : takes) {
    if (!prepare(*t, o, sources)) return kFailure;
  }
  // The devices stream from here on; their destructors stop them on every
  // early return.
  // Nothing is recorded into the files made before a failure: they go.
  auto removeMade = [&takes] {
    for (auto& t : takes) {
      if (!t->recorder) continue;
      t->recorder.reset();
      if (!t->existed) std::remove(t->output.c_str());
    }
  };
  for (auto& t : takes) {
    if (!claimOutput(t->output, o.force)) {
      removeMade();
      return kFailure;
    }
    try {
      Vexa::RecorderOptions options;
      options.clock = &t->dev->tickTimes();
      t->recorder = std::make_unique<Vexa::Recorder>(t->output, t->info, options);
    } catch (const Vexa::Exception& e) {
      if (!t->existed) std::remove(t->output.c_str());
      std::cerr << "vexa record: cannot record into " << t->output << ": " << causeOf(e) << "\n";
      removeMade();
      return kFailure;
    }
  }
  const int64_t limit = o.seconds > 0 ? std::max<int64_t>(1, std::llround(o.seconds * o.rate)) : 0;
  std::vector<Vexa::Recorder*> recorders;
  for (auto& t : takes) {
    t->dev->begin(*t->recorder, limit);
    recorders.push_back(t->recorder.get());
  }
  {
    StdinMarkers markers(recorders);
    acquire(takes, stopSignals);
  }
  int status = kOk;
  for (auto& t : takes) status = std::max(status, finish(*t));
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
  record->add_option("PATH", o->paths,
                     "Connection path (COM…, BTH…, BLE…, USB…, SIM or SIM:…); several record their devices "
                     "together, one file each in the folder -o names")
      ->required();
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
  record->add_option("-o,--output", o->output,
                     "File to write: .bdf or .csv; with several paths the folder of their .bdf files, DIR/")
      ->required()
      ->type_name("FILE|DIR/");
  record->add_option("--trace", o->trace, "Write the bytes exchanged with the device to FILE, as a wire trace")
      ->type_name("FILE");
  record->callback([o, &status] {
    o->path = o->paths.front();
    if (!o->trace.empty() && o->paths.size() > 1) throw CLI::ValidationError("--trace", "takes one PATH");
    if (o->paths.size() == 1) {
      std::string ext = o->output.size() >= 4 ? o->output.substr(o->output.size() - 4) : "";
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (ext != ".bdf" && ext != ".csv") throw CLI::ValidationError("--output", "must end in .bdf or .csv");
    } else if (o->output.empty() ||
               (o->output.back() != '/' && !std::filesystem::is_directory(std::filesystem::path(o->output)))) {
      throw CLI::ValidationError("--output", "with several paths names a folder: DIR/");
    }
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
