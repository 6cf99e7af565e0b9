// Playing a wire trace back: its parser, the model's matching and timing,
// a mismatch reaching the host as a broken link that says why, and a
// captured session played back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "hand_built.h"
#include "vexa/event.h"
#include "vexa/exceptions.h"
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
const std::string kTrace = kHead +
                           "# link: sim\r\n# family: current\n\n"
                           "0.100000 out 56\n"
                           "0.100900 out 0A\n"
                           "0.110900 in 1122\n"
                           "0.130900 in 33\n"
                           "0.140000 out 44\n"
                           "0.141000 in 55\n";

const DeviceModel::TimePoint kT0 = DeviceModel::Clock::now();
Bytes talk(DeviceModel& m, const Bytes& in, int ms) {
  m.onHostBytes(in.data(), in.size(), kT0 + milliseconds(ms));
  return m.takeOutput();
}
Bytes wake(DeviceModel& m, int ms) {
  m.onWake(kT0 + milliseconds(ms));
  return m.takeOutput();
}

TEST(WireTraceFileTest, ReadsChunksAndRefusesBadLinesNamingThem) {
  WireTrace trace = parseWireTrace(kTrace + "# limit reached: 9 bytes; nothing more is traced\n", "t");
  EXPECT_EQ(trace.link, "sim");
  EXPECT_EQ(trace.family, "current");
  EXPECT_TRUE(trace.cut);
  ASSERT_EQ(trace.chunks.size(), 6u);
  EXPECT_EQ(trace.chunks[1].bytes, Bytes{0x0A});
  EXPECT_EQ(trace.chunks[2].bytes, (Bytes{0x11, 0x22}));
  EXPECT_EQ(trace.chunks[2].line, 7);
  EXPECT_DOUBLE_EQ(trace.chunks[3].seconds, 0.1309);
  EXPECT_FALSE(trace.chunks[3].fromHost);
  EXPECT_TRUE(trace.chunks[4].fromHost);

  expectRefusals<std::string>({
      {"", "not a wire trace"},
      {"0.1 out 07\n", "not a wire trace"},
      {"# vexa wire trace 2\n", "unknown version"},
      {kHead + "0.1 out 070\n", "t:2: odd"},
      {kHead + "0.1 out 0g\n", "not hex"},
      {kHead + "\n0.2 out 07\n0.1 in 07\n", "t:4: the time goes back"},
      {kHead + "0.1 sent 07\n", "direction"},
      {kHead + "0.1 out\n", "expected"},
      {kHead + "0.1 out 07 08\n", "expected"},
      {kHead + "-0.1 out 07\n", "time"},
      {kHead + "0.1x out 07\n", "time"},
  }, [](const std::string& text) { parseWireTrace(text, "t"); });
}

TEST(TraceModelTest, AnswersJoinedHostBytesAtTheRecordedPausesInOrder) {
  TraceModel m(parseWireTrace(kTrace, "t"), kT0);
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_EQ(talk(m, {0x56}, 200), Bytes{});
  EXPECT_EQ(talk(m, {0x0A}, 300), Bytes{});
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(310));  // counted from the completing bytes
  EXPECT_EQ(wake(m, 309), Bytes{});
  EXPECT_EQ(wake(m, 310), (Bytes{0x11, 0x22}));
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(330));
  // The next command comes early: its answer, due at 316, waits for 0x33.
  EXPECT_EQ(talk(m, {0x44}, 315), Bytes{});
  EXPECT_EQ(wake(m, 320), Bytes{});
  EXPECT_FALSE(m.finished());
  EXPECT_EQ(wake(m, 330), (Bytes{0x33, 0x55}));
  EXPECT_TRUE(m.finished());
  EXPECT_EQ(m.failure(), "");
  talk(m, {0x01, 0x02}, 400);
  EXPECT_EQ(m.failure(), "trace mismatch after the trace's end: expected nothing got 0102");
}

TEST(TraceModelTest, MismatchSaysWhatTheTraceExpectedAndWhatCame) {
  TraceModel m(parseWireTrace(kTrace, "t"), kT0);
  talk(m, {0x56, 0x0A}, 0);
  talk(m, {0x45, 0x46}, 1);
  EXPECT_EQ(m.failure(), "trace mismatch at line 9: expected 44 got 4546");
  EXPECT_EQ(m.nextWake(), std::nullopt);  // nothing more is played
  EXPECT_EQ(wake(m, 100), Bytes{});
}

