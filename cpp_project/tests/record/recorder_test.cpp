// The recorder's files read back by EDFlib and by the library's own reader:
// every sample against what was fed, rates, ranges, annotations, gaps,
// overflow, a file cut short; the CSV text; and refusals of bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "record/read_back.h"
#include "support/eventually.h"
#include "vexa/exceptions.h"
#include "vexa/recorder.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_test {
namespace {

namespace fs = std::filesystem;
using Vexa::RecordedChannel;

std::string tempPath(const std::string& name) {
  return (fs::temp_directory_path() / ("vexa_rec_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                       "_" + name)).string();
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

std::string slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
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
  Vexa::RecordingStart start;
};

TEST(RecorderBdf, SamplesRatesAndRangesReadBack) {
  const std::vector<BdfCase> cases = {
      {"divisor 1, two channels", 1000, {{1, 0, 1, 16}, {1, 3, 1, 16}}, 0, 2500, pattern, 10000000,
       {2024, 5, 17, 9, 8, 7}},
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
  };
  for (const BdfCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath("samples.bdf");
    const auto info = infoFor(c.f, c.channels, c.start);
    {
      Vexa::Recorder rec(path, info);
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
        ASSERT_EQ(r.samples[i].size(), static_cast<size_t>(records * r.perRecord[i]));
        // Sample j belongs to tick first + j * divisor; past the end the
        // record is padded with the last values.
        const int64_t last = c.first + c.ticks - 1;
        int bad = 0;
        for (size_t j = 0; j < r.samples[i].size(); ++j) {
          const int64_t t = std::min<int64_t>(c.first + static_cast<int64_t>(j) * ch.freqDivisor, last);
          bad += r.samples[i][j] != c.gen(ch, static_cast<int>(i), t);
        }
        EXPECT_EQ(bad, 0) << "channel " << i;
      }
      const std::vector<Annotation> ends = {{c.ticks * 10000000LL / static_cast<long long>(c.f), -1, "Recording ends"}};
      EXPECT_EQ(r.annotations, c.ticks % ticksPerRecord ? ends : std::vector<Annotation>{});
    }
    const Vexa::RecordingInfo back = Vexa::BdfReader(path).recordingInfo();
    EXPECT_EQ(std::tie(back.deviceType, back.productId, back.firmware, back.path),
              std::tie(info.deviceType, info.productId, info.firmware, info.path));
    EXPECT_DOUBLE_EQ(back.baseFrequency, c.f);
    const Vexa::RecordingStart& s = back.start;
    EXPECT_EQ(std::vector<int>({s.year, s.month, s.day, s.hour, s.minute, s.second}),
              std::vector<int>({c.start.year, c.start.month, c.start.day, c.start.hour, c.start.minute,
                                c.start.second}));
    EXPECT_EQ(layout(back.channels), layout(c.channels));
    fs::remove(path);
  }
}

// 100 Hz, one 16-bit channel: a marker before the first instant, a digital
// input and a marker at tick 5, the sequence jumping from 10 to 20, a long
// marker and a disconnect at tick 29.
Vexa::RecordingInfo scenarioInfo() { return infoFor(100, {{2, 1, 1, 16}}); }
// "Marker: " and this make 402 bytes; byte 400 is inside the second Omega.
const std::string kLongMarker = std::string(389, 'x') + "\xCE\xA9\xCE\xA9";

void playScenario(Vexa::Recorder& rec) {
  const auto info = scenarioInfo();
  Vexa::Events::DigitalInput in{};
  in.type = Vexa::Event::kDigitalInput;
  in.clockSource = 2;
  in.clockValue = 5;
  in.input = 1;
  in.state = true;
  Vexa::Events::Disconnect off{};
  off.type = Vexa::Event::kDisconnect;
  off.reason = 3;
  Vexa::Events::Value other{};
  other.type = Vexa::Event::kValue;
  rec.addMarker("warm-up\tdone");
  feed(rec, info, 0, 6);
  rec.addEvent(in);
  rec.addEvent(other);  // not recorded
  rec.addMarker("level 2 reached");
  feed(rec, info, 6, 11);
  feed(rec, info, 20, 30);
  rec.addMarker(kLongMarker);
  rec.addEvent(off);
  rec.close();
  EXPECT_EQ(rec.counters().lostTicks, 9u);
  EXPECT_EQ(rec.counters().instantsWritten, 21u);
}

TEST(RecorderFiles, ScenarioInBdfAndCsv) {
  const std::string bdf = tempPath("events.bdf"), csv = tempPath("events.csv");
  for (const std::string& path : {bdf, csv}) {
    Vexa::Recorder rec(path, scenarioInfo());
    playScenario(rec);
  }
  const std::vector<Annotation> notes = {
      {0, -1, "Marker: warm-up done"},
      {500000, -1, "Digital input 1: 1 (clock source 2, clock value 5)"},
      {500000, -1, "Marker: level 2 reached"},
      {1100000, 900000, "Lost 9 ticks: sequence jumped from 10 to 20"},
      {2900000, -1, "Marker: " + kLongMarker.substr(0, 391)},
      {2900000, -1, "Disconnect (reason 3)"},
      {3000000, -1, "Recording ends"},
  };
  const RecordedChannel ch = scenarioInfo().channels[0];
  for (auto [name, read] : readers()) {
    SCOPED_TRACE(name);
    ReadBack r = read(bdf);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.annotations, notes);
    ASSERT_EQ(r.samples[0].size(), 100u);
    for (int t = 0; t < 30; ++t) {
      EXPECT_EQ(r.samples[0][t], pattern(ch, 0, t < 11 || t >= 20 ? t : 10)) << "tick " << t;
    }
  }
  std::string rows =
      "# Vexa recording\n# device type: tessarimodular\n# product identifier: 517\n# firmware: 3.7\n"
      "# path: COM/dev/pts/3\n# start: 2024-05-17 09:08:07\n# base frequency: 100 Hz\n"
      "# channel port 2 ch 1: freqDivisor 1, nBits 16\ntick,port 2 ch 1\n# tick 0: Marker: warm-up done\n";
  for (int t = 0; t < 30; ++t) {
    if (t == 11) rows += "# tick 11 for 9 ticks: Lost 9 ticks: sequence jumped from 10 to 20\n";
    rows += std::to_string(t) + "," + (t > 10 && t < 20 ? "" : std::to_string(pattern(ch, 0, t))) + "\n";
    if (t == 5) rows += "# tick 5: Digital input 1: 1 (clock source 2, clock value 5)\n# tick 5: Marker: level 2 reached\n";
  }
  rows += "# tick 29: Marker: " + kLongMarker + "\n# tick 29: Disconnect (reason 3)\n";
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
    // Each note covers exactly the ticks filled with the value before them.
    uint64_t noted = 0;
    ASSERT_EQ(r.samples[0].size(), static_cast<size_t>(kTicks));
    std::vector<bool> filled(kTicks);
    for (const Annotation& a : r.annotations) {
      unsigned long long n = 0;
      if (std::sscanf(a.text.c_str(), "Recorder overflow: %llu instants dropped", &n) != 1) continue;
      noted += n;
      EXPECT_EQ(a.duration, static_cast<long long>(n) * 10000);
      for (long long t = a.onset / 10000; t < a.onset / 10000 + static_cast<long long>(n); ++t) filled[t] = true;
    }
    EXPECT_EQ(noted, counters.droppedInstants);
    int bad = 0;
    for (int t = 1; t < kTicks; ++t) {
      bad += r.samples[0][t] != (filled[t] ? r.samples[0][t - 1] : pattern(info.channels[0], 0, t));
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
    ASSERT_EQ(r.samples[0].size(), 300u);
    for (int t = 0; t < 300; ++t) EXPECT_EQ(r.samples[0][t], pattern(info.channels[0], 0, t)) << t;
  }
  rec.close();
  EXPECT_EQ(readOwn(path).records, 4);
  fs::remove(path);
  fs::remove(copy);
}

// A disk that fills after the header: close() reports the first failure,
// the counters show it, and a later close() or the destructor stays quiet.
TEST(Recorder, WriteFailureReachesClose) {
  const std::string full = tempPath("full.csv");
  fs::create_symlink("/dev/full", full);
  const auto info = infoFor(1000, {{1, 0, 1, 16}, {2, 0, 1, 16}});
  Vexa::Recorder rec(full, info);
  feed(rec, info, 0, 2000);
  try {
    rec.close();
    ADD_FAILURE() << "close() succeeded";
  } catch (const Vexa::NotifException& e) {
    EXPECT_EQ(e.detail(), "write: No space left on device (errno 28)");
  }
  EXPECT_TRUE(rec.counters().writeFailed);
  EXPECT_NO_THROW(rec.close());
  fs::remove(full);
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
  const struct {
    const char* name;
    std::string path;
    Vexa::RecordingInfo info;
  } cases[] = {
      {"unknown extension", dir + "/r.txt", good},
      {"folder missing", dir + "/none/r.bdf", good},
      {"no channel", dir + "/r.bdf", with([](auto& i) { i.channels.clear(); })},
      {"divisor 0", dir + "/r.csv", with([](auto& i) { i.channels[0].freqDivisor = 0; })},
      {"17 bits", dir + "/r.bdf", with([](auto& i) { i.channels[0].nBits = 17; })},
      {"frequency 0", dir + "/r.bdf", with([](auto& i) { i.baseFrequency = 0; })},
      {"513 channels", dir + "/r.bdf", with([](auto& i) { i.channels.assign(513, {1, 0, 1, 16}); })},
      {"month 13", dir + "/r.bdf", with([](auto& i) { i.start.month = 13; })},
      {"year 1984", dir + "/r.csv", with([](auto& i) { i.start.year = 1984; })},
      {"second 60", dir + "/r.bdf", with([](auto& i) { i.start.second = 60; })},
      {"no BDF+ record fits", dir + "/r.bdf", wide},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(Vexa::Recorder(c.path, c.info), Vexa::Error::InvalidParameter) << c.name;
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
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"CSV text", "tick,a\n0,1\n"},
      {"header cut short", text.substr(0, 300)},
      {"signal count 0", text.substr(0, 252) + "0   " + text.substr(256)},
      {"record duration 0", text.substr(0, 244) + "0       " + text.substr(252)},
      {"no annotation signal", text.substr(0, 256 + 16) + std::string(16, ' ') + text.substr(256 + 32)},
  };
  for (const auto& f : files) {
    std::ofstream(dir + "/f.bdf", std::ios::binary) << f.bytes;
    EXPECT_THROW(Vexa::BdfReader(dir + "/f.bdf"), Vexa::Error::InvalidParameter) << f.name;
  }
  fs::remove_all(dir);
  fs::remove(valid);
}

}  // namespace
}  // namespace vexa_test
