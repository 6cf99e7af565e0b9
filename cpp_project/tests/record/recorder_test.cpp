// The recorder's files read back by EDFlib and by the library's own reader:
// every sample against what was fed, rates, ranges, annotations, gaps,
// overflow, bursts of notes, a file cut short, a write that fails, channel
// descriptions; the CSV text; and refusals of bad input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "record/read_back.h"
#include "support/eventually.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"
#include "vexa/recorder.h"
#include "vexa/signals_dev.h"
#include "vexa/tick_time_fit.h"
#include "vexa_sim/replay_model.h"
#include "vexa_sim/sample_pattern.h"
#include "vexa_sim/simulated_device.h"

namespace vexa_test {
namespace {

namespace fs = std::filesystem;
using Vexa::RecordedChannel;

std::vector<RecordedChannel> manyChannels(int n, int32_t divisor, int32_t bits) {
  std::vector<RecordedChannel> out;
  for (int i = 0; i < n; ++i) out.push_back({1 + i / 16, i % 16, divisor, bits});
  return out;
}

Vexa::RecordingInfo infoFor(double f, std::vector<RecordedChannel> channels,
                            Vexa::RecordingStart start = {2024, 5, 17, 9, 8, 7}) {
  return {"tessarimodular", 517, "3.7", "COM/dev/pts/3", start, f, std::move(channels)};
}

int32_t pattern(const RecordedChannel& c, int i, int64_t t) {
  return vexa_sim::samplePattern(t - t % c.freqDivisor, i, c.channel, c.nBits);
}

// Extremes of each width, cycling per sampled tick: min, max, one inside.
int32_t extremes(const RecordedChannel& c, int i, int64_t t) {
  const int32_t lo = c.nBits == 24 ? -8388608 : 0, hi = c.nBits == 24 ? 8388607 : (1 << c.nBits) - 1;
  const int32_t cycle[] = {lo, hi, hi - 1, lo + 1};
  return cycle[(t / c.freqDivisor) % 4];
}

using Gen = int32_t (*)(const RecordedChannel&, int, int64_t);

// The n samples a channel's file should hold: one per divisor ticks from
// first, the values of the last instant repeated past it (a record's padding).
std::vector<int> fedSamples(const RecordedChannel& c, int i, int64_t first, int64_t last, size_t n, Gen gen = pattern) {
  std::vector<int> out;
  for (size_t j = 0; j < n; ++j) out.push_back(gen(c, i, std::min<int64_t>(first + j * c.freqDivisor, last)));
  return out;
}

void feed(Vexa::Recorder& rec, const Vexa::RecordingInfo& info, int64_t from, int64_t to, Gen gen = pattern) {
  std::vector<int32_t> s(info.channels.size());
  for (int64_t t = from; t < to; ++t) {
    for (size_t i = 0; i < s.size(); ++i) s[i] = gen(info.channels[i], static_cast<int>(i), t);
    rec.addInstant(t, s.data(), static_cast<int>(s.size()));
  }
}

struct BdfCase {
  const char* name;
  double f;
  std::vector<RecordedChannel> channels;
  int64_t first, ticks;
  Gen gen;
  long long recordDuration;  // 100 ns units
  Vexa::RecordingStart start = {2024, 5, 17, 9, 8, 7};
};

TEST(RecorderBdf, SamplesRatesAndRangesReadBack) {
  const std::vector<BdfCase> cases = {
      {"divisor 1, two channels", 1000, {{1, 0, 1, 16}, {1, 3, 1, 16}}, 0, 2500, pattern, 10000000},
      {"divisors 2, 4 and 1", 1000, {{1, 0, 2, 8}, {2, 1, 4, 24}, {3, 0, 1, 16}}, 0, 1999, pattern, 10000000,
       {1985, 1, 1, 0, 0, 0}},
      {"divisor 3: rate not whole", 1000, {{1, 0, 1, 16}, {2, 0, 3, 8}}, 0, 500, pattern, 1020000,
       {2084, 12, 31, 23, 59, 59}},
      {"1, 8, 16 and 24-bit extremes", 256, {{1, 0, 1, 8}, {2, 0, 1, 16}, {3, 0, 2, 24}, {4, 2, 1, 1}}, 0, 300,
       extremes, 10000000, {2003, 10, 9, 18, 30, 1}},
      {"divisor 3 at 256 Hz: 0.140625 s, the first record time of 8 characters", 256, {{1, 0, 3, 16}}, 0, 100,
       pattern, 1406250, {2010, 6, 15, 6, 45, 0}},
      {"12-bit, late start, ends on a record's end", 100, {{4, 0, 1, 12}}, 77, 200, pattern, 10000000,
       {2024, 2, 29, 12, 0, 30}},
      {"ticks across 2^31", 1000, {{1, 0, 1, 16}, {2, 0, 2, 24}}, (int64_t{1} << 31) - 700, 1500, pattern, 10000000},
      {"ticks across 2^32", 1000, {{1, 0, 1, 16}}, (int64_t{1} << 32) - 1, 3, pattern, 10000000},
      // 19.2 MB a second: records of 0.5 s keep each below 10 MB.
      {"100 kHz, 64 channels of 24 bits", 100000, manyChannels(64, 1, 24), 0, 60000, pattern, 5000000},
  };
  for (const BdfCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath("samples.bdf");
    const auto info = infoFor(c.f, c.channels, c.start);
    {
      Vexa::Recorder rec(path, info, static_cast<size_t>(c.ticks));
      feed(rec, info, c.first, c.first + c.ticks, c.gen);
      rec.close();
      EXPECT_EQ(rec.counters().instantsWritten, static_cast<uint64_t>(c.ticks));
      EXPECT_EQ(rec.counters().bytesWritten, fs::file_size(path));
    }
    const long long ticksPerRecord = static_cast<long long>(c.recordDuration * c.f / 10000000 + 0.5);
    const long long records = (c.ticks + ticksPerRecord - 1) / ticksPerRecord;
    for (auto [name, read] : readers()) {
      SCOPED_TRACE(name);
      ReadBack r = read(path);
      ASSERT_TRUE(r.ok);
      EXPECT_EQ(r.records, records);
      EXPECT_EQ(r.recordDuration, c.recordDuration);
      ASSERT_EQ(r.samples.size(), c.channels.size());
      for (size_t i = 0; i < c.channels.size(); ++i) {
        const RecordedChannel& ch = c.channels[i];
        const int lo = ch.nBits == 24 ? -8388608 : 0, hi = ch.nBits == 24 ? 8388607 : (1 << ch.nBits) - 1;
        EXPECT_EQ(std::tie(r.labels[i], r.perRecord[i], r.digitalMin[i], r.digitalMax[i]),
                  std::make_tuple("Port " + std::to_string(ch.port) + " Ch " + std::to_string(ch.channel),
                                  ticksPerRecord / ch.freqDivisor, lo, hi));
        EXPECT_EQ(r.samples[i], fedSamples(ch, static_cast<int>(i), c.first, c.first + c.ticks - 1,
                                           records * r.perRecord[i], c.gen)) << "channel " << i;
      }
      const long long end = c.ticks * 10000000LL / static_cast<long long>(c.f);
      const std::vector<Annotation> ends = {{end, records * c.recordDuration - end, "BAD_padding"},
                                            {end, -1, "Recording ends"}};
      EXPECT_EQ(r.annotations, c.ticks % ticksPerRecord ? ends : std::vector<Annotation>{});
    }
    const Vexa::RecordingInfo back = Vexa::BdfReader(path).recordingInfo();
    EXPECT_EQ(std::tie(back.deviceType, back.productId, back.firmware, back.path),
              std::tie(info.deviceType, info.productId, info.firmware, info.path));
    EXPECT_DOUBLE_EQ(back.baseFrequency, c.f);
    const auto fields = [](const Vexa::RecordingStart& s) {
      return std::make_tuple(s.year, s.month, s.day, s.hour, s.minute, s.second);
    };
    EXPECT_EQ(fields(back.start), fields(c.start));
    EXPECT_EQ(layout(back.channels), layout(c.channels));
    fs::remove(path);
  }
}

// "Marker: " and this make 402 bytes; byte 400 is inside the second Omega.
const std::string kLongMarker = std::string(389, 'x') + "\xCE\xA9\xCE\xA9";

// 100 Hz, one 16-bit channel: a marker before the first instant, a digital
// input and a marker at tick 5, the sequence jumping from 10 to 20, a long
// marker and a disconnect at tick 29.
TEST(RecorderFiles, ScenarioInBdfAndCsv) {
  const std::string bdf = tempPath("events.bdf"), csv = tempPath("events.csv");
  Vexa::RecordingInfo info = infoFor(100, {{2, 1, 1, 16}});
  info.descriptions = {{"EMG, \"left\"", "mV", -5, 5}};
  for (const std::string& path : {bdf, csv}) {
    Vexa::Recorder rec(path, info);
    rec.addMarker("warm-up\tdone");
    feed(rec, info, 0, 6);
    rec.addEvent(Vexa::Events::DigitalInput{{Vexa::Event::kDigitalInput}, 2, 5, 1, true});
    rec.addEvent(Vexa::Events::Value{{Vexa::Event::kValue}, 0});  // not recorded
    rec.addMarker("level 2, reached");
    feed(rec, info, 6, 11);
    feed(rec, info, 20, 30);
    rec.addMarker(kLongMarker);
    rec.addEvent(Vexa::Events::Disconnect{{Vexa::Event::kDisconnect}, 3});
    rec.close();
    EXPECT_EQ(rec.counters().lostTicks, 9u);
    EXPECT_EQ(rec.counters().instantsWritten, 21u);
  }
  const std::vector<Annotation> notes = {
      {0, -1, "Marker: warm-up done"},
      {500000, -1, "Digital input 1: 1 (clock source 2, clock value 5)"},
      {500000, -1, "Marker: level 2, reached"},
      {1100000, 900000, "BAD_lost 9 ticks: sequence jumped from 10 to 20"},
      {2900000, -1, "Marker: " + kLongMarker.substr(0, 391)},
      {2900000, -1, "Disconnect (reason 3)"},
      {3000000, 7000000, "BAD_padding"},
      {3000000, -1, "Recording ends"},
  };
  // Ticks 11 to 19 were lost: filled with tick 10's value.
  const RecordedChannel ch = info.channels[0];
  std::vector<int> samples = fedSamples(ch, 0, 0, 29, 100);
  std::fill(samples.begin() + 11, samples.begin() + 20, samples[10]);
  for (auto [name, read] : readers()) {
    SCOPED_TRACE(name);
    ReadBack r = read(bdf);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.annotations, notes);
    EXPECT_EQ(r.samples[0], samples);
  }
  // RFC 4180: quoted where a field holds a comma or a quote, CRLF.
  std::string rows = "tick,seconds,\"EMG, \"\"left\"\" [mV]\",marker\r\n";
  for (int t = 0; t < 30; ++t) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%g", t / 100.0);
    const std::string notes[30] = {
        {"Marker: warm-up done"}, {}, {}, {}, {},
        {"\"Digital input 1: 1 (clock source 2, clock value 5) | Marker: level 2, reached\""}, {}, {}, {}, {}, {},
        {"BAD_lost 9 ticks: sequence jumped from 10 to 20"}};
    const std::string last = "Marker: " + kLongMarker + " | Disconnect (reason 3)";
    rows += std::to_string(t) + "," + seconds + "," + (t > 10 && t < 20 ? "" : std::to_string(pattern(ch, 0, t))) +
            "," + (t == 29 ? last : notes[t]) + "\r\n";
  }
  EXPECT_EQ(slurp(csv), rows);
  fs::remove(bdf);
  fs::remove(csv);
}

