// Recording through the extension exports against the simulated device:
// what the plug-in adds to the recorder (whose own tests check every sample
// and note): the instants of a start and a marker, the layout each kind of
// start describes, every way a recording ends, the refusals, the report of
// a write failure, the loop's tick across its wrap, and descriptions.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <thread>
#include <tuple>

#include "base_dev_unity.h"
#include "host.h"
#include "record/read_back.h"
#include "support/eventually.h"
#include "support/pattern_check.h"
#include "vexa/bdf_reader.h"

namespace vexa_unity_test {
namespace {

namespace fs = std::filesystem;

// The loop's handler drives the recording at fixed ticks, so that the file's
// first tick and the marker's tick are known exactly.
constexpr int kStartTick = 39, kMarkTick = 123, kStopTick = 340, kFreq = 2000;
const char kMarker[] = "boss \xCE\xA9, wave 2";
std::string recordPath;
std::atomic<int> startResult{1}, markResult{1}, stopResult{1};
std::atomic<bool> stopped{false};

void drivingHandler(int nSeq, const int* samples, int n) {
  onFrame(nSeq, samples, n);
  if (nSeq == kStartTick) startResult = VexaExtStartRecording(recordPath.c_str());
  if (nSeq == kMarkTick) markResult = VexaExtAddMarker(kMarker);
  if (nSeq == kStopTick) {
    stopResult = VexaExtStopRecording();
    stopped = true;
  }
}

using Recording = HostTest;

TEST_F(Recording, StartsAndMarksAtTheHandlersInstants) {
  const std::vector<Vexa::Source> sources = {{1, 2, 24, 0x0103}, {5, 1, 16, 0x9}};
  const VexaSource wire[] = {{1, 2, 24, 0x0103}, {5, 1, 16, 0x9}};
  const std::vector<Vexa::RecordedChannel> channels = {
      {1, 0, 2, 24}, {1, 1, 2, 24}, {1, 8, 2, 24}, {5, 0, 1, 16}, {5, 3, 1, 16}};
  constexpr int kFirst = kStartTick + 1, kTicks = kStopTick - kStartTick;
  recordPath = vexa_test::tempPath("run.BDF");  // the extension in any letter case
  SetOnRawDataHandler(drivingHandler);
  VexaDevUnity("SIM:current --product 0x0205");
  StartAcquisitionBySources(kFreq, wire, 2);
  std::thread loop([] { StartLoop(); });
  EXPECT_TRUE(vexa_test::eventually([] { return stopped.load(); }));
  InterruptAcquisition();
  loop.join();
  DisconnectVexaDevUnity();
  ASSERT_EQ(startResult, 0) << VexaExtGetLastErrorDetail();
  EXPECT_EQ(markResult, 0);
  EXPECT_EQ(stopResult, 0);
  EXPECT_TRUE(reports().empty());

  const Vexa::RecordingInfo info = Vexa::BdfReader(recordPath).recordingInfo();
  EXPECT_EQ(std::tie(info.deviceType, info.productId, info.path),
            std::make_tuple("tessarimodular", 0x0205, "SIM:current_--product_0x0205"));
  EXPECT_DOUBLE_EQ(info.baseFrequency, kFreq);
  EXPECT_EQ(vexa_test::layout(info.channels), vexa_test::layout(channels));
  const vexa_test::ReadBack r = vexa_test::readOwn(recordPath);
  ASSERT_TRUE(r.ok);
  // The file starts at the instant after the start's; the recorder's own
  // tests hold every later sample to what it was fed.
  std::vector<int> first;
  for (const auto& samples : r.samples) first.push_back(samples.at(0));
  EXPECT_EQ(first, vexa_test::expectedSamples(sources, kFirst));
  // Onsets count from the first instant's sub-second start; the notes of
  // its host time are the recorder's to check.
  const long long at = r.startSubsecond;
  const std::vector<vexa_test::Annotation> notes = {
      {at + (kMarkTick - kFirst) * 10000000LL / kFreq, -1, std::string("Marker: ") + kMarker},
      {at + kTicks * 10000000LL / kFreq, 10000000LL - kTicks * 10000000LL / kFreq, "BAD_padding"},
      {at + kTicks * 10000000LL / kFreq, -1, "Recording ends"}};
  std::vector<vexa_test::Annotation> kept;
  for (const auto& a : r.annotations) {
    if (a.text.rfind("host time ", 0) != 0) kept.push_back(a);
  }
  EXPECT_EQ(kept, notes);

  fs::remove(recordPath);
}

// Each kind of start describes its channels, and whatever ends the
// acquisition or releases the device completes the file; the next stop
// returns that ending's outcome, the one after it finds nothing.
TEST_F(Recording, LayoutOfEachStartAndEveryEnding) {
  struct Row {
    const char* path;
    std::function<void()> start, end;
    int nextStop;  // what the stop after the ending returns
    const char* type;
    std::vector<Vexa::RecordedChannel> channels;
  };
  const Row rows[] = {
      {"SIM", [] { StartAcquisition(500, "0101", 16); }, [] { StopAcquisition(); }, 0, "tessarimodular",
       {{2, 0, 1, 16}, {4, 0, 1, 16}}},
      {"SIM", [] { StartAcquisitionStrandelo(1000, 7, 16, 250); }, [] { EXPECT_EQ(VexaExtStopRecording(), 0); },
       -1, "tessarimodular", {{1, 0, 4, 16}}},
      {"SIM:cadrium", [] { StartAcquisitionByNbr(1000, 0b1001, 12); }, [] { DisconnectVexaDevUnity(); }, 0,
       "Cadrium", {{1, 0, 1, 12}, {4, 0, 1, 12}}},
      // The compact board sends four 10-bit values, then 6-bit ones.
      {"SIM:quillbox", [] { StartAcquisitionByNbr(1000, 0b111110, 16); }, [] { VexaDevUnity("SIM"); }, 0,
       "Quillbox", {{2, 0, 1, 10}, {3, 0, 1, 10}, {4, 0, 1, 10}, {5, 0, 1, 10}, {6, 0, 1, 6}}},
  };
  const std::string path = vexa_test::tempPath("layout.bdf");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + std::string(" ") + row.type);
    VexaDevUnity(row.path);
    row.start();
    ASSERT_EQ(VexaExtStartRecording(path.c_str()), 0) << VexaExtGetLastErrorDetail();
    row.end();
    Vexa::BdfReader reader(path);
    EXPECT_EQ(reader.header().recordsInHeader, 0);  // completed, not still running (-1)
    const Vexa::RecordingInfo info = reader.recordingInfo();
    EXPECT_EQ(info.deviceType, row.type);
    EXPECT_EQ(vexa_test::layout(info.channels), vexa_test::layout(row.channels));
    EXPECT_EQ(VexaExtStopRecording(), row.nextStop);
    EXPECT_EQ(VexaExtStopRecording(), -1);
    DisconnectVexaDevUnity();
  }
  EXPECT_TRUE(reports().empty());
  fs::remove(path);
}

