// The current-generation model driven with explicit times: its replies,
// faults and events byte for byte, and the pacing of its data frames.
#include "vexa_sim/current_device_model.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "sim_test_util.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim::test {
namespace {

const Bytes kVersionCmd = {0xAA, 0x02, 0x03, 0x00, 0xE8};
const Bytes kBatteryCmd = {0xAA, 0x02, 0x04, 0x00, 0x83};
const Bytes kStopCmd = {0xAA, 0x02, 0x09, 0x00, 0x6A};
const Bytes kEmptyOk = {0x00, 0x00, 0xD7};
const Bytes kUnknownError = {0x01, 0x01, 0x02, 0x5B};
const Bytes kDescriptionReply = cat({{0x00, 0x0E}, text("tessarimodular"), {0x48}});
const Bytes kVersionReply = {0x00, 0x06, 0x02, 0x01, 0x03, 0x04, 0x01, 0x02, 0xAD};
const Bytes kBatteryReply = {0x00, 0x02, 0xA4, 0x06, 0x59};
// 1000 Hz, one 16-bit channel: with 4 ticks per frame, one frame per 4 ms.
const Bytes kStart = command(startPayload(1000, {{0x81, 1, 0x01}}));

CurrentDeviceModel streaming() {
  CurrentDeviceConfig config;
  config.ticksPerFrame = 4;
  return CurrentDeviceModel(config);
}

// Ticks first .. first + 3 of kStart's channel, and their data frame.
Bytes payload(int64_t first) {
  Bytes p;
  for (int64_t t = first; t < first + 4; ++t) {
    int32_t v = samplePattern(t, 0, 0, 16);
    p.push_back(static_cast<uint8_t>(v));
    p.push_back(static_cast<uint8_t>(v >> 8));
  }
  return p;
}
Bytes frame(int64_t first) { return message(0x8000 | (first & 0x7FFF), payload(first)); }

TEST(CurrentDeviceModelTest, AnswersEachRequestByteForByte) {
  const std::tuple<const char*, Bytes, Bytes> cases[] = {
      // what, sent, answered
      {"0x07 probe: silence", {0x07}, {}},
      {"set parameter, AA in its data",
       {0xAA, 0x06, 0x01, 0x05, 0x01, 0x02, 0xAA, 0xBB, 0x19},
       kEmptyOk},
      {"stop while idle", kStopCmd, kEmptyOk},
      {"unknown command", {0xAA, 0x02, 0x05, 0x00, 0x96}, kUnknownError},
      {"version with an extra byte", {0xAA, 0x03, 0x03, 0x00, 0x00, 0x96}, kUnknownError},
      {"bad CRC ignored, not swallowing the next command",
       cat({{0xAA, 0x02, 0x03, 0x00, 0xE9}, kVersionCmd}), kVersionReply},
  };
  for (const auto& [what, in, out] : cases) {
    CurrentDeviceModel model;
    EXPECT_EQ(talk(model, in), out) << what;
  }
}

TEST(CurrentDeviceModelTest, LongPayloadsTakeTheExtendedLength) {
  const std::tuple<size_t, Bytes, uint8_t> cases[] = {
      // size, header, CRC
      {254, {0x00, 0xFE}, 0x23},
      {255, {0x00, 0xFF, 0xFF, 0x00}, 0x03},  // FF announces the 16-bit form, low byte first
  };
  for (const auto& [size, header, crc] : cases) {
    CurrentDeviceConfig config;
    config.description = std::string(size, 'A');
    CurrentDeviceModel model(config);
    EXPECT_EQ(talk(model, {0x56}), cat({header, Bytes(size, 'A'), {crc}})) << size;
  }
  CurrentDeviceConfig tooLong;
  tooLong.description = std::string(65536, 'A');
  EXPECT_THROW(CurrentDeviceModel{tooLong}, std::invalid_argument);
}

TEST(CurrentDeviceModelTest, JoinsSplitCommandsDropsStaleOnesAndRecordsWhatCame) {
  CurrentDeviceModel model;
  EXPECT_EQ(talk(model, {0x07, 0xAA, 0x02}), Bytes{});
  EXPECT_EQ(talk(model, {0x03}), Bytes{});
  EXPECT_EQ(talk(model, {0x00, 0xE8, 0x56}, 900), cat({kVersionReply, kDescriptionReply}));
  // The rest of this frame was lost; after a second of quiet the fragment
  // is dropped instead of eating the next command.
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x03}, 1000), Bytes{});
  EXPECT_EQ(talk(model, kBatteryCmd, 2001), kBatteryReply);
  talk(model, {0xAA, 0x02, 0x03, 0x00, 0xE9}, 2001);  // bad CRC
  EXPECT_EQ(model.rawBytes(), (Bytes{0x07, 0x56}));
  EXPECT_EQ(model.receivedCommands(), (std::vector<Bytes>{{0x03, 0x00}, {0x04, 0x00}}));
  EXPECT_EQ(model.rejectedFrames(), 2u);
}