// A ring of two instants cannot keep up with a burst: the refused instants
// are counted, noted in the file and their ticks filled.
TEST(RecorderBdf, OverflowIsCountedAndNoted) {
  const std::string path = tempPath("overflow.bdf");
  const auto info = infoFor(1000, {{1, 0, 1, 16}});
  const int kTicks = 20000;
  Vexa::RecorderCounters counters;
  {
    Vexa::Recorder rec(path, info, 2);
    feed(rec, info, 0, kTicks);
    rec.close();
    counters = rec.counters();
  }
  EXPECT_GT(counters.droppedInstants, 0u);
  EXPECT_EQ(counters.instantsWritten + counters.droppedInstants, static_cast<uint64_t>(kTicks));
  for (auto [name, read] : readers()) {
    SCOPED_TRACE(name);
    ReadBack r = read(path);
    ASSERT_TRUE(r.ok);
    // Each BAD_overflow note covers exactly the ticks filled with the value
    // before them; a BAD_gaps note (gap notes beyond their bound) covers
    // its filled ticks and the data between them.
    uint64_t noted = 0;
    ASSERT_EQ(r.samples[0].size(), static_cast<size_t>(kTicks));
    std::vector<int> filled(kTicks);  // 1: filled, 2: perhaps filled
    for (const Annotation& a : r.annotations) {
      unsigned long long n = 0, gaps = 0;
      int kind = 1;
      if (std::sscanf(a.text.c_str(), "BAD_gaps %llu ticks without data in %llu gaps", &n, &gaps) == 2) {
        kind = 2;
      } else if (std::sscanf(a.text.c_str(), "BAD_overflow %llu instants dropped", &n) == 1) {
        EXPECT_EQ(a.duration, static_cast<long long>(n) * 10000);
      } else {
        continue;
      }
      noted += n;
      for (long long t = a.onset / 10000; t < (a.onset + a.duration) / 10000; ++t) filled[t] = kind;
    }
    EXPECT_EQ(noted, counters.droppedInstants);
    int bad = 0;
    for (int t = 1; t < kTicks; ++t) {
      const int fed = pattern(info.channels[0], 0, t), held = r.samples[0][t - 1];
      bad += filled[t] == 0 ? r.samples[0][t] != fed
                            : filled[t] == 1 ? r.samples[0][t] != held : r.samples[0][t] != fed && r.samples[0][t] != held;
    }
    EXPECT_EQ(bad, 0);
  }
  fs::remove(path);
}

