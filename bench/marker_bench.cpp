// Markers from another thread against the truth, through the plug-in's
// exports as a Unity host calls them: a simulated device (a "SIM:" path)
// runs a clock off by some ppm, holds its messages back by a random delay
// with a stall every 2 s, and carries in each instant the microseconds of
// host time at which it was due. The loop runs on one thread and records to
// a BDF+ file; the main thread adds markers at random moments, half with
// VexaExtAddMarker (stamped at the call) and half with VexaExtAddMarkerAt
// for a moment 20 ms earlier, as a frame's presentation time would be. The
// file is read back with EDFlib, and each marker's instant's own clock
// signal says when that instant was due: its error is that minus the
// marker's host time. Beside it, the error of the instants' times as the
// sample ring's reader gets them in the same run, and per marker whether its
// error stays within that of its instant's time plus half a tick.
//
//   vexa_marker_bench [seconds per case = 20] [dir = /tmp]
#include <edflib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "vexa_unity_interface.h"

namespace {

constexpr int kRate = 1000;
constexpr double kSettleSeconds = 5.0;
constexpr double kPresentedEarlier = 0.020;  // AddMarkerAt's time before its call
constexpr int kRingRead = 4096;

FILE* table = stdout;  // the figures; the library's log goes elsewhere
std::atomic<int> failures{0};

void onFailure(int code, const char* message) {
  ++failures;
  std::fprintf(stderr, "failure %d: %s\n", code, message);
}

// The 32-bit microsecond count of an instant's two clock channels.
uint32_t microsOf(int low, int high) {
  return (static_cast<uint32_t>(high) & 0xFFFF) << 16 | (static_cast<uint32_t>(low) & 0xFFFF);
}

// The due time in seconds that the count (wrapping every 71.6 minutes)
// means near `near`.
double truthOf(int low, int high, double near) {
  const double wrap = 4294967296e-6;
  const double carried = microsOf(low, high) * 1e-6 + 0.5e-6;  // the middle of its microsecond
  return carried + wrap * std::round((near - carried) / wrap);
}

struct Mark {
  std::string text;
  double stamp;  // the host time it was placed for
  bool at;       // added with VexaExtAddMarkerAt
};

struct Stats {
  double median = 0, p99 = 0, max = 0;
  size_t count = 0;
};

Stats stats(std::vector<double> errors) {
  Stats s;
  s.count = errors.size();
  if (errors.empty()) return s;
  for (double& e : errors) e = std::abs(e);
  std::sort(errors.begin(), errors.end());
  s.median = errors[errors.size() / 2];
  s.p99 = errors[std::min(errors.size() - 1, errors.size() * 99 / 100)];
  s.max = errors.back();
  return s;
}

// What one case measured.
struct Outcome {
  bool ok = false;
  std::vector<double> instantErrors;                // ring times, settled instants
  std::vector<double> callErrors, atErrors;         // per kind of marker, settled
  int onNearest = 0, markers = 0, beyondBound = 0;  // settled markers
  int maxTicksOff = 0;
  double maxBeyond = 0;    // the most a marker's error exceeded that bound by
  double maxCallCost = 0;  // the longest VexaExtAddMarker call
};

// The ring's instants read so far: the error of each one's time, by the
// microseconds it carries (unique at this rate within a case).
struct RingReader {
  std::unordered_map<uint32_t, double> errorByMicros;
  std::vector<long long> ticks = std::vector<long long>(kRingRead);
  std::vector<double> times = std::vector<double>(kRingRead);
  std::vector<int> samples = std::vector<int>(kRingRead * 2);
  double first = NAN, newest = NAN;

