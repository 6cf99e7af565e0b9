// Acquisition of the current-generation model, driven with explicit times.
#include <gtest/gtest.h>

#include <functional>

#include "message_reader.h"
#include "start_command.h"
#include "vexa_sim/current_device_model.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::command;
using vexa_sim_test::Message;
using vexa_sim_test::parseMessages;
using vexa_sim_test::startPayload;

const DeviceModel::TimePoint kT0 = DeviceModel::Clock::now();
const Bytes kStop = {0xAA, 0x02, 0x09, 0x00, 0x6A};
const Bytes kBatteryCmd = {0xAA, 0x02, 0x04, 0x00, 0x83};
const Message kAck = {0x00, {}};
// 1000 Hz, one 16-bit channel: frames of 4 ticks, 8 bytes.
const Bytes kStart = command(startPayload(1000, {{0x81, 1, 0x01}}));

std::vector<Message> talk(CurrentDeviceModel& m, const Bytes& in, milliseconds at) {
  m.onHostBytes(in.data(), in.size(), kT0 + at);
  return parseMessages(m.takeOutput());
}

std::vector<Message> wake(CurrentDeviceModel& m, milliseconds at) {
  m.onWake(kT0 + at);
  return parseMessages(m.takeOutput());
}

std::vector<uint16_t> codes(const std::vector<Message>& messages) {
  std::vector<uint16_t> out;
  for (const Message& m : messages) out.push_back(m.code);
  return out;
}

CurrentDeviceModel streamingModel() {
  CurrentDeviceConfig config;
  config.ticksPerFrame = 4;
  return CurrentDeviceModel(config);
}

TEST(CurrentStreamingTest, AcknowledgesThenSendsEachFrameWhenItsLastTickIsDue) {
  CurrentDeviceModel m = streamingModel();
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_EQ(talk(m, kStart, milliseconds(0)), std::vector<Message>{kAck});
  ASSERT_TRUE(m.acquiring());
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(3));
  EXPECT_TRUE(wake(m, milliseconds(2)).empty());
  EXPECT_EQ(wake(m, milliseconds(3)),
            (std::vector<Message>{{0x8000, {0x00, 0x00, 0x15, 0x7C, 0x2A, 0xF8, 0x3F, 0x74}}}));
  EXPECT_EQ(codes(wake(m, milliseconds(11))), (std::vector<uint16_t>{0x8004, 0x8008}));
  EXPECT_EQ(m.framesSent(), 3u);
  EXPECT_EQ(m.ticksSent(), 12);
  EXPECT_EQ(m.ticksPerFrame(), 4);
  ASSERT_TRUE(m.lastStart());
  EXPECT_EQ(m.lastStart()->baseRate, 1000.0f);
  ASSERT_EQ(m.lastStart()->sources.size(), 1u);
  EXPECT_EQ(m.lastStart()->sources[0].nBits, 16);
}

TEST(CurrentStreamingTest, RefusedStartsStreamNothing) {
  CurrentDeviceModel m = streamingModel();
  EXPECT_EQ(talk(m, command(startPayload(1000, {{0x01, 0, 0x01}})), milliseconds(0)),
            (std::vector<Message>{{0x01, {kBadStartError}}}));
  EXPECT_NE(m.lastStartRefusal().find("divisor 0"), std::string::npos);
  m.failNextCommand(0x09);
  EXPECT_EQ(talk(m, kStart, milliseconds(0)), (std::vector<Message>{{0x01, {0x09}}}));
  EXPECT_FALSE(m.acquiring());
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_TRUE(wake(m, milliseconds(100)).empty());
}

TEST(CurrentStreamingTest, SecondStartIsRefusedAndTheFirstGoesOn) {
  CurrentDeviceModel m = streamingModel();
  talk(m, kStart, milliseconds(0));
  EXPECT_EQ(talk(m, command(startPayload(500, {{0x02, 1, 0x01}})), milliseconds(1)),
            (std::vector<Message>{{0x01, {kAlreadyAcquiringError}}}));
  EXPECT_EQ(m.lastStartRefusal(), "already acquiring");
  EXPECT_EQ(m.lastStart()->baseRate, 1000.0f);
  EXPECT_EQ(codes(wake(m, milliseconds(3))), std::vector<uint16_t>{0x8000});
}

TEST(CurrentStreamingTest, StopIsAcknowledgedAfterTheFramesAlreadyDue) {
  CurrentDeviceModel m = streamingModel();
  talk(m, kStart, milliseconds(0));
  EXPECT_EQ(codes(talk(m, kStop, milliseconds(9))),
            (std::vector<uint16_t>{0x8000, 0x8004, 0x0000}));
  EXPECT_FALSE(m.acquiring());
  EXPECT_EQ(m.stopTick(), 8);
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_TRUE(wake(m, milliseconds(1000)).empty());
  EXPECT_EQ(talk(m, kStop, milliseconds(1001)),
            std::vector<Message>{kAck});  // idle: still acknowledged

  // A new acquisition counts from tick 0 and from its own start.
  talk(m, kStart, milliseconds(2000));
  EXPECT_EQ(m.stopTick(), std::nullopt);
  EXPECT_EQ(m.framesSent(), 0u);
  EXPECT_EQ(codes(wake(m, milliseconds(2003))), std::vector<uint16_t>{0x8000});
}