TEST_F(Recording, RefusalsSayWhy) {
  const std::string good = vexa_test::tempPath("refusal.csv"), full = vexa_test::tempPath("full.bdf");
  fs::create_symlink("/dev/full", full);
  enum State { kNone, kConnected, kAcquiring, kRecording };
  const auto channel = [](int position, const char* label, const char* unit, double lo, double hi) {
    return [=] { return VexaExtDescribeRecordingChannel(position, label, unit, lo, hi); };
  };
  const struct {
    State state;
    std::function<int()> call;
    const char* detail;
  } rows[] = {
      {kNone, channel(512, "", "", 0, 0), "The channel position must be 0 to 511: 512"},
      {kNone, channel(-1, "", "", 0, 0), "must be 0 to 511: -1"},
      {kNone, channel(2, "Left forearm EMG", "microvolt", 0, 0), "channel 2 has 9 characters; the file holds 8."},
      {kNone, channel(3, "Left forearm EMGs", nullptr, 0, 0), "channel 3 has 17 characters; the file holds 16"},
      {kNone, channel(0, "\xCE\xA9", nullptr, 0, 0), "The label of channel 0 must be printable ASCII."},
      {kNone, channel(0, "", "uV", 0, NAN), "must be finite"},
      {kNone, channel(0, "", "uV", -INFINITY, 1), "must be finite"},
      {kNone, channel(1, "", "uV", 2.5, 2.5), "The physical range of channel 1 is empty: its ends must differ."},
      {kNone, [] { return VexaExtDescribeRecording("S07\tleft", nullptr); }, "The subject must be printable ASCII."},
      {kNone, [] { return VexaExtDescribeRecording(nullptr, std::string(81, 'n').c_str()); },
       "The note has 81 characters; the file holds 80."},
      {kNone, [&] { return VexaExtStartRecording(good.c_str()); }, "No device is connected."},
      {kConnected, [&] { return VexaExtStartRecording(good.c_str()); }, "No acquisition runs"},
      {kAcquiring, [] { return VexaExtStartRecording(nullptr); }, "The recording needs a file path."},
      {kAcquiring, [] { return VexaExtStartRecording(""); }, "The recording needs a file path."},
      {kAcquiring, [] { return VexaExtStartRecording("take.edf"); }, "must end in .bdf or .csv: take.edf"},
      {kAcquiring, [] { return VexaExtStartRecording("/no/such/dir/take.bdf"); },
       "The recording could not start: create /no/such/dir/take.bdf: No such file or directory (errno 2)"},
      {kAcquiring, [&] { return VexaExtStartRecording(full.c_str()); }, "No space left on device"},
      {kAcquiring, [] { return VexaExtStopRecording(); }, "No recording is running."},
      {kAcquiring, [] { return VexaExtAddMarker("jump"); }, "No recording is running."},
      {kRecording, [&] { return VexaExtStartRecording(good.c_str()); }, "A recording is already running"},
      {kRecording, [] { return VexaExtAddMarker(nullptr); }, "The marker needs a text."},
      // No instant comes, so markers wait until the recorder's bound refuses one.
      {kRecording, [] {
         int added = 0;
         while (added < 100000 && VexaExtAddMarker("m") == 0) ++added;
         return added > 0 && added < 100000 ? -1 : 0;
       }, "too many markers wait"},
  };
  // The rows go in order of state, which only moves forward.
  State state = kNone;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.detail);
    for (; state < row.state; state = static_cast<State>(state + 1)) {
      if (state == kNone) VexaDevUnity("SIM");
      if (state == kConnected) StartAcquisitionByNbr(1000, 0b11, 16);
      if (state == kAcquiring) {
        ASSERT_EQ(VexaExtStartRecording(good.c_str()), 0);
      }
    }
    EXPECT_EQ(row.call(), -1);
    EXPECT_NE(std::string(VexaExtGetLastErrorDetail()).find(row.detail), std::string::npos)
        << VexaExtGetLastErrorDetail();
  }
  EXPECT_EQ(VexaExtStopRecording(), 0);
  EXPECT_TRUE(reports().empty());
  for (const std::string& f : {good, full}) fs::remove(f);
}

