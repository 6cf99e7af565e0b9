// The exports, and the Unity device's callbacks run by StartLoop on a
// worker thread as a Unity script would, against a simulated device on a
// pseudo-terminal; the sample ring that the host pulls the data from, fed
// by the built-in simulated device behind "SIM".
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include "host.h"
#include "io/ble/dongle_ports.h"
#include "report.h"
#include "signals/signals_x.h"
#include "support/deadline.h"
#include "support/eventually.h"
#include "support/pattern_check.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/dongle_model.h"
#include "vexa_sim/pty_link.h"
#include "vexa_sim/pty_simulator.h"

bool operator==(const VexaExtChannelLayout& a, const VexaExtChannelLayout& b) {
  return std::tie(a.port, a.index, a.bits, a.divisor) == std::tie(b.port, b.index, b.bits, b.divisor);
}

namespace vexa_unity_test {
namespace {

using vexa_sim::CurrentDeviceModel;
using Bytes = std::vector<uint8_t>;

// One source of a start command: port, sample width, divisor, channel mask.
using Entry = std::tuple<int, int, int, int>;

class Exports : public HostTest {
 protected:
  void connect(vexa_sim::CurrentDeviceConfig config = {}) {
    sim = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<CurrentDeviceModel>(config));
    VexaDevUnity(sim->comPath().c_str());
    ASSERT_NE(vexaDev, nullptr) << (reports().empty() ? "" : reports()[0].message);
  }
  // Commands the device received after the handshake.
  std::vector<Bytes> commands() {
    return sim->engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) {
      std::vector<Bytes> after;
      for (const auto& c : m.receivedCommands()) {
        if (c != Bytes{0x03, 0x00} && c != Bytes{0x03, 0x03}) after.push_back(c);
      }
      return after;
    });
  }
  // The base rate and sources of the last start the device took.
  std::pair<float, std::vector<Entry>> lastStart() {
    return sim->engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) {
      std::pair<float, std::vector<Entry>> start;
      if (!m.lastStart()) return start;
      start.first = m.lastStart()->baseRate;
      for (const auto& s : m.lastStart()->sources) start.second.emplace_back(s.port, s.nBits, s.divisor, s.chMask);
      return start;
    });
  }
  std::vector<int> channelPorts() { return std::vector<int>(vexaDev->channelPorts.begin(), vexaDev->channelPorts.end()); }
  void startLoop() {
    loop = std::thread([] { StartLoop(); });
    ASSERT_TRUE(vexa_test::eventually([] { return vexaDev->impl()->state == Vexa::kReceiving; }));
  }
  void event(uint8_t code, std::vector<uint8_t> payload) {
    sim->engine().with<CurrentDeviceModel>([&](CurrentDeviceModel& m) { m.sendEvent(code, payload); });
  }
  void TearDown() override {
    if (loop.joinable()) loop.join();
    HostTest::TearDown();
  }

  std::unique_ptr<vexa_sim::PtySimulator> sim;
  std::thread loop;
};

