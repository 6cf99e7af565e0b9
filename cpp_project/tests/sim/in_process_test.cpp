// The in-process byte pipe, and the engine that runs a model on a link
// (here that pipe).
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vexa_sim::test