// A copy taken while recording (as a killed process leaves the file) holds
// every record flushed so far.
TEST(RecorderBdf, FileCutShortKeepsFlushedRecords) {
  const std::string path = tempPath("cut.bdf"), copy = tempPath("cut_copy.bdf");
  const auto info = infoFor(100, {{1, 0, 1, 24}, {1, 1, 2, 8}});
  Vexa::Recorder rec(path, info);
  feed(rec, info, 0, 350);
  const uint64_t threeRecords = 256 * 4 + 3 * (3 * 100 + 3 * 50 + 1536);
  ASSERT_TRUE(eventually([&] { return rec.counters().bytesWritten >= threeRecords; }));
  fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
  for (auto [name, read] : readers()) {
    SCOPED_TRACE(name);
    ReadBack r = read(copy);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.records, 3);
    EXPECT_EQ(r.samples[0], fedSamples(info.channels[0], 0, 0, 299, 300));
  }
  rec.close();
  EXPECT_EQ(readOwn(path).records, 4);
  fs::remove(path);
  fs::remove(copy);
}

// Notes never add data: a burst far beyond the annotation space, and a
// note after the last instant, leave the file as long as the ticks fed,
// rounded up to a record. Beyond their bounds markers are refused and
// digital-input changes folded; what has no room at the end is summarised.
TEST(RecorderBdf, NotesNeverLengthenTheFile) {
  const std::string burst = tempPath("burst.bdf"), after = tempPath("after.bdf");
  const auto info = infoFor(1000, {{1, 0, 1, 16}});
  int accepted = 0;
  Vexa::RecorderCounters counters;
  {
    Vexa::Recorder rec(burst, info);
    feed(rec, info, 0, 100);
    // No note reaches the file before the first record completes at tick
    // 999, so the bounds are met exactly: markers as many as the last
    // record could still write (1100 bytes at 24 more than their text).
    auto burst = [&] {
      for (int i = 0; i < 2000; ++i) accepted += rec.addMarker("m" + std::to_string(i));
    };
    burst();
    const Vexa::Events::DigitalInput in{{Vexa::Event::kDigitalInput}, 0, 0, 0, false};
    for (int i = 0; i < 1500; ++i) rec.addEvent(in);
    feed(rec, info, 100, 2000);
    // Written with the first record, the markers free their room; the
    // second burst waits for the data's last record, full of inputs.
    ASSERT_TRUE(eventually([&] { return rec.counters().instantsWritten == 2000; }));
    burst();
    rec.close();
    counters = rec.counters();
  }
  EXPECT_EQ(accepted, 2 * (10 + 21));
  EXPECT_EQ(counters.notesSummarised, 1500u - 256);
  {
    // A CSV row takes its notes at once, which frees their places.
    Vexa::Recorder rec(tempPath("burst.csv"), info);
    for (int i = 0; i < 1000; ++i) accepted += rec.addMarker("m");
    EXPECT_FALSE(rec.addMarker("m"));
    feed(rec, info, 0, 1);
    ASSERT_TRUE(eventually([&] { return rec.counters().instantsWritten == 1; }));
    EXPECT_TRUE(rec.addMarker("m"));
  }
  fs::remove(tempPath("burst.csv"));
  const auto afterInfo = infoFor(100, {{1, 0, 1, 16}});
  {
    Vexa::Recorder rec(after, afterInfo);
    feed(rec, afterInfo, 0, 300);
    rec.addMarker("after the last instant");
  }
  for (auto [name, read] : readers()) {
    SCOPED_TRACE(name);
    ReadBack r = read(burst);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.records * r.recordDuration, 20000000);
    const Annotation folded = {990000, -1, "1244 digital-input changes between 0.099 and 0.099"};
    EXPECT_EQ(std::count(r.annotations.begin(), r.annotations.end(), folded), 1);
    // Every accepted marker is in the file on its own; every digital input
    // alone or counted in a summary.
    unsigned long long markers = 0, alone = 0, left = 0, n = 0;
    char end = 0;
    for (const Annotation& a : r.annotations) {
      markers += a.text.rfind("Marker: m", 0) == 0;
      alone += a.text.rfind("Digital input 0: 0", 0) == 0;
      if (std::sscanf(a.text.c_str(), "%llu notes between 0.099 and 0.099 not written: no room lef%c", &n, &end) == 2) {
        left += n;
      }
    }
    EXPECT_EQ(markers, 62u);
    // Beside the first burst 2 fit, beside the second and the fold 5: each
    // note is counted with the 9 bytes its onset may grow by on a new base.
    EXPECT_EQ(alone, 7u);
    EXPECT_EQ(left, 256u - 7);
    r = read(after);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.records * r.recordDuration, 30000000);
    EXPECT_EQ(r.annotations, std::vector<Annotation>({{29900000, -1, "Marker: after the last instant"}}));
  }
  fs::remove(burst);
  fs::remove(after);
}