// Before a connection and on each kind of description: the queries'
// values, the type named and the description logged.
TEST_F(Exports, Queries) {
  EXPECT_EQ(GetBattery(), -1);
  EXPECT_EQ(GetNbrChannels(), 0);
  EXPECT_FALSE(GetCommunicationFlag());
  VexaDevUnity(nullptr);
  logOf([] { StartLoop(); });
  EXPECT_EQ(codes(), (std::vector<int>{2, 21}));
  EXPECT_EQ(reports().back().message, "The object instance is invalid.");

  const struct {
    const char* description;
    int productId, batteryRaw;
    const char* type;
    int battery;
  } rows[] = {
      {"quillbox_rev", 0x0201, 1600, "Quillbox", 67},
      {"FernlitVexa", 0x0205, 1700, "FernlitVexa", 96},
      {"Cadrium_EMG", 0x0601, 0, "Not supported device", -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    VexaDevUnity(("SIM:current --description " + std::string(row.description) + " --product " +
                  std::to_string(row.productId) + " --battery " + std::to_string(row.batteryRaw)).c_str());
    EXPECT_EQ(vexaDev->impl()->loopTimeout, 2000);
    EXPECT_EQ(GetProductId(), row.productId);
    std::string log = logOf([&] { EXPECT_STREQ(GetDeviceType(), row.type); });
    EXPECT_EQ(log, std::string(row.description) + "\n");
    EXPECT_EQ(GetBattery(), row.battery);
    EXPECT_FALSE(GetCommunicationFlag());
  }
  EXPECT_EQ(reports().size(), 2u) << reports().back().message;
}

// Each start's conversion of its arguments into the start command and the
// channel list: characters other than '0' and '1', the mask's top bit, a
// base rate that is no whole multiple of the channel's, and mask bits that
// count for no channel. Port 9's four channels need its gain written first,
// once, wherever the record stands; three channels need none.
TEST_F(Exports, StartsConvertTheirArguments) {
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 517;  // takes 16-bit masks
  connect(config);
  const VexaSource sources[] = {{2, 3, 8, 0x0103}, {9, 1, 16, 15}, {5, 1, 16, 0x30001}};
  const VexaSource nine[] = {{9, 2, 16, 7}};
  const struct {
    const char* name;
    std::function<void()> start;
    float rate;
    std::vector<Entry> entries;
    std::vector<int> ports;
  } rows[] = {
      {"text", [] { StartAcquisition(1000, "2101x1", 16); }, 1000, {{2, 16, 1, 1}, {4, 16, 1, 1}, {6, 16, 1, 1}},
       {2, 4, 6}},
      {"mask", [] { StartAcquisitionByNbr(500, INT_MIN | 0x5, 8); }, 500, {{1, 8, 1, 1}, {3, 8, 1, 1}, {32, 8, 1, 1}},
       {1, 3, 32}},
      {"one channel", [] { StartAcquisitionStrandelo(1000, 77, 16, 600); }, 1000, {{1, 16, 1, 1}}, {1}},
      {"sources", [&] { StartAcquisitionBySources(2000, sources, 3); }, 2000,
       {{2, 8, 3, 0x0103}, {9, 16, 1, 15}, {5, 16, 1, 1}}, {2, 2, 2, 9, 9, 9, 9, 5}},
      {"three of port 9", [&] { StartAcquisitionBySources(2000, nine, 1); }, 2000, {{9, 16, 2, 7}}, {9, 9, 9}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    seen().reports.clear();
    logOf(row.start);
    ASSERT_TRUE(reports().empty()) << reports()[0].message;
    EXPECT_EQ(lastStart(), std::make_pair(row.rate, row.entries));
    EXPECT_EQ(channelPorts(), row.ports);
    EXPECT_EQ(GetNbrChannels(), static_cast<int>(row.ports.size()));
    EXPECT_TRUE(GetCommunicationFlag());
    StopAcquisition();
    EXPECT_EQ(GetNbrChannels(), 0);
  }
  const Bytes gain = {0x01, 0x05, 0x09, 0x03, 0x50, 0x28};
  std::vector<Bytes> after = commands();
  const auto first = std::find(after.begin(), after.end(), gain);
  ASSERT_LT(first + 1, after.end());
  EXPECT_EQ(std::count(after.begin(), after.end(), gain), 1);
  EXPECT_EQ(first[1].at(0), 0x07);  // the start of three sources follows
  EXPECT_EQ(first[1].at(20), 3);
}

TEST_F(Exports, FailedStartsKeepTheFlagRaised) {
  connect();
  logOf([] {
    StartAcquisitionStrandelo(1000, 0, 16, 0);
    StartAcquisition(0, "1", 16);
  });
  EXPECT_EQ(codes(), (std::vector<int>{18, 14}));
  EXPECT_TRUE(GetCommunicationFlag());
  EXPECT_TRUE(channelPorts().empty());

  // A start refused while another runs leaves that one's channel list.
  StartAcquisition(1000, "01", 16);
  const VexaSource three[] = {{3, 1, 16, 0x0B}};
  logOf([&] { StartAcquisitionBySources(1000, three, 1); });
  EXPECT_EQ(reports().back().code, 10);
  EXPECT_EQ(channelPorts(), std::vector<int>{2});
}

TEST_F(Exports, SetParameterBytes) {
  connect();
  const int gain[] = {80, 40};
  const int one[] = {0x2A5B};
  SetParameter(9, 3, gain, 2);
  SetParameter(1, 1, one, 1);
  logOf([&] {
    SetParameter(1, 4, one, 1);
    SetParameter(1, 2, gain, 2);
  });
  std::vector<Bytes> after = commands();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0], (Bytes{0x01, 0x05, 0x09, 0x03, 0x50, 0x28}));
  EXPECT_EQ(after[1], (Bytes{0x01, 0x05, 0x01, 0x01, 0x5B}));
  EXPECT_EQ(codes(), (std::vector<int>{40, 40}));
  EXPECT_EQ(reports()[1].message,
            "C++ Exception at line number 940 in file vexa_unity_interface.cpp (v20220517): The type of input "
            "provided is not currently supported.\n");
}