TEST(CurrentStreamingTest, AnswersCommandsAndSendsEventsWhileStreaming) {
  CurrentDeviceModel m = streamingModel();
  talk(m, kStart, milliseconds(0));
  EXPECT_EQ(talk(m, kBatteryCmd, milliseconds(1)), (std::vector<Message>{{0x00, {0xA4, 0x06}}}));
  m.sendEvent(0x0D, {0x07});
  EXPECT_EQ(codes(parseMessages(m.takeOutput())), std::vector<uint16_t>{0x0D});
  EXPECT_EQ(codes(talk(m, {'V'}, milliseconds(4))), (std::vector<uint16_t>{0x8000, 0x0000}));
}

TEST(CurrentStreamingTest, StreamFaults) {
  struct Case {
    const char* name;
    std::function<void(CurrentDeviceModel&)> inject;  // after the first frame
    milliseconds until;
    std::vector<Message> want;
  };
  const Bytes frame4 = {0x54, 0xF0, 0x69, 0x6C, 0x7E, 0xE8, 0x93, 0x64};  // ticks 4 to 7
  Bytes cut4(frame4.begin(), frame4.end() - 1);
  const Case cases[] = {
      {"gap of 100 ticks",
       [](CurrentDeviceModel& m) { m.skipTicks(100); },
       milliseconds(107),
       {{0x8068, {}}}},
      {"cut inside its last tick",
       [](CurrentDeviceModel& m) { m.cutNextFrame(); },
       milliseconds(11),
       {{0x8004, cut4}, {0x8008, {}}}},
      {"bad CRC",
       [](CurrentDeviceModel& m) { m.corruptNextCrc(); },
       milliseconds(11),
       {{0x8004, frame4, false}, {0x8008, {}}}},
      {"disconnect",
       [](CurrentDeviceModel& m) { m.disconnect(0x02); },
       milliseconds(100),
       {{0x08, {0x02}}}},
  };
  for (const auto& c : cases) {
    CurrentDeviceModel m = streamingModel();
    talk(m, kStart, milliseconds(0));
    wake(m, milliseconds(3));
    c.inject(m);
    std::vector<Message> got = parseMessages(m.takeOutput());
    for (const Message& msg : wake(m, c.until)) got.push_back(msg);
    ASSERT_EQ(got.size(), c.want.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].code, c.want[i].code) << c.name << " #" << i;
      EXPECT_EQ(got[i].crcOk, c.want[i].crcOk) << c.name << " #" << i;
      if (!c.want[i].payload.empty()) {
        EXPECT_EQ(got[i].payload, c.want[i].payload) << c.name << " #" << i;
      }
    }
  }
}

TEST(CurrentStreamingTest, GapRequestedBeforeTheStartHitsTheFirstFrame) {
  CurrentDeviceModel m = streamingModel();
  m.skipTicks(40);
  talk(m, kStart, milliseconds(0));
  EXPECT_EQ(codes(wake(m, milliseconds(43))), std::vector<uint16_t>{0x8028});
  EXPECT_THROW(m.skipTicks(-1), std::invalid_argument);
}

TEST(CurrentStreamingTest, DisconnectEndsTheAcquisition) {
  CurrentDeviceModel m = streamingModel();
  talk(m, kStart, milliseconds(0));
  wake(m, milliseconds(7));
  m.disconnect(0x02);
  EXPECT_EQ(m.takeOutput(), (Bytes{0x08, 0x01, 0x02, 0x61}));
  EXPECT_FALSE(m.acquiring());
  EXPECT_EQ(m.stopTick(), 8);
  EXPECT_EQ(m.nextWake(), std::nullopt);
}

TEST(CurrentStreamingTest, SilenceLosesTheFramesThatFallDue) {
  CurrentDeviceModel m = streamingModel();
  talk(m, kStart, milliseconds(0));
  wake(m, milliseconds(3));
  m.setSilent(true);
  EXPECT_TRUE(talk(m, kBatteryCmd, milliseconds(5)).empty());
  EXPECT_TRUE(wake(m, milliseconds(50)).empty());
  m.setSilent(false);
  // Ticks 4 to 47 were never sent: the stream resumes in real time.
  EXPECT_EQ(codes(wake(m, milliseconds(55))), (std::vector<uint16_t>{0x8030, 0x8034}));
  EXPECT_EQ(m.framesSent(), 3u);
}

TEST(CurrentStreamingTest, CatchUpComesInBoundedBatches) {
  CurrentDeviceConfig config;
  config.ticksPerFrame = 1;
  CurrentDeviceModel m(config);
  talk(m, command(startPayload(100000, {{0x01, 1, 0x01}})), milliseconds(0));
  EXPECT_EQ(wake(m, milliseconds(10000)).size(), 64u);
  ASSERT_TRUE(m.nextWake());
  EXPECT_LE(*m.nextWake(), kT0 + milliseconds(10000));  // more at once
  EXPECT_EQ(wake(m, milliseconds(10000)).front().code, 0x8040);
}

}  // namespace
}  // namespace vexa_sim