// A file that may not grow past a limit (as on a full disk): the writer
// notices while the recording runs, stops taking instants and cuts the
// file back to its last complete record (CSV: row), with a header to
// match; close() reports the first failure once. Run in a child, whose
// file-size limit and ignored SIGXFSZ stay there.
TEST(Recorder, WriteFailureCutsTheFileBack) {
  const auto info = infoFor(1000, {{1, 0, 1, 16}, {2, 0, 4, 24}});
  const long recordBytes = 3 * 1000 + 3 * 250 + 1536, limit = 256 * 4 + 3 * recordBytes + 1000;
  for (const std::string& path : {tempPath("limit.bdf"), tempPath("limit.csv")}) {
    SCOPED_TRACE(path);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit size = {static_cast<rlim_t>(limit), RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &size);
      Vexa::Recorder rec(path, info);
      feed(rec, info, 0, 5000);
      if (!eventually([&] { return !rec.failure().empty(); })) _exit(2);
      if (rec.failure() != "write: File too large (errno 27)") _exit(3);
      const uint64_t dropped = rec.counters().droppedInstants;
      feed(rec, info, 5000, 5010);
      if (rec.counters().droppedInstants != dropped + 10) _exit(4);
      try {
        rec.close();
        _exit(5);
      } catch (const Vexa::NotifException& e) {
        if (e.detail() != rec.failure() || !rec.counters().writeFailed) _exit(6);
      }
      try {
        rec.close();  // the failure was reported once
      } catch (...) {
        _exit(7);
      }
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (path.back() == 'v') {
      const std::string text = slurp(path);
      ASSERT_GT(text.size(), 2u);
      EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
      EXPECT_LE(text.size(), static_cast<size_t>(limit));
      fs::remove(path);
      continue;
    }
    EXPECT_EQ(fs::file_size(path), static_cast<uintmax_t>(256 * 4 + 3 * recordBytes));
    EXPECT_EQ(Vexa::BdfReader(path).header().recordsInHeader, 3);
    for (auto [name, read] : readers()) {
      SCOPED_TRACE(name);
      ReadBack r = read(path);
      ASSERT_TRUE(r.ok);
      EXPECT_EQ(r.samples[0], fedSamples(info.channels[0], 0, 0, 2999, 3000));
    }
    fs::remove(path);
  }
}

