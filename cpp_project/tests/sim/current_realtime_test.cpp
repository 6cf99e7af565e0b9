// The current-generation model streaming through the engine in real time.
#include <gtest/gtest.h>

#include "message_reader.h"
#include "start_command.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/in_process_simulator.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::Message;
using vexa_sim_test::readMessage;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPatience{5000};
constexpr double kRate = 20000;
constexpr int kTicksPerFrame = 20;  // 1 ms per frame

TEST(CurrentRealtimeTest, FramesArePacedByTheClockAndCarryThePattern) {
  CurrentDeviceConfig config;
  config.ticksPerFrame = kTicksPerFrame;
  InProcessSimulator sim(std::make_unique<CurrentDeviceModel>(config));
  std::unique_ptr<Vexa::IO> io = sim.takeHostIo();
  io->setRcvTimeout(static_cast<int>(kPatience.count()));
  auto send = [&](const Bytes& b) { io->send(b.data(), static_cast<int>(b.size())); };

  const auto before = Clock::now();
  send(vexa_sim_test::command(vexa_sim_test::startPayload(kRate, {{0x81, 1, 0x01}})));
  ASSERT_EQ(readMessage(*io), (Message{0x00, {}}));
  ASSERT_TRUE(sim.engine().waitUntil<CurrentDeviceModel>(
      [](CurrentDeviceModel& m) { return m.framesSent() >= 40; }, kPatience));
  // Never early: frame k (from 1) is due (k * 20 - 1) / 20000 s after the
  // start, which came after `before`.
  sim.engine().with<CurrentDeviceModel>([&](CurrentDeviceModel& m) {
    double elapsed = std::chrono::duration<double>(Clock::now() - before).count();
    EXPECT_LE(static_cast<double>(m.framesSent()), (elapsed * kRate + 1) / kTicksPerFrame);
  });
  EXPECT_GE(vexa_sim_test::msSince(before), 39);

  send({0xAA, 0x02, 0x09, 0x00, 0x6A});
  int64_t tick = 0;
  for (Message m = readMessage(*io); m.code != 0x00; m = readMessage(*io)) {
    ASSERT_EQ(m.code, 0x8000 | (tick & 0x7FFF));
    ASSERT_EQ(m.payload.size(), 2u * kTicksPerFrame);
    for (int i = 0; i < kTicksPerFrame; ++i, ++tick) {
      int32_t value = m.payload[2 * i] | m.payload[2 * i + 1] << 8;
      ASSERT_EQ(value, samplePattern(tick, 0, 0, 16)) << "tick " << tick;
    }
  }
  sim.engine().with<CurrentDeviceModel>([&](CurrentDeviceModel& m) {
    EXPECT_FALSE(m.acquiring());
    EXPECT_EQ(m.stopTick(), tick);
    EXPECT_EQ(m.ticksSent(), tick);
  });
  uint8_t extra;
  io->setRcvTimeout(0);
  EXPECT_EQ(io->recv(&extra, 1), 0);  // nothing after the acknowledgement
}

}  // namespace
}  // namespace vexa_sim
