// Playing a wire trace back: its parser, the model's matching and timing,
// and captured sessions played back. Mismatches reaching the host: the
// kept traces' test (tests/tools).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "hand_built.h"
#include "vexa/event.h"
#include "vexa/io.h"
#include "vexa/signals_dev.h"
#include "vexa/wire_trace.h"
#include "vexa_sim/simulated_device.h"
#include "vexa_sim/trace_model.h"
#include "vexa_sim/wire_trace_file.h"

namespace vexa_sim::test {
namespace {

using std::chrono::milliseconds;

const std::string kHead = "# vexa wire trace 1\n";
// A split host command answered in two pieces 10 and 20 ms apart, then a
// second exchange answered 1 ms after it.
const std::string kTrace = kHead + "# family: current\r\n\n0.100000 out 56\n0.100900 out AF\n0.110900 in 1122\n" +
                           "0.130900 in 33\n0.140000 out 44\n0.141000 in 55\n# limit reached: 9 bytes\n";

TEST(WireTraceFileTest, RefusesBadLinesNamingThem) {
  expectRefusals<std::string>({
      {"0.1 out 07\n", "not a wire trace"},
      {"# vexa wire trace 2\n", "unknown version"},
      {kHead + "0.1 out 070\n", "t:2: odd"},
      {kHead + "0.1 out 0g\n", "not hex"},
      {kHead + "\n0.2 out 07\n0.1 in 07\n", "t:4: the time goes back"},
      {kHead + "0.1 sent 07\n", "direction"},
      {kHead + "0.1 out 07 08\n", "expected"},
      {kHead + "-0.1 out 07\n", "time"},
  }, [](const std::string& text) { parseWireTrace(text, "t"); });
}

TEST(TraceModelTest, AnswersJoinedHostBytesAtTheRecordedPausesInOrderAndReportsMismatches) {
  const auto t0 = DeviceModel::Clock::now();
  TraceModel m(parseWireTrace(kTrace, "t"), t0);
  auto talk = [&](const Bytes& in, int ms) {
    m.onHostBytes(in.data(), in.size(), t0 + milliseconds(ms));
    return m.takeOutput();
  };
  auto wake = [&](int ms) {
    m.onWake(t0 + milliseconds(ms));
    return m.takeOutput();
  };
  EXPECT_EQ(talk({0x56}, 200), Bytes{});
  EXPECT_EQ(talk({0xAF}, 300), Bytes{});
  EXPECT_EQ(m.nextWake(), t0 + milliseconds(310));  // counted from the completing bytes
  EXPECT_EQ(wake(310), (Bytes{0x11, 0x22}));
  EXPECT_EQ(m.nextWake(), t0 + milliseconds(330));
  // The next command comes early: its answer, due at 316, waits for 0x33.
  EXPECT_EQ(talk({0x44}, 315), Bytes{});
  EXPECT_EQ(wake(329), Bytes{});
  EXPECT_EQ(wake(330), (Bytes{0x33, 0x55}));
  EXPECT_TRUE(m.finished());
  talk({0x01, 0x02}, 400);
  EXPECT_EQ(m.failure(), "trace mismatch after the trace's end (cut at its byte limit): expected nothing got 0102");

  TraceModel departed(parseWireTrace(kTrace, "t"), t0);
  departed.onHostBytes(Bytes{0x56, 0xAF, 0x45, 0x46}.data(), 4, t0);
  EXPECT_EQ(departed.failure(), "trace mismatch at line 8: expected 44 got 4546");
  EXPECT_EQ(departed.nextWake(), std::nullopt);  // nothing more is played
}

// Every instant and event in the order delivered; ends its loop after 120.
class Session : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  bool onRawFrame(int tick, const int data[]) override {
    log.push_back("t" + std::to_string(tick));
    for (int i = 0; i < channelCount(); ++i) log.back() += " " + std::to_string(data[i]);
    return log.size() >= 120 + events;
  }
  bool onEvent(const Vexa::Event& ev) override {
    const auto* in = ev.type == Vexa::Event::kDigitalInput ? static_cast<const Vexa::Events::DigitalInput*>(&ev) : nullptr;
    log.push_back("e" + std::to_string(ev.type) +
                  (in ? " " + std::to_string(in->input) + "=" + std::to_string(in->state) : ""));
    ++events;
    return false;
  }
  std::vector<std::string> acquire(float rate, int bits) {
    setTimeout(2000);
    startByMask(rate, 0x5, bits);
    loop();
    stop();
    return log;
  }
  std::vector<std::string> log;
  size_t events = 0;
};

TEST(TraceReplayTest, CapturedSessionReplaysWithTheSameInstantsAndEvents) {
  const std::tuple<const char*, float, int> kCases[] = {
      {"SIM:cadrium --digital-inputs 0,1,1,0,1", 250.0f, 12},
      {"SIM:quillbox --digital-inputs 8,0,9,1", 100.0f, 8},
      {"SIM:current --ticks-per-frame 3", 500.0f, 16},
  };
  // The path after "trace:" is kept whole, colons and blanks included.
  const std::string file = (std::filesystem::temp_directory_path() / "vexa captured:session.trace").string();
  for (const auto& [path, rate, bits] : kCases) {
    SCOPED_TRACE(path);
    std::unique_ptr<Vexa::IO> io = openSimulatedDevice(path);
    auto trace = std::make_shared<Vexa::WireTrace>(file, io->linkKind());
    io->attachTrace(trace);
    Session captured(path, std::move(io));
    const std::vector<std::string> log = captured.acquire(rate, bits);
    trace->stop();
    ASSERT_EQ(log.size(), 120 + captured.events);
    Session replayed("SIM:trace:" + file, openSimulatedDevice("SIM:trace:" + file));
    EXPECT_EQ(replayed.acquire(rate, bits), log);
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace vexa_sim::test