// Labels, units, physical ranges, subject and note reach the header where
// EDFlib finds them and come back from the own reader; the layout a replay
// needs stays readable, also in a file of the earlier layout (port and
// channel in the label, "divisor D bits B" as transducer).
TEST(RecorderBdf, DescriptionsRoundTrip) {
  const std::string path = tempPath("described.bdf");
  auto info = infoFor(500, {{1, 0, 1, 16}, {3, 5, 2, 24}, {4, 1, 1, 8}});
  info.descriptions = {{"EMG left", "uV", -3276.8, 3276.7}, {"", "mV", 0, 0}, {"Port 9 Ch 9", "", 0, -40}};  // one end 0 is still a range
  info.subject = "Jane Doe";
  info.note = "trial 3";
  {
    Vexa::Recorder rec(path, info);
    feed(rec, info, 0, 10);
  }
  const ReadBack r = readers().front().second(path);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.labels, std::vector<std::string>({"EMG left", "Port 3 Ch 5", "Port 9 Ch 9"}));
  EXPECT_EQ(r.units, std::vector<std::string>({"uV", "mV", ""}));
  EXPECT_EQ(r.physicalMin, std::vector<double>({-3276.8, -8388608, 0}));
  EXPECT_EQ(r.physicalMax, std::vector<double>({3276.7, 8388607, -40}));
#ifdef VEXA_HAVE_EDFLIB
  EXPECT_EQ(r.patientName, "Jane Doe");
  EXPECT_EQ(r.recordingExtra, "517 3.7 COM/dev/pts/3 trial 3");
#endif
  auto back = Vexa::BdfReader(path).recordingInfo();
  EXPECT_EQ(layout(back.channels), layout(info.channels));
  EXPECT_EQ(std::tie(back.subject, back.note), std::make_tuple("Jane_Doe", "trial 3"));
  const auto fields = [](const Vexa::ChannelDescription& d) {
    return std::make_tuple(d.label, d.unit, d.physicalMin, d.physicalMax);
  };
  ASSERT_EQ(back.descriptions.size(), 3u);  // a label naming another port is only a label
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fields(back.descriptions[i]), fields(info.descriptions[i])) << i;
  // The earlier layout: transducer "divisor 2 bits 24", port and channel in
  // the label.
  std::string text = slurp(path);
  const size_t labels = 256, transducers = labels + 16 * 4;
  text.replace(labels + 16, 16, "Port 3 Ch 5     ");
  text.replace(transducers + 80, 80, std::string("divisor 2 bits 24") + std::string(63, ' '));
  std::ofstream(path, std::ios::binary) << text;
  back = Vexa::BdfReader(path).recordingInfo();
  EXPECT_EQ(layout(back.channels), layout(info.channels));
  fs::remove(path);
}

// The wall clock's reading minus the host clock's.
double wallMinusHost() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() -
         Vexa::hostTime();
}

// A BDF+ file's start against a wall-clock time: the header's date, and its
// time of day with the first record's fraction as each reader gives it.
void expectStart(const std::string& bdf, double wall, double within) {
  const std::time_t whole = static_cast<std::time_t>(std::floor(wall));
  std::tm local{};
  localtime_r(&whole, &local);
  const double ofDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + (wall - whole);
  const Vexa::RecordingStart date = Vexa::BdfReader(bdf).recordingInfo().start;
  EXPECT_EQ(std::make_tuple(date.year, date.month, date.day),
            std::make_tuple(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday));
  for (auto [name, read] : readers()) {
    const ReadBack r = read(bdf);
    const double fileOfDay = r.startHour * 3600 + r.startMinute * 60 + r.startSecond + r.startSubsecond * 1e-7;
    EXPECT_NEAR(std::remainder(fileOfDay - ofDay, 86400), 0, within) << name;
  }
}