// What the exception handler saw, and on which thread.
struct Failure {
  int code;
  std::string message, detail;
  std::thread::id thread;
};
std::mutex failuresLock;
std::vector<Failure> failures;
void onFailure(int code, const char* message) {
  std::lock_guard<std::mutex> l(failuresLock);
  failures.push_back({code, message, VexaExtGetLastErrorDetail(), std::this_thread::get_id()});
}
size_t frameCount() {
  std::lock_guard<std::mutex> l(seen().lock);
  return seen().frames.size();
}

// A disk that fills after the header: the loop reports it once, on its own
// thread, with the system's cause; the recording takes nothing more and
// the stop fails with the same text.
TEST_F(Recording, WriteFailureReportedOnceOnTheLoopThread) {
  const std::string full = vexa_test::tempPath("full.csv");
  fs::create_symlink("/dev/full", full);
  failures.clear();
  SetOnExceptionRaisedHandler(onFailure);
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b11, 16);
  ASSERT_EQ(VexaExtStartRecording(full.c_str()), 0) << VexaExtGetLastErrorDetail();
  std::thread loop([] { StartLoop(); });
  const std::thread::id loopThread = loop.get_id();
  const auto reported = [] {
    std::lock_guard<std::mutex> l(failuresLock);
    return !failures.empty();
  };
  const bool seenReport = vexa_test::eventually(reported);
  // Well after the report, so that a second one would have come.
  const size_t after = frameCount() + 50;
  EXPECT_TRUE(vexa_test::eventually([after] { return frameCount() >= after; }));
  InterruptAcquisition();
  loop.join();
  ASSERT_TRUE(seenReport);
  const std::string cause = "write: No space left on device (errno 28)";
  EXPECT_EQ(VexaExtAddMarker("late"), -1);
  EXPECT_EQ(VexaExtStopRecording(), -1);
  EXPECT_EQ(VexaExtGetLastErrorDetail(), "The recording could not be written: " + cause);
  fs::remove(full);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].code, VEXA_EXT_RECORDING_FAILED);
  EXPECT_EQ(failures[0].thread, loopThread);
  EXPECT_EQ(failures[0].message, "The recording could not be written: " + cause);
  EXPECT_EQ(failures[0].detail, cause);
}