  void drain(std::vector<double>& settled) {
    int n;
    while ((n = VexaExtReadBlock(0, ticks.data(), times.data(), kRingRead, samples.data(),
                                 static_cast<int>(samples.size()), nullptr, nullptr)) > 0) {
      for (int i = 0; i < n; ++i) {
        const double truth = truthOf(samples[2 * i], samples[2 * i + 1], VexaExtGetHostTime());
        if (std::isnan(first)) first = truth;
        newest = truth;
        const double error = times[i] - truth;
        errorByMicros[microsOf(samples[2 * i], samples[2 * i + 1])] = error;
        if (truth - first >= kSettleSeconds) settled.push_back(error);
      }
    }
  }
};

Outcome runCase(const std::string& path, const std::string& file, double seconds, unsigned seed) {
  Outcome out;
  VexaExtEnableSampleRing(0);
  VexaDevUnity(path.c_str());
  if (vexaDev == nullptr) return out;
  const VexaSource clockPort[] = {{1, 1, 16, 0x3}};
  StartAcquisitionBySources(kRate, clockPort, 1);
  if (VexaExtStartRecording(file.c_str()) != 0) {
    std::fprintf(stderr, "recording: %s\n", VexaExtGetLastErrorDetail());
    DisconnectVexaDevUnity();
    return out;
  }
  std::thread loop([] { StartLoop(); });

  RingReader ring;
  std::vector<Mark> marks;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pauseUs(30000, 70000);
  const double began = VexaExtGetHostTime();
  for (int i = 0; VexaExtGetHostTime() - began < seconds; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
    ring.drain(out.instantErrors);
    const std::string text = (i % 2 ? "at " : "call ") + std::to_string(i);
    const double before = VexaExtGetHostTime();
    const int added = i % 2 ? VexaExtAddMarkerAt(text.c_str(), before - kPresentedEarlier)
                            : VexaExtAddMarker(text.c_str());
    const double after = VexaExtGetHostTime();
    if (added != 0) {
      std::fprintf(stderr, "marker %s: %s\n", text.c_str(), VexaExtGetLastErrorDetail());
      continue;
    }
    if (i % 2 == 0) out.maxCallCost = std::max(out.maxCallCost, after - before);
    marks.push_back({text, i % 2 ? before - kPresentedEarlier : before, i % 2 == 1});
  }
  // Every marked instant delivered before the loop ends.
  const double lastStamp = marks.empty() ? 0 : marks.back().stamp;
  while (!(ring.newest > lastStamp + 0.01) && VexaExtGetHostTime() - lastStamp < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ring.drain(out.instantErrors);
  }
  InterruptAcquisition();
  loop.join();
  const bool stopped = VexaExtStopRecording() == 0;
  if (!stopped) std::fprintf(stderr, "recording: %s\n", VexaExtGetLastErrorDetail());
  StopAcquisition();
  DisconnectVexaDevUnity();
  VexaExtDisableSampleRing();
  if (!stopped) return out;

  // Read back: the due time of every recorded instant, and the markers.
  static edf_hdr_struct header;  // large
  if (edfopen_file_readonly(file.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS) != 0) {
    std::fprintf(stderr, "EDFlib could not open %s (%d)\n", file.c_str(), header.filetype);
    return out;
  }
  std::vector<int> low(static_cast<size_t>(header.signalparam[0].smp_in_file));
  std::vector<int> high(low.size());
  const int n = static_cast<int>(low.size());
  const bool read = edfread_digital_samples(header.handle, 0, n, low.data()) == n &&
                    edfread_digital_samples(header.handle, 1, n, high.data()) == n;
  std::vector<double> truth(low.size());
  std::vector<uint32_t> micros(low.size());
  for (size_t i = 0; i < low.size(); ++i) {
    truth[i] = truthOf(low[i], high[i], began);
    micros[i] = microsOf(low[i], high[i]);
  }
  std::unordered_map<std::string, long long> onsets;  // marker text -> onset, 100 ns from the first record
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct note;
    edf_get_annotation(header.handle, static_cast<int>(a), &note);
    const std::string text = note.annotation;
    if (text.rfind("Marker: ", 0) == 0) onsets[text.substr(8)] = note.onset;
  }
  edfclose_file(header.handle);
  if (!read || truth.empty()) return out;