TEST_F(Exports, ConnectingAgainReleasesTheEarlierDevice) {
  connect();
  auto first = std::move(sim);
  connect();
  // The first port is free again: the earlier device was closed.
  EXPECT_NO_THROW(Vexa::SignalsDev probe(first->comPath()));
  // Connecting to the port that is in use fails and keeps the current one.
  Vexa::BaseDevUnity* current = vexaDev;
  logOf([&] { VexaDevUnity(sim->comPath().c_str()); });
  EXPECT_EQ(vexaDev, current);
  EXPECT_EQ(reports().back().code, 1);
}

std::vector<std::string> foundPaths;  // by the scanning thread, read once it ended
void onFound(const char* path) { foundPaths.emplace_back(path); }

// A connect to a port that never answers and the scans listening to a
// dongle that hears a device of the family, each cancelled from another
// thread once it waits: the call ends (a deadline only guards against a
// hang), reports nothing and finds nothing, and the earlier device stays
// current and usable. A cancel while nothing runs reaches no later call, the
// connect and the scan that follow included.
TEST_F(Exports, CancelEndsAConnectOrAScanAndKeepsTheEarlierDevice) {
  vexa_sim::PtyLink silent;
  vexa_sim::DongleConfig config;
  config.advertisements = {vexa_sim::namedAdvertisement({0x00, 0x07, 0x80, 0x00, 0x00, 0x05}, "FernlitVexa")};
  vexa_sim::PtySimulator dongle(std::make_unique<vexa_sim::DongleModel>(
      config, std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<CurrentDeviceModel>())));
  const Vexa::DonglePortLister earlierLister =
      Vexa::setDonglePortLister([path = dongle.comPath()] { return std::vector<std::string>{path}; });
  foundPaths.clear();
  SetNewDeviceFoundHandler(onFound);
  VexaExtCancel();
  VexaDevUnity("SIM");
  Vexa::BaseDevUnity* const earlier = vexaDev;
  ASSERT_NE(earlier, nullptr);

  // The scans the dongle was asked to run.
  auto discoveries = [&dongle] {
    return dongle.engine().with<vexa_sim::DongleModel>([](vexa_sim::DongleModel& d) {
      const auto& sent = d.commands();
      return std::count(sent.begin(), sent.end(), Bytes{0, 1, 6, 2, 1});
    });
  };
  const std::string silentPath = silent.comPath();
  const auto probed = [&] {
    uint8_t probe = 0;
    return silent.read(&probe, 1, std::chrono::milliseconds(10)) == 1 && probe == 0x07;
  };
  const struct {
    const char* name;
    std::function<void()> call;
    std::function<bool()> waiting;
  } cases[] = {
      {"connect", [&] { VexaDevUnity(silentPath.c_str()); }, probed},
      {"session open", [&] { EXPECT_EQ(VexaExtOpen(silentPath.c_str()), VEXA_EXT_ERR_LINK); }, probed},
      {"BLE scan", [] { GetDetectableDevices("BLE"); }, [&] { return discoveries() == 1; }},
      {"scan of every link", [] { GetAllDetectableDevices(); }, [&] { return discoveries() == 2; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto call = std::async(std::launch::async, [&c] {
      c.call();
      return std::string(VexaExtGetLastErrorDetail());
    });
    vexa_test::awaitWithin(std::string(c.name) + " reaching its wait", c.waiting, [] {});
    VexaExtCancel();
    if (call.wait_for(vexa_test::kDeadline) != std::future_status::ready) vexa_test::hung(c.name);
    EXPECT_EQ(call.get(), "cancelled");
  }
  Vexa::setDonglePortLister(earlierLister);
  EXPECT_TRUE(foundPaths.empty());
  EXPECT_EQ(vexaDev, earlier);
  EXPECT_NE(GetProductId(), 0);
  EXPECT_TRUE(reports().empty());
}

// A host whose declaration passes the state as an int: the call goes through
// that type on purpose, so clang's check of function types stays out of it.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
void digInAsIntHost(int clockSource, int clockValue, int input, int state) {
  reinterpret_cast<void (*)(int, int, int, int)>(reinterpret_cast<void (*)()>(&OnDigInEventDetected))(
      clockSource, clockValue, input, state);
}

// The other forwarders reach the C# binding's handlers in its own tests.
TEST_F(Exports, ForwardersPassArgumentsThrough) {
  // The fourth argument arrives as a whole register: only its low byte counts.
  digInAsIntHost(1, 2, 3, 0x0101);
  digInAsIntHost(1, 2, 3, 0x0100);
  const int samples[] = {10, 11, 12};
  OnDataReceived(5, samples, {1, 1, 2});
  EXPECT_EQ(seen().digIns, (std::vector<DigIn>{{1, 2, 3, true}, {1, 2, 3, false}}));
  EXPECT_EQ(seen().frames, (std::vector<std::pair<int, std::vector<int>>>{{5, {10, 11, 12}}}));
}

// A receive time-out ends an idle loop, its trace without a line break. On
// a running acquisition a digital input and an event of no interest keep the
// loop going and a disconnect ends it; an interrupt ends the next loop,
// lowering the flag. Each is traced to the log and handed to its handler
// with the device's values.
TEST_F(Exports, TimeoutEventsAndInterruptReachTheHostInOrder) {
  connect();
  std::string log = logOf([&] {
    vexaDev->setTimeout(20);
    StartLoop();
    vexaDev->setTimeout(2000);
    StartAcquisition(100, "1", 16);
    startLoop();
    event(13, {9});
    event(3, {2, 0x10, 0, 0, 0, 1});
    event(8, {5});
    loop.join();
    EXPECT_TRUE(GetCommunicationFlag());
    EXPECT_EQ(GetNbrChannels(), 0);  // the device ended the acquisition
    startLoop();
    InterruptAcquisition();
    loop.join();
  });
  EXPECT_EQ(log,
            "TimeoutNew Event raised: 13\nOther Event: 13\nNew Event raised: 3\nDigital input event - Clock source: "
            "2  Clock value: 16  New input state: 1\nNew Event raised: 8\nDisconnect event - Reason: 5\n"
            "onInterrupt\n");
  EXPECT_EQ(seen().digIns, (std::vector<DigIn>{{2, 16, 0, true}}));
  EXPECT_EQ(seen().disconnects, (std::vector<int>{1, 5}));
  EXPECT_FALSE(GetCommunicationFlag());
  EXPECT_EQ(vexaDev->impl()->state, Vexa::kIdle);
  EXPECT_TRUE(reports().empty());
}

// --- the sample ring ---------------------------------------------------------

class SampleRing : public HostTest {
 protected:
  void TearDown() override {
    VexaExtDisableSampleRing();
    HostTest::TearDown();
  }
  // Hands the device `count` instants of two channels from tick `first`
  // on, as the loop would: samples t and ~t.
  static void feed(int first, int count) {
    for (int i = 0; i < count; ++i) {
      const int s[2] = {first + i, ~(first + i)};
      vexaDev->onRawFrame(first + i, s);
    }
  }
};

// A reader pulls blocks of varied sizes all the while two acquisitions with
// other channel counts run one after the other: every block says the
// acquisition and channel count its instants were packed with, each
// acquisition's instants arrive whole and in order from its first tick, and
// the layout names each channel of the running one. The ring wraps several
// times, and the reads end inside it at varied places.
TEST_F(SampleRing, BlocksSayTheirAcquisitionAcrossRestarts) {
  const std::vector<Vexa::Source> sources[] = {{{1, 2, 24, 0x0103}, {5, 1, 16, 0x9}}, {{3, 4, 8, 0x5}}};
  const std::vector<VexaExtChannelLayout> layouts[] = {
      {{1, 0, 24, 2}, {1, 1, 24, 2}, {1, 8, 24, 2}, {5, 0, 16, 1}, {5, 3, 16, 1}}, {{3, 0, 8, 4}, {3, 2, 8, 4}}};
  constexpr int kTicks = 1500;
  VexaExtEnableSampleRing(500);
  VexaDevUnity("SIM:current --product 0x0205");
  int before = -1;
  VexaExtGetAcquisitionLayout(0, nullptr, 0, &before);
  vexa_test::PatternChecker checkers[] = {vexa_test::PatternChecker(sources[0]), vexa_test::PatternChecker(sources[1])};
  std::atomic<int64_t> ticksOf[2] = {{0}, {0}};
  std::atomic<int> misread{0};
  std::atomic<bool> done{false};
  const auto reading = [&] {
    // {maxInstants, maxSamples}: each read is bounded by the smaller.
    const std::pair<int, int> reads[] = {{1, 5}, {37, 38 * 5 - 1}, {250, 3 * 5 + 2}, {900, 900 * 5}};
    std::vector<long long> ticks(900);
    std::vector<int> samples(900 * 5);
    for (int i = 0; !done; ++i) {
      const auto& read = reads[i % 4];
      int channels = -1, acquisition = -1;
      const int n =
          VexaExtReadBlock(0, ticks.data(), nullptr, read.first, samples.data(), read.second, &channels, &acquisition);
      const int k = acquisition - before - 1;
      if (n < 0 || k < 0 || k > 1 || channels != static_cast<int>(layouts[k].size()) ||
          n > std::min(read.first, read.second / channels)) {
        ++misread;
        continue;
      }
      for (int j = 0; j < n; ++j) checkers[k].check(static_cast<int>(ticks[j]), &samples[j * channels], channels);
      ticksOf[k] = checkers[k].ticks();
      if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  std::thread reader;
  for (int k = 0; k < 2; ++k) {
    // The same 16-byte records as the host's.
    StartAcquisitionBySources(2000, reinterpret_cast<const VexaSource*>(sources[k].data()),
                              static_cast<int>(sources[k].size()));
    // The second start comes while the reader reads.
    if (k == 0) reader = std::thread(reading);
    // Fills no more entries than it is given room for.
    std::vector<VexaExtChannelLayout> layout(6), want = layouts[k];
    want.resize(4);
    want.resize(6);
    EXPECT_EQ(VexaExtGetAcquisitionLayout(0, layout.data(), 4, nullptr), static_cast<int>(layouts[k].size()));
    EXPECT_EQ(layout, want) << "acquisition " << k;
    std::thread loop([] { StartLoop(); });
    EXPECT_TRUE(vexa_test::eventually([&] { return ticksOf[k] >= kTicks; }));
    InterruptAcquisition();
    loop.join();
    StopAcquisition();
  }
  done = true;
  reader.join();
  EXPECT_EQ(misread, 0);
  for (const auto& checker : checkers) {
    EXPECT_EQ(checker.firstTick(), 0);
    EXPECT_EQ(checker.badTicks(), 0) << checker.firstError();
    EXPECT_EQ(checker.lost(), 0);
  }
  EXPECT_EQ(VexaExtGetSampleRingOverflow(), 0);
  EXPECT_TRUE(reports().empty());
}

// The loop's 32-bit tick wraps from 2^31 - 1 to -2^31: a block's ticks count
// on in 64 bits, also in a ring turned on after the wrap's start, and from its
// own first tick at the next start, which drops what still waits;
// VexaExtReadSamples keeps the low 32 bits. Each start is numbered, whether
// the ring is on or off.
TEST_F(SampleRing, TicksCountOnAcrossTheWrap) {
  VexaDevUnity("SIM");
  int before = -1, acquisition = -1;
  VexaExtGetAcquisitionLayout(0, nullptr, 0, &before);
  StartAcquisitionByNbr(1000, 0b11, 16);
  ASSERT_EQ(VexaExtGetAcquisitionLayout(0, nullptr, 0, &acquisition), 2);
  EXPECT_EQ(acquisition, before + 1);
  feed(INT32_MAX - 1, 2);
  VexaExtEnableSampleRing(16);
  feed(INT32_MIN, 4);
  long long ticks[4];
  double times[4] = {-1.5, -1.5, -1.5, -1.5};
  int samples[8], low[4], channels = -1, number = -1;
  ASSERT_EQ(VexaExtReadBlock(0, ticks, times, 2, samples, 8, &channels, &number), 2);
  EXPECT_EQ(std::vector<long long>(ticks, ticks + 2), (std::vector<long long>{1LL << 31, (1LL << 31) + 1}));
  EXPECT_EQ(std::make_pair(channels, number), std::make_pair(2, acquisition));
  // No message arrived, so no time is known; only the instants read are written.
  EXPECT_TRUE(std::isnan(times[0]) && std::isnan(times[1]));
  EXPECT_EQ(std::vector<double>(times + 2, times + 4), std::vector<double>(2, -1.5));
  ASSERT_EQ(VexaExtReadSamples(low, 1, samples, 8), 1);
  EXPECT_EQ(low[0], INT32_MIN + 2);

  StopAcquisition();
  StartAcquisitionByNbr(1000, 0b100, 16);
  feed(-7, 1);
  ASSERT_EQ(VexaExtReadBlock(0, ticks, nullptr, 4, samples, 8, &channels, &number), 1);
  EXPECT_EQ(ticks[0], -7);
  EXPECT_EQ(std::make_pair(channels, number), std::make_pair(1, acquisition + 1));
}

// A full ring keeps its oldest instants and counts the rest; the overflow
// is reported once per acquisition, and a new start takes its channel
// count and counts anew.
TEST_F(SampleRing, OverflowKeepsTheOldestCountsAndReportsOnce) {
  VexaExtEnableSampleRing(8);
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b110, 16);
  feed(0, 11);
  EXPECT_EQ(VexaExtGetSampleRingOverflow(), 3);
  int ticks[20], samples[40];
  ASSERT_EQ(VexaExtReadSamples(ticks, 20, samples, 40), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(std::make_tuple(ticks[i], samples[2 * i], samples[2 * i + 1]), std::make_tuple(i, i, ~i));
  }
  // The freed room fills and overflows again: counted, not reported again.
  feed(11, 19);
  EXPECT_EQ(VexaExtGetSampleRingOverflow(), 3 + 11);
  EXPECT_EQ(codes(), std::vector<int>{100});
  EXPECT_EQ(reports()[0].message, "The sample ring overflowed: sample instants were dropped.");
  StopAcquisition();
  StartAcquisition(1000, "1", 16);
  EXPECT_EQ(VexaExtGetSampleRingChannels(), 1);
  EXPECT_EQ(VexaExtGetSampleRingOverflow(), 0);
}

// Each refusal has its code and a detail, and calls no handler; the old
// read keeps its -1 and its 0. Rows run in order: the ring is off until the
// second.
TEST_F(SampleRing, RefusesWhatCannotBeRead) {
  long long ticks[4];
  int low[4], samples[8];
  VexaExtChannelLayout layout[1];
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b111, 16);  // three channels; nothing waits
  const auto block = [&](int session, long long* t, int maxInstants, int* s, int maxSamples) {
    int channels = -1;
    const int n = VexaExtReadBlock(session, t, nullptr, maxInstants, s, maxSamples, &channels, nullptr);
    // A refusal for size still names the channels, so the caller can resize.
    return n == VEXA_EXT_ERR_BUFFER_TOO_SMALL && channels != 3 ? 99 : n;
  };
  const struct {
    const char* name;
    std::function<int()> call;
    int result;
  } rows[] = {
      {"ring off", [&] { return block(0, ticks, 4, samples, 8); }, VEXA_EXT_ERR_STATE},
      {"one instant's room", [&] { VexaExtEnableSampleRing(0); return block(0, ticks, 1, samples, 3); }, 0},
      {"null ticks", [&] { return block(0, nullptr, 4, samples, 8); }, VEXA_EXT_ERR_ARGUMENT},
      {"null samples", [&] { return block(0, ticks, 4, nullptr, 8); }, VEXA_EXT_ERR_ARGUMENT},
      {"negative instants", [&] { return block(0, ticks, -1, samples, 8); }, VEXA_EXT_ERR_ARGUMENT},
      {"negative samples", [&] { return block(0, ticks, 4, samples, -3); }, VEXA_EXT_ERR_ARGUMENT},
      {"session 1", [&] { return block(1, ticks, 4, samples, 8); }, VEXA_EXT_ERR_SESSION},
      {"session -1", [&] { return block(-1, ticks, 4, samples, 8); }, VEXA_EXT_ERR_SESSION},
      {"no instant", [&] { return block(0, ticks, 0, samples, 8); }, VEXA_EXT_ERR_BUFFER_TOO_SMALL},
      {"part of an instant", [&] { return block(0, ticks, 4, samples, 2); }, VEXA_EXT_ERR_BUFFER_TOO_SMALL},
      {"layout count", [&] { return VexaExtGetAcquisitionLayout(0, nullptr, 0, nullptr); }, 3},
      {"layout negative", [&] { return VexaExtGetAcquisitionLayout(0, layout, -1, nullptr); }, VEXA_EXT_ERR_ARGUMENT},
      {"layout null", [&] { return VexaExtGetAcquisitionLayout(0, nullptr, 1, nullptr); }, VEXA_EXT_ERR_ARGUMENT},
      {"layout session", [&] { return VexaExtGetAcquisitionLayout(2, layout, 1, nullptr); }, VEXA_EXT_ERR_SESSION},
      {"old null ticks", [&] { return VexaExtReadSamples(nullptr, 4, samples, 8); }, -1},
      {"old null samples", [&] { return VexaExtReadSamples(low, 4, nullptr, 8); }, -1},
      {"old negative instants", [&] { return VexaExtReadSamples(low, -1, samples, 8); }, -1},
      {"old negative samples", [&] { return VexaExtReadSamples(low, 4, samples, -3); }, -1},
      {"old part of an instant", [&] { return VexaExtReadSamples(low, 4, samples, 2); }, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Vexa::Unity::rememberFailure("");
    EXPECT_EQ(row.call(), row.result);
    if (row.result < -1) {
      EXPECT_STRNE(VexaExtGetLastErrorDetail(), "");
    }
  }
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace vexa_unity_test
