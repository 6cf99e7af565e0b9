// Sessions against simulated devices: several streaming at once with every
// tick checked, beside the interface's current device, their events, their
// recordings and a marker for all, and the refusals of a session's misuse,
// from the session's own handler and from several threads at once.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "record/read_back.h"
#include "support/eventually.h"
#include "support/pattern_check.h"

namespace vexa_unity_test {
namespace {

// One streaming session and the check of everything read from its ring.
struct Stream {
  explicit Stream(std::vector<Vexa::Source> s) : sources(s), check(s) {}
  std::vector<Vexa::Source> sources;
  vexa_test::PatternChecker check;
  int handle = 0;
  double lastTime = -INFINITY;
  int badTimes = 0;
};

// Opens a simulated device as a session and starts its sources.
int openAndStart(Stream& s, int freq = 1000) {
  s.handle = VexaExtOpen("SIM:current");
  std::vector<VexaSource> wire;
  for (const auto& src : s.sources) wire.push_back({src.port, src.freqDivisor, src.nBits, src.chMask});
  if (s.handle <= 0) return s.handle;
  return VexaExtStartBySources(s.handle, freq, wire.data(), static_cast<int>(wire.size()));
}

// Reads what waits in the session's ring into its check; the result of the
// read.
int drain(Stream& s) {
  long long ticks[128];
  double times[128];
  int samples[128 * 8], channels = 0;
  const int n = VexaExtReadBlock(s.handle, ticks, times, 128, samples, 128 * 8, &channels, nullptr);
  for (int i = 0; i < n; ++i) {
    s.check.check(static_cast<int>(ticks[i]), samples + i * channels, channels);
    // Every instant has its time, later than the one before it in the same
    // read (the fit moves between reads while it settles).
    if (!std::isfinite(times[i]) || (i > 0 && !(times[i] > times[i - 1]))) ++s.badTimes;
    s.lastTime = times[i];
  }
  return n;
}

std::vector<VexaExtEvent> events(int handle) {
  std::vector<VexaExtEvent> got(64);
  const int n = VexaExtReadEvents(handle, got.data(), 64);
  got.resize(std::max(n, 0));
  return got;
}

using Sessions = HostTest;

// Two, then five devices stream at once, each with its own layout so that
// a mix-up shows; every tick of each is checked, then each loop ends its
// own way (halt, stop, close) and the sessions close from as many threads.
TEST_F(Sessions, SeveralStreamTogetherWithEveryTickChecked) {
  for (int count : {2, 5}) {
    std::vector<Stream> streams;
    for (int i = 0; i < count; ++i) {
      streams.emplace_back(std::vector<Vexa::Source>{{1, 1 + i % 3, 16, 0x1 + i}, {3 + i, 2, 8, 0x5}});
    }
    for (Stream& s : streams) {
      ASSERT_EQ(openAndStart(s), 0) << VexaExtGetLastErrorDetail();
      ASSERT_EQ(VexaExtRun(s.handle), 0) << VexaExtGetLastErrorDetail();
    }
    EXPECT_TRUE(vexa_test::eventually([&] {
      bool all = true;
      for (Stream& s : streams) {
        while (drain(s) > 0) {
        }
        all = all && s.check.ticks() >= 300;
      }
      return all;
    }));
    EXPECT_EQ(VexaExtHalt(streams[0].handle), 0);
    EXPECT_EQ(VexaExtStop(streams[1].handle), 0);
    for (int i : {0, 1}) {
      const auto got = events(streams[i].handle);
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got.back().kind, VEXA_EXT_EVENT_LOOP_ENDED);
      EXPECT_EQ(got.back().code, i) << "0 for a halt, 1 for a stop";
      EXPECT_EQ(got.back().session, streams[i].handle);
    }
    std::vector<std::thread> closers;
    for (Stream& s : streams) closers.emplace_back([&s] { EXPECT_EQ(VexaExtClose(s.handle), 0); });
    for (auto& t : closers) t.join();
    for (Stream& s : streams) {
      while (drain(s) > 0) {
      }
      EXPECT_GE(s.check.ticks(), 300);
      EXPECT_EQ(s.check.firstTick(), 0);
      EXPECT_EQ(s.check.lost() + s.check.badTicks(), 0) << s.check.firstError();
      EXPECT_EQ(s.badTimes, 0);
    }
  }
}

// A session streams while the interface's current device streams through
// StartLoop; each keeps to its own data, and a marker for every session
// lands in both recordings, each at its own instant nearest the marker's
// time.
TEST_F(Sessions, BesideTheCurrentDeviceWithAMarkerInBothRecordings) {
  Stream session({{2, 1, 16, 0x6}});
  const std::vector<Vexa::Source> currentSources = {{1, 1, 8, 0x3}};
  vexa_test::PatternChecker currentCheck(currentSources);
  VexaExtEnableSampleRing(0);
  VexaDevUnity("SIM:current");
  // Each loop runs right after its start: data left waiting on the link
  // would arrive late and in a burst.
  ASSERT_EQ(openAndStart(session, 500), 0) << VexaExtGetLastErrorDetail();
  const VexaSource wire[] = {{1, 1, 8, 0x3}};
  StartAcquisitionBySources(1000, wire, 1);
  const std::string currentFile = vexa_test::tempPath("current.csv"), sessionFile = vexa_test::tempPath("session.csv");
  ASSERT_EQ(VexaExtStartRecording(currentFile.c_str()), 0) << VexaExtGetLastErrorDetail();
  ASSERT_EQ(VexaExtStartSessionRecording(session.handle, sessionFile.c_str()), 0) << VexaExtGetLastErrorDetail();
  std::thread loop([] { StartLoop(); });
  ASSERT_EQ(VexaExtRun(session.handle), 0);
  EXPECT_TRUE(vexa_test::eventually([&] { return drain(session) >= 0 && session.check.ticks() >= 200; }));
  const double stamp = VexaExtGetHostTime();
  EXPECT_EQ(VexaExtAddSessionMarker(0, "for all", stamp), 0) << VexaExtGetLastErrorDetail();
  EXPECT_TRUE(vexa_test::eventually([&] {
    return drain(session) >= 0 && session.lastTime > stamp + 0.05 && VexaExtGetInstantTime() > stamp + 0.05;
  }));
  EXPECT_EQ(VexaExtStopSessionRecording(session.handle), 0) << VexaExtGetLastErrorDetail();
  InterruptAcquisition();
  loop.join();
  EXPECT_EQ(VexaExtStopRecording(), 0) << VexaExtGetLastErrorDetail();
  EXPECT_EQ(VexaExtAddSessionMarker(0, "none", stamp), VEXA_EXT_ERR_STATE);
  EXPECT_EQ(VexaExtClose(session.handle), 0);

  long long ticks[256];
  int samples[256 * 2], n;
  while ((n = VexaExtReadBlock(0, ticks, nullptr, 256, samples, 512, nullptr, nullptr)) > 0) {
    for (int i = 0; i < n; ++i) currentCheck.check(static_cast<int>(ticks[i]), samples + 2 * i, 2);
  }
  EXPECT_GT(currentCheck.ticks(), 0);
  EXPECT_EQ(currentCheck.lost() + currentCheck.badTicks(), 0) << currentCheck.firstError();
  drain(session);
  EXPECT_EQ(session.check.lost() + session.check.badTicks(), 0) << session.check.firstError();
  for (const std::string& file : {currentFile, sessionFile}) {
    std::istringstream csv(vexa_test::slurp(file));
    std::string row, marked;
    while (std::getline(csv, row)) {
      if (row.find("for all") != std::string::npos) marked = row;
    }
    long long tick = 0;
    double seconds = 0, hostTime = 0;
    char comma;
    std::istringstream fields(marked);
    ASSERT_TRUE(fields >> tick >> comma >> seconds >> comma >> hostTime) << file << ": " << marked;
    // Within a tick of either device of the marker's time.
    EXPECT_NEAR(hostTime, stamp, 0.0021) << file;
    std::remove(file.c_str());
  }
}

// Events reach the handler on the session's own thread, digital inputs
// with the instant they came with; the handler's calls that would wait for
// its own thread are refused, and its stop ends the loop.
std::atomic<int> handlerSession{0}, inputs{0}, badInputs{0}, loopEnd{-1};
std::vector<int> ownThreadResults;
std::thread::id handlerThread;
std::string firstBad;

void onSessionEvent(const VexaExtEvent* e) {
  handlerThread = std::this_thread::get_id();
  if (e->session != handlerSession && ++badInputs == 1) firstBad = "session";
  if (e->kind == VEXA_EXT_EVENT_LOOP_ENDED) loopEnd = e->code;
  if (e->kind != VEXA_EXT_EVENT_DIGITAL_INPUT) return;
  // The simulator's input goes 0, 1, 1, 0 over successive frames; each
  // event names the frame whose input it reports.
  const long long phase = e->tick % 4;
  if (e->value != (phase == 1 || phase == 2 ? 1 : 0) || e->clockSource != 2 ||
      static_cast<long long>(e->clockValue) != e->tick || e->code != 0 || !std::isfinite(e->time)) {
    if (++badInputs == 1) firstBad = std::to_string(e->tick) + " " + std::to_string(e->value) + " " + std::to_string(e->time);
  }
  if (++inputs == 1) {
    ownThreadResults = {VexaExtClose(e->session), VexaExtHalt(e->session), VexaExtRun(e->session)};
  }
  if (inputs == 40) VexaExtStop(e->session);
}

TEST_F(Sessions, HandlerRunsOnTheSessionsThread) {
  const int s = VexaExtOpen("SIM:cadrium --digital-inputs 0,1,1,0");
  ASSERT_GT(s, 0) << VexaExtGetLastErrorDetail();
  handlerSession = s;
  ASSERT_EQ(VexaExtSetEventHandler(s, onSessionEvent), 0);
  ASSERT_EQ(VexaExtStartByMask(s, 1000, 0b101, 12), 0) << VexaExtGetLastErrorDetail();
  ASSERT_EQ(VexaExtRun(s), 0);
  EXPECT_TRUE(vexa_test::eventually([] { return loopEnd >= 0; }));
  EXPECT_EQ(loopEnd, 1) << "ended by the handler's stop";
  EXPECT_EQ(inputs, 40);
  EXPECT_EQ(badInputs, 0) << firstBad;
  EXPECT_NE(handlerThread, std::this_thread::get_id());
  EXPECT_EQ(ownThreadResults, std::vector<int>(3, VEXA_EXT_ERR_OWN_THREAD));
  // The session stayed open; its acquisition is stopped.
  EXPECT_EQ(VexaExtRun(s), VEXA_EXT_ERR_STATE);
  EXPECT_EQ(VexaExtClose(s), 0);
}

// Events nobody reads: the queue keeps the newest, and the next read
// starts by saying how many older ones it dropped.
TEST_F(Sessions, FullEventQueueKeepsTheNewestAndCountsTheRest) {
  const int s = VexaExtOpen("SIM:cadrium --digital-inputs 0,1");
  ASSERT_GT(s, 0) << VexaExtGetLastErrorDetail();
  ASSERT_EQ(VexaExtStartByMask(s, 1000, 0b1, 12), 0) << VexaExtGetLastErrorDetail();
  ASSERT_EQ(VexaExtRun(s), 0);
  // An input change at every tick: more events than the queue holds.
  long long tick = 0;
  int sample[1];
  EXPECT_TRUE(vexa_test::eventually([&] {
    VexaExtReadBlock(s, &tick, nullptr, 1, sample, 1, nullptr, nullptr);
    return tick > 400;
  }));
  ASSERT_EQ(VexaExtHalt(s), 0);
  std::vector<VexaExtEvent> got(300);
  ASSERT_EQ(VexaExtReadEvents(s, got.data(), 300), 257);
  EXPECT_EQ(got[0].kind, VEXA_EXT_EVENT_OVERFLOW);
  EXPECT_EQ(got[0].code, 1);
  EXPECT_EQ(got[256].kind, VEXA_EXT_EVENT_LOOP_ENDED);
  // The kept inputs follow the dropped ones, one a tick.
  for (int i = 1; i < 256; ++i) {
    EXPECT_EQ(got[i].kind, VEXA_EXT_EVENT_DIGITAL_INPUT);
    EXPECT_EQ(got[i].tick, got[1].tick + i - 1);
  }
  // The inputs before the kept ones were dropped: those from tick 0 or 1.
  EXPECT_TRUE(got[0].count == got[1].tick || got[0].count == got[1].tick - 1) << got[0].count << " " << got[1].tick;
  EXPECT_EQ(VexaExtReadEvents(s, got.data(), 300), 0);
  EXPECT_EQ(VexaExtClose(s), 0);
}

// A call made from another session's handler, as that session's loop ends.
std::function<int()> fromHandler;
std::atomic<int> handlerResult{1};
int fromOtherSession(std::function<int()> call) {
  Stream other({{1, 1, 16, 0x1}});
  fromHandler = std::move(call);
  VexaExtSetEventHandler(openAndStart(other) == 0 ? other.handle : 0, [](const VexaExtEvent* e) {
    if (e->kind == VEXA_EXT_EVENT_LOOP_ENDED) handlerResult = fromHandler();
  });
  VexaExtRun(other.handle);
  VexaExtHalt(other.handle);
  VexaExtClose(other.handle);
  return handlerResult;
}

// Each misuse is refused with its code and touches nothing: the session
// used for the table streams on unharmed.
TEST_F(Sessions, MisuseIsRefusedWithItsCode) {
  Stream live({{1, 1, 16, 0x3}});
  ASSERT_EQ(openAndStart(live), 0) << VexaExtGetLastErrorDetail();
  const int closed = VexaExtOpen("SIM:current --product 0x0205");
  int productId = 0;
  const char* type = nullptr;
  ASSERT_EQ(VexaExtGetSessionProductId(closed, &productId), 0);
  ASSERT_EQ(VexaExtGetSessionDeviceType(closed, &type), 0);
  EXPECT_EQ(productId, 0x0205);
  EXPECT_STREQ(type, "tessarimodular");
  ASSERT_EQ(VexaExtClose(closed), 0);
  ASSERT_GT(closed, live.handle) << "handles grow";
  const int data[] = {80, 40};
  VexaExtEvent ev;
  long long tick;
  int sample;
  struct Case {
    const char* what;
    std::function<int()> call;
    int code;
  };
  const Case cases[] = {
      {"closed twice", [&] { return VexaExtClose(closed); }, VEXA_EXT_ERR_SESSION},
      {"closed start", [&] { return VexaExtStartByMask(closed, 1000, 1, 16); }, VEXA_EXT_ERR_SESSION},
      {"closed read", [&] { return VexaExtReadBlock(closed, &tick, nullptr, 1, &sample, 1, nullptr, nullptr); },
       VEXA_EXT_ERR_SESSION},
      {"closed events", [&] { return VexaExtReadEvents(closed, &ev, 1); }, VEXA_EXT_ERR_SESSION},
      {"closed marker", [&] { return VexaExtAddSessionMarker(closed, "m", 1.0); }, VEXA_EXT_ERR_SESSION},
      {"unknown run", [] { return VexaExtRun(999999); }, VEXA_EXT_ERR_SESSION},
      {"session 0 is no session", [] { return VexaExtHalt(0); }, VEXA_EXT_ERR_SESSION},
      {"negative", [] { return VexaExtGetSessionBattery(-1); }, VEXA_EXT_ERR_SESSION},
      {"null path", [] { return VexaExtOpen(nullptr); }, VEXA_EXT_ERR_ARGUMENT},
      {"no such port", [] { return VexaExtOpen("COM/dev/vexa-no-such-port"); }, VEXA_EXT_ERR_LINK},
      {"bad simulator", [] { return VexaExtOpen("SIM:current --no-such-option"); }, VEXA_EXT_ERR_LINK},
      {"null sources", [&] { return VexaExtStartBySources(live.handle, 1000, nullptr, 2); }, VEXA_EXT_ERR_ARGUMENT},
      {"second start", [&] { return VexaExtStartByMask(live.handle, 1000, 1, 16); }, VEXA_EXT_ERR_STATE},
      {"parameter form", [&] { return VexaExtSetSessionParameter(live.handle, 9, 2, data, 2); },
       VEXA_EXT_ERR_ARGUMENT},
      {"one byte at index 3", [&] { return VexaExtSetSessionParameter(live.handle, 1, 3, data, 1); }, 0},
      {"null product", [&] { return VexaExtGetSessionProductId(live.handle, nullptr); }, VEXA_EXT_ERR_ARGUMENT},
      {"no room for events", [&] { return VexaExtReadEvents(live.handle, nullptr, 0); }, 0},
      {"negative events", [&] { return VexaExtReadEvents(live.handle, &ev, -1); }, VEXA_EXT_ERR_ARGUMENT},
      {"no recording", [&] { return VexaExtStopSessionRecording(live.handle); }, VEXA_EXT_ERR_STATE},
      {"marker at no time", [&] { return VexaExtAddSessionMarker(live.handle, "m", NAN); }, VEXA_EXT_ERR_ARGUMENT},
      {"recording path", [&] { return VexaExtStartSessionRecording(live.handle, "run.txt"); },
       VEXA_EXT_ERR_ARGUMENT},
      {"run", [&] { return VexaExtRun(live.handle); }, 0},
      {"run twice", [&] { return VexaExtRun(live.handle); }, VEXA_EXT_ERR_STATE},
      {"battery while the loop runs", [&] { return VexaExtGetSessionBattery(live.handle); }, VEXA_EXT_ERR_STATE},
      // Its handler might be closing that other session in turn: waiting
      // could hang both.
      {"close from another loop's handler", [&] { return fromOtherSession([&] { return VexaExtClose(live.handle); }); },
       VEXA_EXT_ERR_STATE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), c.code) << c.what << ": " << VexaExtGetLastErrorDetail();
    if (c.code != 0) {
      EXPECT_STRNE(VexaExtGetLastErrorDetail(), "") << c.what;
    }
  }
  EXPECT_TRUE(vexa_test::eventually([&] { return drain(live) >= 0 && live.check.ticks() >= 100; }));
  EXPECT_EQ(live.check.lost() + live.check.badTicks(), 0) << live.check.firstError();
  EXPECT_TRUE(reports().empty()) << "no session call reports through the exception handler";
  EXPECT_EQ(VexaExtClose(live.handle), 0);
}