TEST(CurrentDeviceModelTest, FaultsApplyOnceToTheMessageTheyAimAt) {
  CurrentDeviceModel model;
  model.injectStrayBytes({0x05});
  model.injectStrayBytes({0x06});
  EXPECT_EQ(model.takeOutput(), Bytes{});  // held until a message goes out
  EXPECT_EQ(talk(model, kVersionCmd), cat({{0x05, 0x06}, kVersionReply}));
  EXPECT_EQ(talk(model, kVersionCmd), kVersionReply);

  model.failNextCommand(0x07);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);                // a probe is no command
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x04, 0x00, 0x84}), Bytes{});  // nor a bad frame
  EXPECT_EQ(talk(model, kBatteryCmd), (Bytes{0x01, 0x01, 0x07, 0x40}));
  EXPECT_EQ(talk(model, kBatteryCmd), kBatteryReply);

  // Aimed past the 'V' reply, at the reply to the first command.
  model.injectStrayBytes({0x05}, 1);
  model.corruptNextCrc(2);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);
  EXPECT_EQ(talk(model, kVersionCmd), cat({{0x05}, kVersionReply}));
  EXPECT_EQ(talk(model, kBatteryCmd), withBadCrc(kBatteryReply));
  EXPECT_EQ(talk(model, kBatteryCmd), kBatteryReply);
}

TEST(CurrentStreamingTest, FramesGoWhenTheirLastTickIsDueFromAnAcknowledgedStartToTheStop) {
  CurrentDeviceModel m = streaming();
  EXPECT_EQ(talk(m, command(startPayload(1000, {{0x01, 0, 0x01}}))),
            message(0x01, {kBadStartError}));
  m.failNextCommand(0x09);
  EXPECT_EQ(talk(m, kStart), message(0x01, {0x09}));
  EXPECT_EQ(m.nextWake(), std::nullopt);  // refused starts stream nothing
  EXPECT_EQ(talk(m, kStart), kEmptyOk);
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(3));
  EXPECT_EQ(wake(m, 2), Bytes{});
  EXPECT_EQ(wake(m, 3),  // ticks 0 to 3, little-endian
            message(0x8000, {0x00, 0x00, 0x15, 0x7C, 0x2A, 0xF8, 0x3F, 0x74}));
  // Frames already due go before any reply; a second start changes nothing.
  EXPECT_EQ(talk(m, command(startPayload(500, {{0x02, 1, 0x01}})), 11),
            cat({frame(4), frame(8), message(0x01, {kAlreadyAcquiringError})}));
  EXPECT_EQ(talk(m, kStopCmd, 17), cat({frame(12), kEmptyOk}));
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_EQ(wake(m, 1000), Bytes{});
  talk(m, kStart, 2000);  // counts from tick 0 and from its own start
  EXPECT_EQ(wake(m, 2003), frame(0));
}

// Each fault hits the next frame only; frames of ticks skipped or falling
// due while silent are never sent, and the stream goes on in real time.
TEST(CurrentStreamingTest, StreamFaults) {
  CurrentDeviceModel m = streaming();
  m.skipTicks(40);  // asked for before the start
  talk(m, kStart);
  EXPECT_EQ(wake(m, 43), frame(40));
  m.cutNextFrame();  // inside its last tick
  Bytes cut = payload(44);
  cut.pop_back();
  EXPECT_EQ(wake(m, 47), message(0x8000 | 44, cut));
  m.corruptNextCrc();
  EXPECT_EQ(wake(m, 55), cat({withBadCrc(frame(48)), frame(52)}));
  m.skipTicks(100);
  EXPECT_EQ(wake(m, 159), frame(156));
  m.setSilent(true);
  EXPECT_EQ(talk(m, kBatteryCmd, 160), Bytes{});
  EXPECT_EQ(wake(m, 200), Bytes{});
  m.setSilent(false);
  EXPECT_EQ(wake(m, 207), cat({frame(200), frame(204)}));
  m.disconnect(0x02);  // nothing streams after it
  EXPECT_EQ(cat({m.takeOutput(), wake(m, 1000)}), message(0x08, {0x02}));
}

}  // namespace
}  // namespace vexa_sim::test