// The loop's 32-bit tick wraps from 2^31 - 1 to -2^31: the recording counts
// on without a gap, every instant in its place.
TEST_F(Recording, TicksCountOnAcrossTheWrap) {
  const std::string path = vexa_test::tempPath("wrap.bdf");
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b1, 16);
  ASSERT_EQ(VexaExtStartRecording(path.c_str()), 0) << VexaExtGetLastErrorDetail();
  constexpr int kTicks = 2500, kBeforeWrap = 1000;
  std::vector<int> sent;
  for (int i = 0; i < kTicks; ++i) {
    const int tick = static_cast<int>(static_cast<uint32_t>(INT32_MAX) - (kBeforeWrap - 1) + i);
    sent.push_back(static_cast<int>((i * 40503u + 17) % 65536));
    vexaDev->onRawFrame(tick, &sent.back());
  }
  ASSERT_EQ(VexaExtStopRecording(), 0) << VexaExtGetLastErrorDetail();
  const vexa_test::ReadBack r = vexa_test::readOwn(path);
  ASSERT_TRUE(r.ok);
  ASSERT_GE(r.samples[0].size(), sent.size());
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), r.samples[0].begin()));
  EXPECT_EQ(r.annotations, std::vector<vexa_test::Annotation>({{kTicks * 10000LL, 5000000, "BAD_padding"},
                                                                {kTicks * 10000LL, -1, "Recording ends"}}));
  fs::remove(path);
}

// Descriptions reach the next recording's header and only that one; one
// beyond the acquisition's channels refuses the start and is kept.
TEST_F(Recording, DescriptionsApplyToTheNextRecording) {
  const std::string path = vexa_test::tempPath("described.bdf");
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b101, 16);
  ASSERT_EQ(VexaExtDescribeRecordingChannel(2, "spare", "", 0, 0), 0);
  EXPECT_EQ(VexaExtStartRecording(path.c_str()), -1);
  EXPECT_STREQ(VexaExtGetLastErrorDetail(), "Channel 2 is described, but the acquisition has 2 channels.");
  ASSERT_EQ(VexaExtDescribeRecordingChannel(2, nullptr, nullptr, 0, 0), 0);
  ASSERT_EQ(VexaExtDescribeRecordingChannel(1, "Left forearm EMG", "mV", -3.25, 3.5), 0);
  ASSERT_EQ(VexaExtDescribeRecording("S07", "pilot run"), 0);
  std::vector<Vexa::BdfHeader> headers;
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(VexaExtStartRecording(path.c_str()), 0) << VexaExtGetLastErrorDetail();
    ASSERT_EQ(VexaExtStopRecording(), 0) << VexaExtGetLastErrorDetail();
    headers.push_back(Vexa::BdfReader(path).header());
  }
  fs::remove(path);
  const auto fields = [](const Vexa::BdfSignal& s) {
    return std::make_tuple(s.label, s.physicalDimension, s.physicalMin, s.physicalMax);
  };
  ASSERT_EQ(headers[0].signals.size(), 2u);
  EXPECT_EQ(std::get<1>(fields(headers[0].signals[0])), "");
  EXPECT_EQ(fields(headers[0].signals[1]), std::make_tuple("Left forearm EMG", "mV", -3.25, 3.5));
  EXPECT_NE(headers[0].patient.find("S07"), std::string::npos) << headers[0].patient;
  EXPECT_EQ(std::get<0>(fields(headers[1].signals[1])), "Port 3 Ch 0");
  EXPECT_EQ(headers[1].patient.find("S07"), std::string::npos) << headers[1].patient;
}

}  // namespace
}  // namespace vexa_unity_test