// Closes from two threads while four others read, pull events, mark and
// query: one close succeeds, every call after it finds the session closed,
// and nothing crashes (ThreadSanitizer runs this too).
TEST_F(Sessions, ClosedWhileOtherThreadsUseIt) {
  for (int round = 0; round < 4; ++round) {
    Stream s({{1, 1, 16, 0x1 + round % 7}});
    ASSERT_EQ(openAndStart(s), 0) << VexaExtGetLastErrorDetail();
    ASSERT_EQ(VexaExtStartSessionRecording(s.handle, vexa_test::tempPath("closed.csv").c_str()), 0);
    ASSERT_EQ(VexaExtRun(s.handle), 0);
    std::atomic<int> closedSeen{0};
    const std::function<int()> uses[] = {
        [&] {
          long long t[8];
          int v[8];
          return VexaExtReadBlock(s.handle, t, nullptr, 8, v, 8, nullptr, nullptr);
        },
        [&] {
          VexaExtEvent e[2];
          return VexaExtReadEvents(s.handle, e, 2);
        },
        [&] { return VexaExtAddSessionMarker(s.handle, "m", VexaExtGetHostTime()); },
        [&] {
          const char* type;
          return VexaExtGetSessionDeviceType(s.handle, &type);
        },
    };
    std::vector<std::thread> threads;
    for (const auto& use : uses) {
      threads.emplace_back([&] {
        while (use() != VEXA_EXT_ERR_SESSION) {
        }
        ++closedSeen;
      });
    }
    std::atomic<int> closes{0};
    for (int i = 0; i < 2; ++i) threads.emplace_back([&] { closes += VexaExtClose(s.handle) == 0 ? 1 : 0; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(closedSeen, 4);
  }
  std::remove(vexa_test::tempPath("closed.csv").c_str());
}

}  // namespace
}  // namespace vexa_unity_test