// A simulated device whose crystal runs fast and whose messages come late,
// its clock signal on port 1 (the microseconds of hostTime() at which each
// instant was due), recorded with the acquisition's fitted clock into a
// BDF+ file and, without the clock, a BDF+ file as earlier versions wrote
// them.
class ClockedRecording : public Vexa::SignalsDev {
 public:
  explicit ClockedRecording(const std::string& path)
      : SignalsDev(path, vexa_sim::openSimulatedDevice(path)) {}
  bool onRawFrame(int, const int data[]) override {
    const int64_t tick = deliveredTick();
    if (truth.empty()) first = tick;
    const double now = Vexa::hostTime();
    const uint32_t micros = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 16;
    const int32_t age = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(now * 1e6)) - micros);
    truth.resize(static_cast<size_t>(tick - first + 1), NAN);
    truth.back() = now - age * 1e-6;
    for (auto& r : recorders) r->addInstant(tick, data, 2);
    return tick - first + 1 >= 2500;
  }
  std::vector<std::unique_ptr<Vexa::Recorder>> recorders;
  std::vector<double> truth;  // per tick from the first
  int64_t first = 0;
};

TEST(RecorderClock, StartAndNotesOnTheHostClock) {
  const std::string bdf = tempPath("clock.bdf"), old = tempPath("old.bdf");
  const auto info = infoFor(1000, {{1, 0, 1, 16}, {1, 1, 1, 16}});
  ClockedRecording dev("SIM:current --clock-ppm 200 --jitter-ms 5 --pattern clock");
  Vexa::RecorderOptions withClock;
  withClock.clock = &dev.tickTimes();
  for (const auto& [path, options] : {std::make_pair(bdf, withClock), {old, {}}}) {
    dev.recorders.push_back(std::make_unique<Vexa::Recorder>(path, info, options));
  }
  const double wallOffset = wallMinusHost();
  dev.setTimeout(2000);
  dev.start(1000, {{1, 1, 16, 0x3}});
  dev.loop();
  dev.stop();
  for (auto& r : dev.recorders) r->close();
  ASSERT_EQ(dev.truth.size(), 2500u);

  // The header's time and the first record's onset: the first instant on
  // the wall clock, to the fit's error.
  expectStart(bdf, dev.truth[0] + wallOffset, 3e-3);
  for (auto [name, read] : readers()) {
    SCOPED_TRACE(name);
    const ReadBack r = read(bdf);
    ASSERT_TRUE(r.ok);
    // EDFlib gives onsets from the first record, the file from the header's time.
    const long long from = std::string(name) == "EDFlib" ? 0 : r.startSubsecond;
    int hostNotes = 0;
    for (const Annotation& a : r.annotations) {
      SCOPED_TRACE(a.text);
      double noted = 0;
      if (std::sscanf(a.text.c_str(), "host time %lf", &noted) == 1) {
        ++hostNotes;
        EXPECT_EQ(a.onset, from);
        EXPECT_NEAR(noted, dev.truth[0], 10e-3);
      }
    }
    EXPECT_EQ(hostNotes, 1);
  }
  // Replay ends where the data ends, whatever the header's fraction.
  for (const std::string& path : {bdf, old}) {
    EXPECT_EQ(vexa_sim::ReplayModel({}, path).recordedTicks(), 2500) << path;
  }
  for (const std::string& path : {bdf, old}) fs::remove(path);
}