TEST(TraceModelTest, SimulatedDeviceBreaksTheLinkOnAMismatchSayingWhy) {
  // The path after "trace:" is kept whole, colons and blanks included.
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "vexa trace:mismatch.trace";
  std::ofstream(file) << kHead << "0.0 out 5601\n0.001 in 7e\n0.002 out 02\n";
  std::unique_ptr<Vexa::IO> io = openSimulatedDevice("SIM:trace:" + file.string());
  io->setRcvTimeout(-1);  // the failure must end even an unlimited wait
  io->send("\x56\x01", 2);
  uint8_t byte = 0;
  EXPECT_EQ(io->recv(&byte, 1), 1);
  EXPECT_EQ(byte, 0x7E);
  io->send("\x03", 1);
  try {
    io->recv(&byte, 1);
    ADD_FAILURE() << "no failure";
  } catch (const Vexa::Notification::ContactingDevice& e) {
    EXPECT_EQ(e.detail(), "simulated device: trace mismatch at line 4: expected 02 got 03");
  }
  EXPECT_THROW(io->send("\x02", 1), Vexa::Notification::ContactingDevice);
  std::filesystem::remove(file);

  try {
    openSimulatedDevice("SIM:trace:" + file.string());
    ADD_FAILURE() << "opened a missing trace";
  } catch (const Vexa::Notification::OpeningPort& e) {
    EXPECT_NE(e.detail().find("cannot read the trace"), std::string::npos) << e.detail();
  }
}

// Keeps every instant and event in the order delivered; ends its loop
// after kInstants.
class Session : public Vexa::SignalsDev {
 public:
  static constexpr int kInstants = 120;
  using SignalsDev::SignalsDev;
  bool onRawFrame(int tick, const int data[]) override {
    log.push_back("t" + std::to_string(tick));
    for (int i = 0; i < channelCount(); ++i) log.back() += " " + std::to_string(data[i]);
    return ++instants == kInstants;
  }
  bool onEvent(const Vexa::Event& ev) override {
    log.push_back("e" + std::to_string(ev.type));
    if (ev.type == Vexa::Event::kDigitalInput) {
      const auto& in = static_cast<const Vexa::Events::DigitalInput&>(ev);
      log.back() += " " + std::to_string(in.input) + "=" + std::to_string(in.state) + "@" +
                    std::to_string(in.clockValue);
    }
    return false;
  }
  bool onTimeout() override {
    log.push_back("time-out");
    return true;
  }

  std::vector<std::string> acquire(float rate, int bits) {
    setTimeout(2000);
    startByMask(rate, 0x5, bits);
    loop();
    stop();
    return log;
  }

  std::vector<std::string> log;
  int instants = 0;
};

TEST(TraceReplayTest, CapturedSessionReplaysWithTheSameInstantsAndEvents) {
  const struct {
    const char* path;
    float rate;
    int bits;
  } kCases[] = {
      {"SIM:cadrium --digital-inputs 0,1,1,0,1", 250, 12},
      {"SIM:quillbox --digital-inputs 8,0,9,1", 100, 8},
      {"SIM:current --ticks-per-frame 3", 500, 16},
  };
  const std::string file = (std::filesystem::temp_directory_path() / "vexa_captured.trace").string();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    std::unique_ptr<Vexa::IO> io = openSimulatedDevice(c.path);
    auto trace = std::make_shared<Vexa::WireTrace>(file, io->linkKind());
    io->attachTrace(trace);
    Session captured(c.path, std::move(io));
    const std::vector<std::string> log = captured.acquire(c.rate, c.bits);
    trace->stop();
    ASSERT_EQ(captured.instants, Session::kInstants);

    Session replayed("SIM:trace:" + file, openSimulatedDevice("SIM:trace:" + file));
    EXPECT_EQ(replayed.getProperties()["description"].asString(),
              captured.getProperties()["description"].asString());
    EXPECT_EQ(replayed.acquire(c.rate, c.bits), log);
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace vexa_sim::test