  const double halfTick = 0.5 / kRate;
  for (const Mark& m : marks) {
    const auto found = onsets.find(m.text);
    if (found == onsets.end()) {
      std::fprintf(stderr, "marker %s is missing from the file\n", m.text.c_str());
      return out;
    }
    const long long index = std::llround(static_cast<double>(found->second) * kRate / EDFLIB_TIME_DIMENSION);
    if (index < 0 || index >= static_cast<long long>(truth.size())) {
      std::fprintf(stderr, "marker %s at %lld is outside the data\n", m.text.c_str(), index);
      return out;
    }
    if (m.stamp - ring.first < kSettleSeconds) continue;
    const double error = truth[index] - m.stamp;
    (m.at ? out.atErrors : out.callErrors).push_back(error);
    ++out.markers;
    // The instant that was truly due nearest the stamp.
    const auto after = std::lower_bound(truth.begin(), truth.end(), m.stamp);
    long long nearest = after - truth.begin();
    if (after == truth.end() || (after != truth.begin() && m.stamp - *(after - 1) < *after - m.stamp)) --nearest;
    const int off = static_cast<int>(std::llabs(index - nearest));
    out.maxTicksOff = std::max(out.maxTicksOff, off);
    if (off == 0) ++out.onNearest;
    // Expected: within the error of that instant's time plus half a tick
    // (and the microsecond the truth is rounded to).
    const auto timed = ring.errorByMicros.find(micros[index]);
    if (timed == ring.errorByMicros.end()) {
      std::fprintf(stderr, "marker %s landed on an instant the ring never gave\n", m.text.c_str());
      return out;
    }
    const double beyond = std::abs(error) - (std::abs(timed->second) + halfTick + 1e-6);
    if (beyond > 0) {
      ++out.beyondBound;
      out.maxBeyond = std::max(out.maxBeyond, beyond);
    }
  }
  out.ok = true;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  // The table keeps the console; the library's log lines go nowhere.
  table = fdopen(dup(STDOUT_FILENO), "w");
  if (table == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
  SetOnExceptionRaisedHandler(onFailure);

  std::fprintf(table, "| Jitter | Drift | Instant times median | p99 | max | "
                      "VexaExtAddMarker median | p99 | max | VexaExtAddMarkerAt (20 ms earlier) median | p99 | max | "
                      "On the truly nearest instant | Beyond its time's error + half a tick |\n");
  std::fprintf(table, "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  int bad = 0;
  double worstCallCost = 0;
  for (int jitter : {0, 5, 30}) {
    for (int ppm : {0, 200}) {
      std::ostringstream path;
      path << "SIM:current --clock-ppm " << ppm << " --jitter-ms " << jitter << " --pattern clock --seed "
           << (jitter * 7 + ppm + 11);
      const std::string file = dir + "/vexa_marker_bench_" + std::to_string(getpid()) + ".bdf";
      const int failed = failures;
      const Outcome o = runCase(path.str(), file, seconds, static_cast<unsigned>(jitter + ppm + 3));
      std::remove(file.c_str());
      if (!o.ok || failures != failed) {
        ++bad;
        std::fprintf(table, "| %d ms | %+d ppm | failed (see the standard error) |\n", jitter, ppm);
        continue;
      }
      worstCallCost = std::max(worstCallCost, o.maxCallCost);
      const Stats t = stats(o.instantErrors), c = stats(o.callErrors), a = stats(o.atErrors);
      std::fprintf(table, "| %d ms | %+d ppm | %.0f us | %.0f us | %.0f us | %.0f us | %.0f us | %.0f us | "
                          "%.0f us | %.0f us | %.0f us | %d of %d (others %d off at most) | %d (by %.0f us at most) |\n",
                   jitter, ppm, t.median * 1e6, t.p99 * 1e6, t.max * 1e6, c.median * 1e6, c.p99 * 1e6,
                   c.max * 1e6, a.median * 1e6, a.p99 * 1e6, a.max * 1e6, o.onNearest, o.markers, o.maxTicksOff,
                   o.beyondBound, o.maxBeyond * 1e6);
      std::fflush(table);
    }
  }
  std::fprintf(table, "\nThe longest VexaExtAddMarker call: %.0f us. %d case(s) failed.\n", worstCallCost * 1e6, bad);
  return bad == 0 ? 0 : 1;
}
