#include "vexa_sim/engine.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <typeinfo>

#include "sim_test_util.h"
#include "vexa/crc.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/in_process_simulator.h"
#include "vexa_sim/pipe_transport.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::msSince;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPatience{5000};

// Emits 'T' at the time a test asks for.
class AlarmModel : public DeviceModel {
 public:
  void onHostBytes(const uint8_t*, size_t, TimePoint) override {}
  std::optional<TimePoint> nextWake() const override { return alarm; }
  void onWake(TimePoint now) override {
    alarm.reset();
    firedAt = now;
    emit(vexa_sim_test::text("T"));
  }
  std::optional<TimePoint> alarm;
  TimePoint firedAt{};
};

// A pipe link that lets a test wait until the engine sits in a read.
class ObservedLink : public Link {
 public:
  explicit ObservedLink(std::unique_ptr<PipeLink> inner) : inner_(std::move(inner)) {}

  int read(uint8_t* buf, int len, milliseconds timeout) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++reads_;
      lastTimeout_ = timeout;
    }
    entered_.notify_all();
    return inner_->read(buf, len, timeout);
  }
  void write(const uint8_t* data, size_t len) override { inner_->write(data, len); }
  void wakeReader() override { inner_->wakeReader(); }

  // Waits for the first read to begin and returns its time-out.
  milliseconds awaitFirstRead() {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_.wait_for(lock, kPatience, [&] { return reads_ > 0; });
    return lastTimeout_;
  }

 private:
  std::unique_ptr<PipeLink> inner_;
  std::mutex mutex_;
  std::condition_variable entered_;
  int reads_ = 0;
  milliseconds lastTimeout_{};
};

struct Connected {
  Connected() : sim(std::make_unique<CurrentDeviceModel>()), io(sim.takeHostIo()) {
    io->setRcvTimeout(static_cast<int>(kPatience.count()));
  }
  void send(const Bytes& bytes) { io->send(bytes.data(), static_cast<int>(bytes.size())); }
  // One short message (one-byte code, payload below 255 bytes), CRC checked.
  Bytes readMessage() {
    Bytes m(2);
    Vexa::IO::recvAll(*io, m.data(), 2);
    m.resize(2 + m[1] + 1);
    Vexa::IO::recvAll(*io, m.data() + 2, m[1] + 1);
    EXPECT_EQ(m.back(), Vexa::crc8(m.data(), m.size() - 1));
    return Bytes(m.begin(), m.end() - 1);
  }

  InProcessSimulator sim;
  std::unique_ptr<Vexa::IO> io;
};

TEST(EngineTest, WithRunsOnTheModelAndFlushesItsOutput) {
  Connected c;
  c.sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(0x08, {0x02}); });
  Bytes got(4);
  Vexa::IO::recvAll(*c.io, got.data(), 4);
  EXPECT_EQ(got, (Bytes{0x08, 0x01, 0x02, 0x61}));
  EXPECT_THROW(c.sim.engine().with<CadriumModel>([](CadriumModel&) {}), std::bad_cast);
}

TEST(EngineTest, WaitUntilSeesTheHostsCommand) {
  Connected c;
  auto gotCommand = [](CurrentDeviceModel& m) { return !m.receivedCommands().empty(); };
  EXPECT_FALSE(c.sim.engine().waitUntil<CurrentDeviceModel>(gotCommand, milliseconds(20)));
  c.send({0xAA, 0x02, 0x09, 0x00, 0x6A});
  EXPECT_TRUE(c.sim.engine().waitUntil<CurrentDeviceModel>(gotCommand, kPatience));
  EXPECT_EQ(c.readMessage(), (Bytes{0x00, 0x00}));
}

// Replies and events injected from another thread must reach the host as
// whole messages, never interleaved.
TEST(EngineTest, RepliesAndInjectedEventsNeverInterleave) {
  Connected c;
  constexpr int kEach = 40;
  auto injector = std::async(std::launch::async, [&] {
    for (int i = 0; i < kEach; ++i) {
      c.sim.engine().with<CurrentDeviceModel>(
          [&](CurrentDeviceModel& m) { m.sendEvent(0x0D, {static_cast<uint8_t>(i)}); });
    }
  });
  for (int i = 0; i < kEach; ++i) c.send({0xAA, 0x02, 0x04, 0x00, 0x83});
  int replies = 0;
  int nextEvent = 0;
  for (int i = 0; i < 2 * kEach; ++i) {
    Bytes m = c.readMessage();
    if (m[0] == 0x00) {
      EXPECT_EQ(m, (Bytes{0x00, 0x02, 0xA4, 0x06}));
      ++replies;
    } else {
      EXPECT_EQ(m, (Bytes{0x0D, 0x01, static_cast<uint8_t>(nextEvent++)}));  // in order
    }
  }
  injector.get();
  EXPECT_EQ(replies, kEach);
  EXPECT_EQ(nextEvent, kEach);
}

TEST(EngineTest, WakesTheModelWhenItAsks) {
  auto [host, device] = makePipe();
  host->setRcvTimeout(static_cast<int>(kPatience.count()));
  auto link = std::make_unique<ObservedLink>(std::move(device));
  ObservedLink& observed = *link;
  Engine engine(std::move(link), std::make_unique<AlarmModel>());
  // Armed while the engine already waits on the link with nothing planned:
  // with() must make it re-plan rather than sleep out that wait.
  ASSERT_GE(observed.awaitFirstRead(), milliseconds(800));
  auto armed = Clock::now();
  auto due = armed + milliseconds(30);
  engine.with<AlarmModel>([&](AlarmModel& m) { m.alarm = due; });
  uint8_t byte = 0;
  ASSERT_EQ(host->recv(&byte, 1), 1);
  EXPECT_EQ(byte, 'T');
  auto firedAt = engine.with<AlarmModel>([](AlarmModel& m) { return m.firedAt; });
  EXPECT_TRUE(firedAt >= due);
  EXPECT_LT(std::chrono::duration_cast<milliseconds>(firedAt - armed).count(), 800);
}

TEST(EngineTest, EndsWhenTheHostClosesTheLink) {
  Connected c;
  c.io.reset();
  EXPECT_TRUE(c.sim.engine().waitForLinkClosed(kPatience));
  // The model stays reachable; what it emits now is dropped.
  c.sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(8, {1}); });
}

TEST(EngineTest, StopsPromptlyWhileTheHostIsSilent) {
  auto [host, device] = makePipe();
  auto link = std::make_unique<ObservedLink>(std::move(device));
  ObservedLink& observed = *link;
  Clock::time_point start;
  {
    Engine engine(std::move(link), std::make_unique<CurrentDeviceModel>());
    ASSERT_GE(observed.awaitFirstRead(), milliseconds(800));  // a long idle wait
    start = Clock::now();
    engine.stop();
    engine.stop();  // idempotent; the destructor stops once more
  }
  EXPECT_LT(msSince(start), 500);  // cut short, not sat out
  EXPECT_THROW(Engine(nullptr, std::make_unique<CurrentDeviceModel>()), std::invalid_argument);
}

}  // namespace
}  // namespace vexa_sim