// A fit fed by hand moves after the first record is written: the first
// arrivals came 0.8 s late, or none had come yet. At close the header's
// start with the first record's fraction is the settled fit's time of the
// first instant, the first host-time note reads the settled fit too, and
// every note keeps its place counted from it, also where
// areas full of notes grow by a fraction on the new base. Markers
// placed by host time go to their instants; in a CSV file one up to a
// second old still finds its own row, an older one names its tick.
TEST(RecorderClock, StartFollowsTheSettledFitAtClose) {
  const std::string bdf = tempPath("settled.bdf"), csv = tempPath("settled.csv");
  const auto info = infoFor(100, {{1, 0, 1, 16}});
  const double wallOffset = wallMinusHost();
  for (const bool lateAtFirst : {true, false}) {
    SCOPED_TRACE(lateAtFirst ? "late arrivals at the first record" : "no arrival at the first record");
    Vexa::TickTimeFit fit;
    fit.start(100);
    Vexa::RecorderOptions options;
    options.clock = &fit;
    Vexa::Recorder rec(bdf, info, options), rows(csv, info, options);
    // Digital-input notes fill the first areas (markers are bounded lower).
    const Vexa::Events::DigitalInput burst{{Vexa::Event::kDigitalInput}, 0, 7, 3, false};
    for (int i = 0; i < 30; ++i) rec.addEvent(burst);
    const double base = 5000.25;  // the host time of tick 0
    for (int64_t t = 0; t < 250; ++t) {
      feed(rec, info, t, t + 1);
      feed(rows, info, t, t + 1);
      if (t % 10 == 9 && (lateAtFirst || t >= 110)) fit.addArrival(t, base + t / 100.0 + (t < 110 ? 0.8 : 0.001));
      if (t == 37) rec.addMarker("early");
      if (t == 109 || t == 240) {
        const auto past = static_cast<uint64_t>(t);  // the fit moves, the old marker's row is written
        ASSERT_TRUE(eventually(
            [&] { return rec.counters().instantsWritten > past && rows.counters().instantsWritten > past; }));
      }
      if (t == 150) rec.addEvent(Vexa::Events::DigitalInput{{Vexa::Event::kDigitalInput}, 2, 142, 1, true}, 142);
      if (t == 230) rec.addMarker("late");
      if (t == 240) {
        for (Vexa::Recorder* r : {&rec, &rows}) {
          // A CSV file holds rows 141 to 240 now.
          for (const auto& [text, tick] :
               {std::make_pair("back", 200), {"edge", 141}, {"old", 100}, {"ahead", 245}}) {
            EXPECT_TRUE(r->addMarkerAt(text, fit.timeOf(tick)));
          }
          EXPECT_FALSE(r->addMarkerAt("never", NAN));
        }
      }
    }
    rec.close();
    rows.close();
    EXPECT_FALSE(rec.addMarkerAt("closed", fit.timeOf(249)));
    expectStart(bdf, fit.timeOf(0) + wallOffset, 1e-3);
    for (auto [name, read] : readers()) {
      SCOPED_TRACE(name);
      ReadBack r = read(bdf);
      ASSERT_TRUE(r.ok);
      EXPECT_EQ(r.samples[0], fedSamples(info.channels[0], 0, 0, 249, 300));
      // EDFlib gives onsets from the first record, the file from the header's time.
      const long long from = std::string(name) == "EDFlib" ? 0 : r.startSubsecond;
      const Annotation m = {from, -1, "Digital input 3: 0 (clock source 0, clock value 7)"};
      EXPECT_EQ(std::count(r.annotations.begin(), r.annotations.end(), m), 30);
      std::vector<Annotation> expected = {
          {10000000, -1, "Marker: old"}, {14200000, -1, "Digital input 1: 1 (clock source 2, clock value 142)"},
          {20000000, -1, "Marker: back"}, {23000000, -1, "Marker: late"}, {24500000, -1, "Marker: ahead"},
          {14100000, -1, "Marker: edge"},
          {25000000, 5000000, "BAD_padding"}, {25000000, -1, "Recording ends"}, {3700000, -1, "Marker: early"}};
      for (Annotation& a : expected) a.onset += from;
      // The first (here only) host-time note, written early, reads the settled fit.
      double noted = 0;
      EXPECT_EQ(std::count_if(r.annotations.begin(), r.annotations.end(), [&](const Annotation& a) {
                  return std::sscanf(a.text.c_str(), "host time %lf", &noted) == 1 &&
                         std::abs(noted - fit.timeOf((a.onset - from) / 100000)) < 1e-6;
                }), 1);
      r.annotations.erase(std::remove_if(r.annotations.begin(), r.annotations.end(), [&](const Annotation& a) {
                            return a == m || a.text.rfind("host time ", 0) == 0;
                          }), r.annotations.end());
      std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.text < b.text; });
      std::sort(r.annotations.begin(), r.annotations.end(), [](auto& a, auto& b) { return a.text < b.text; });
      EXPECT_EQ(r.annotations, expected);
    }
    EXPECT_EQ(vexa_sim::ReplayModel({}, bdf).recordedTicks(), 250);
    // The CSV rows that carry notes: tick and marker field.
    std::istringstream lines(slurp(csv));
    std::vector<std::pair<std::string, std::string>> marked;
    for (std::string line; std::getline(lines, line);) {
      const std::string marker = line.substr(line.rfind(',') + 1), tick = line.substr(0, line.find(','));
      if (marker.rfind("host time ", 0) == 0) {
        EXPECT_NEAR(std::stod(marker.substr(10)), fit.timeOf(std::stoll(tick)), 1e-6) << line;
      } else if (marker != "\r" && marker != "marker\r") {
        marked.push_back({tick, marker});
      }
    }
    EXPECT_EQ(marked, (std::vector<std::pair<std::string, std::string>>{
                          {"141", "Marker: edge\r"}, {"200", "Marker: back\r"},
                          {"240", "Marker: old (tick 100)\r"}, {"245", "Marker: ahead\r"}}));
  }
  fs::remove(bdf);
  fs::remove(csv);
}

// A marker by host time whose instant the fit never names (no arrival came)
// is kept, at the last instant.
TEST(RecorderClock, MarkerWithoutAFitLandsAtTheEnd) {
  const std::string path = tempPath("unfitted.csv");
  Vexa::TickTimeFit fit;
  fit.start(100);
  Vexa::RecorderOptions options;
  options.clock = &fit;
  {
    Vexa::Recorder rec(path, infoFor(100, {{1, 0, 1, 16}}), options);
    EXPECT_TRUE(rec.addMarkerAt("unplaced", 12.5));
    const int32_t sample = 3;
    for (int64_t t = 40; t < 45; ++t) rec.addInstant(t, &sample, 1);
  }
  EXPECT_NE(slurp(path).find("\r\n44,0.44,,3,Marker: unplaced\r\n"), std::string::npos) << slurp(path);
  fs::remove(path);
}

