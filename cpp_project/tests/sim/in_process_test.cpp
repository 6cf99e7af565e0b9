// The in-process byte pipe, and the engine that runs a model on a link
// (here that pipe).
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <typeinfo>

#include "sim_test_util.h"
#include "vexa/exceptions.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/engine.h"
#include "vexa_sim/in_process_simulator.h"
#include "vexa_sim/pipe_transport.h"

namespace vexa_sim::test {
namespace {

TEST(PipeTransportTest, DeviceEndGoneBreaksTheHostEndAfterItsLastBytes) {
  auto [host, device] = makePipe();
  host->setRcvTimeout(-1);
  device->write(reinterpret_cast<const uint8_t*>("last"), 4);
  device.reset();
  EXPECT_EQ(recvN(*host, 4), text("last"));  // sent before the end: not lost
  uint8_t byte;
  EXPECT_THROW(host->recv(&byte, 1), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(host->send("x", 1), Vexa::Notification::ContactingDevice);
}

const Bytes kBatteryCmd = {0xAA, 0x02, 0x04, 0x00, 0x83};

// A pipe link that reports the time-out of the engine's first read, so a
// test knows the engine sits in a long idle wait.
class ObservedLink : public Link {
 public:
  explicit ObservedLink(std::unique_ptr<PipeLink> inner) : inner_(std::move(inner)) {}
  int read(uint8_t* buf, int len, milliseconds timeout) override {
    std::call_once(once_, [&] { firstReadTimeout.set_value(timeout); });
    return inner_->read(buf, len, timeout);
  }
  void write(const uint8_t* data, size_t len) override { inner_->write(data, len); }
  void wakeReader() override { inner_->wakeReader(); }
  std::promise<milliseconds> firstReadTimeout;

 private:
  std::unique_ptr<PipeLink> inner_;
  std::once_flag once_;
};

// An engine on an observed pipe, once it waits for the host with nothing planned.
std::unique_ptr<Engine> idleEngine(std::unique_ptr<Vexa::IO>& host) {
  auto [hostEnd, device] = makePipe();
  host = std::move(hostEnd);
  host->setRcvTimeout(static_cast<int>(kPatience.count()));
  auto link = std::make_unique<ObservedLink>(std::move(device));
  std::future<milliseconds> firstRead = link->firstReadTimeout.get_future();
  auto engine = std::make_unique<Engine>(std::move(link), std::make_unique<CurrentDeviceModel>());
  EXPECT_EQ(firstRead.wait_for(kPatience), std::future_status::ready);
  EXPECT_GE(firstRead.get(), milliseconds(800));  // a long wait
  return engine;
}

TEST(EngineTest, WithAndWaitUntilReachTheModelUntilTheLinkCloses) {
  InProcessSimulator sim(std::make_unique<CurrentDeviceModel>());
  std::unique_ptr<Vexa::IO> io = sim.takeHostIo();
  io->setRcvTimeout(static_cast<int>(kPatience.count()));
  Engine& engine = sim.engine();
  engine.with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(0x08, {0x02}); });
  EXPECT_EQ(recvN(*io, 4), message(0x08, {0x02}));  // flushed without a host byte
  EXPECT_THROW(engine.with<CadriumModel>([](CadriumModel&) {}), std::bad_cast);

  auto gotCommand = [](CurrentDeviceModel& m) { return !m.receivedCommands().empty(); };
  EXPECT_FALSE(engine.waitUntil<CurrentDeviceModel>(gotCommand, milliseconds(20)));
  io->send(kBatteryCmd.data(), static_cast<int>(kBatteryCmd.size()));
  EXPECT_TRUE(engine.waitUntil<CurrentDeviceModel>(gotCommand, kPatience));
  EXPECT_EQ(recvN(*io, 5), message(0x00, {0xA4, 0x06}));

  io.reset();
  EXPECT_TRUE(engine.waitForLinkClosed(kPatience));
  // The model stays reachable; what it emits now is dropped.
  engine.with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(8, {1}); });
}

TEST(EngineTest, StopsPromptlyWhileTheHostIsSilent) {
  std::unique_ptr<Vexa::IO> host;
  std::unique_ptr<Engine> engine = idleEngine(host);
  auto start = Clock::now();
  engine->stop();
  engine->stop();  // idempotent; the destructor stops once more
  engine.reset();
  EXPECT_LT(msSince(start), 500);  // cut short, not sat out
}

}  // namespace
}  // namespace vexa_sim::test