TEST(Recorder, RefusesBadInput) {
  const auto good = infoFor(1000, {{1, 0, 1, 16}});
  auto with = [&](auto change) {
    Vexa::RecordingInfo i = good;
    change(i);
    return i;
  };
  // Divisors whose least common multiple no BDF+ record holds; CSV takes them.
  const auto wide = with([](auto& i) { i.channels = {{1, 0, 4999, 16}, {2, 0, 4993, 16}, {3, 0, 4987, 16}}; });
  const std::string dir = tempPath("bad");
  fs::create_directories(dir);
  auto described = [&](std::vector<Vexa::ChannelDescription> d) { return with([&](auto& i) { i.descriptions = d; }); };
  // what, path, recording, part of the refusal's detail
  const std::tuple<const char*, std::string, Vexa::RecordingInfo, const char*> cases[] = {
      {"unknown extension", dir + "/r.txt", good, ""},
      {"folder missing", dir + "/none/r.bdf", good, "create "},
      {"no channel", dir + "/r.bdf", with([](auto& i) { i.channels.clear(); }), ""},
      {"divisor 0", dir + "/r.csv", with([](auto& i) { i.channels[0].freqDivisor = 0; }), ""},
      {"17 bits", dir + "/r.bdf", with([](auto& i) { i.channels[0].nBits = 17; }), ""},
      {"frequency 0", dir + "/r.bdf", with([](auto& i) { i.baseFrequency = 0; }), ""},
      {"513 channels", dir + "/r.bdf", with([](auto& i) { i.channels.assign(513, {1, 0, 1, 16}); }), ""},
      {"month 13", dir + "/r.bdf", with([](auto& i) { i.start.month = 13; }), ""},
      {"year 1984", dir + "/r.csv", with([](auto& i) { i.start.year = 1984; }), ""},
      {"second 60", dir + "/r.bdf", with([](auto& i) { i.start.second = 60; }), ""},
      {"no BDF+ record fits", dir + "/r.bdf", wide, ""},
      {"label of 17 on the second channel", dir + "/r.bdf", with([](auto& i) {
         i.channels.push_back({2, 0, 1, 16});
         i.descriptions = {{}, {"ABCDEFGHIJKLMNOPQ"}};
       }), "channel 1 label has 17 characters"},
      {"unit with a tab", dir + "/r.csv", described({{"", "m\tV"}}), "channel 0 unit holds a character"},
      {"equal physical ends", dir + "/r.bdf", described({{"", "", 2.5, 2.5}}), "both ends are 2.5"},
      {"physical end of 10 characters", dir + "/r.bdf", described({{"", "", -123456789, 1}}), "not fit 8"},
      {"two descriptions, one channel", dir + "/r.bdf", described({{}, {}}), "2 channel descriptions for 1"},
      {"subject with a line break", dir + "/r.csv", with([](auto& i) { i.subject = "a\nb"; }), "subject holds"},
      {"note beyond the field", dir + "/r.bdf", with([](auto& i) { i.note = std::string(18, 'n'); }),
       "note has 18 characters; this recording's header has room for 17"},
  };
  for (const auto& [name, path, info, detail] : cases) {
    try {
      Vexa::Recorder rec(path, info);
      ADD_FAILURE() << name << " taken";
    } catch (const Vexa::Error::InvalidParameter& e) {
      EXPECT_NE(e.detail().find(detail), std::string::npos) << name << ": " << e.detail();
    }
  }
  EXPECT_TRUE(fs::is_empty(dir)) << "a refused recorder left a file";
  EXPECT_NO_THROW(Vexa::Recorder(dir + "/512.bdf", with([](auto& i) { i.channels.assign(512, {1, 0, 1, 16}); }), 1));
  EXPECT_NO_THROW(Vexa::Recorder(dir + "/wide.csv", wide, 1));

  Vexa::Recorder rec(dir + "/r.CSV", good);
  const int32_t s[2] = {1, 2};
  rec.addInstant(5, s, 1);
  EXPECT_THROW(rec.addInstant(6, s, 2), Vexa::Error::InvalidParameter);
  EXPECT_THROW(rec.addInstant(5, s, 1), Vexa::Error::InvalidParameter);
  EXPECT_THROW(rec.addInstant(6 + (1 << 20) + 1, s, 1), Vexa::Error::InvalidParameter);
  rec.addInstant(6 + (1 << 20), s, 1);  // the longest jump taken
  rec.close();
  rec.addInstant(3, s, 1);  // after close(): only counted
  EXPECT_EQ(rec.counters().instantsWritten, 2u);
  EXPECT_EQ(rec.counters().lostTicks, 1u << 20);
  EXPECT_EQ(rec.counters().droppedInstants, 1u);

  const std::string valid = tempPath("valid.bdf");
  {
    Vexa::Recorder ok(valid, good);
    feed(ok, good, 0, 10);
  }
  const std::string text = slurp(valid);
  const std::pair<const char*, std::string> files[] = {
      {"CSV text", "tick,a\n0,1\n"},
      {"header cut short", text.substr(0, 300)},
      {"signal count 0", text.substr(0, 252) + "0   " + text.substr(256)},
      {"record duration 0", text.substr(0, 244) + "0       " + text.substr(252)},
      {"no annotation signal", text.substr(0, 256 + 16) + std::string(16, ' ') + text.substr(256 + 32)},
  };
  for (const auto& [name, bytes] : files) {
    std::ofstream(dir + "/f.bdf", std::ios::binary) << bytes;
    EXPECT_THROW(Vexa::BdfReader(dir + "/f.bdf"), Vexa::Error::InvalidParameter) << name;
  }
  fs::remove_all(dir);
  fs::remove(valid);
}

}  // namespace
}  // namespace vexa_test
