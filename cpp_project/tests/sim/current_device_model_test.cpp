#include "vexa_sim/current_device_model.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "sim_test_util.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::concat;
using vexa_sim_test::text;

const Bytes kVersionCmd = {0xAA, 0x02, 0x03, 0x00, 0xE8};
const Bytes kBatteryCmd = {0xAA, 0x02, 0x04, 0x00, 0x83};
const Bytes kEmptyOk = {0x00, 0x00, 0xD7};
const Bytes kUnknownError = {0x01, 0x01, 0x02, 0x5B};
const Bytes kDescriptionReply = concat(concat({0x00, 0x0E}, text("tessarimodular")), {0x48});
const Bytes kVersionReply = {0x00, 0x06, 0x02, 0x01, 0x03, 0x04, 0x01, 0x02, 0xAD};
const Bytes kBatteryReply = {0x00, 0x02, 0xA4, 0x06, 0x59};

// Hands the bytes to the model as one read and returns its answer.
Bytes talk(CurrentDeviceModel& model, const Bytes& in,
           DeviceModel::TimePoint now = DeviceModel::Clock::now()) {
  model.onHostBytes(in.data(), in.size(), now);
  return model.takeOutput();
}

TEST(CurrentDeviceModelTest, AnswersEachRequestByteForByte) {
  struct Case {
    const char* name;
    Bytes in;
    Bytes out;
  };
  const Case cases[] = {
      {"'V' probe: description", {0x56}, kDescriptionReply},
      {"0x07 probe: silence", {0x07}, {}},
      {"version record, big-endian", kVersionCmd, kVersionReply},
      {"uid", {0xAA, 0x02, 0x03, 0x03, 0xE1}, {0x00, 0x04, 0x00, 0x12, 0xAB, 0xFF, 0x28}},
      {"colour", {0xAA, 0x02, 0x03, 0x04, 0xF4}, {0x00, 0x01, 0x02, 0x30}},
      {"battery, little-endian", kBatteryCmd, kBatteryReply},
      {"set parameter, AA in its data",
       {0xAA, 0x06, 0x01, 0x05, 0x01, 0x02, 0xAA, 0xBB, 0x19},
       kEmptyOk},
      {"start without sources: malformed",
       {0xAA, 0x02, 0x07, 0x01, 0xBB},
       {0x01, 0x01, 0x03, 0x5C}},
      {"stop", {0xAA, 0x02, 0x09, 0x00, 0x6A}, kEmptyOk},
      {"unknown command", {0xAA, 0x02, 0x05, 0x00, 0x96}, kUnknownError},
      {"empty command", {0xAA, 0x00, 0xFF}, kUnknownError},
      {"version with an extra byte", {0xAA, 0x03, 0x03, 0x00, 0x00, 0x96}, kUnknownError},
      {"set parameter without index", {0xAA, 0x03, 0x01, 0x05, 0x01, 0x06}, kUnknownError},
      {"bad CRC: ignored", {0xAA, 0x02, 0x03, 0x00, 0xE9}, {}},
      {"bad CRC does not swallow the next command",
       concat({0xAA, 0x02, 0x03, 0x00, 0xE9}, kVersionCmd), kVersionReply},
      {"two commands in one read", concat(kVersionCmd, kBatteryCmd),
       concat(kVersionReply, kBatteryReply)},
  };
  for (const auto& c : cases) {
    CurrentDeviceModel model;
    EXPECT_EQ(talk(model, c.in), c.out) << c.name;
  }
}

TEST(CurrentDeviceModelTest, RepliesFollowTheConfiguration) {
  CurrentDeviceConfig config;
  config.description = "abcd";
  config.productId = 0x020A;
  config.fwVersion = 0x0105;
  config.hwVersion = kNoHwVersion;
  config.color = 7;
  config.batteryRaw = 0;
  CurrentDeviceModel model(config);
  EXPECT_EQ(talk(model, {0x56}), (Bytes{0x00, 0x04, 'a', 'b', 'c', 'd', 0x81}));
  EXPECT_EQ(talk(model, kVersionCmd),
            (Bytes{0x00, 0x06, 0x02, 0x0A, 0x01, 0x05, 0xFF, 0xFF, 0x6A}));
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x03, 0x04, 0xF4}), (Bytes{0x00, 0x01, 0x07, 0x2B}));
  EXPECT_EQ(talk(model, kBatteryCmd), (Bytes{0x00, 0x02, 0x00, 0x00, 0x07}));
}

TEST(CurrentDeviceModelTest, LongPayloadsTakeTheExtendedLength) {
  struct Case {
    size_t size;
    Bytes header;
    uint8_t crc;
  };
  const Case cases[] = {
      {254, {0x00, 0xFE}, 0x23},
      {255, {0x00, 0xFF, 0xFF, 0x00}, 0x03},  // FF itself announces the 16-bit form
      {300, {0x00, 0xFF, 0x2C, 0x01}, 0x63},
  };
  for (const auto& c : cases) {
    CurrentDeviceConfig config;
    config.description = std::string(c.size, 'A');
    CurrentDeviceModel model(config);
    Bytes out = talk(model, {0x56});
    ASSERT_EQ(out.size(), c.header.size() + c.size + 1) << c.size;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.header.size()), c.header) << c.size;
    EXPECT_EQ(out.back(), c.crc) << c.size;
  }
  CurrentDeviceConfig tooLong;
  tooLong.description = std::string(65536, 'A');
  EXPECT_THROW(CurrentDeviceModel{tooLong}, std::invalid_argument);
  CurrentDeviceModel model;
  EXPECT_THROW(model.setConfig(tooLong), std::invalid_argument);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);  // the old one is kept
}

TEST(CurrentDeviceModelTest, SplitCommandsAndStaleFragments) {
  CurrentDeviceModel model;
  auto t0 = DeviceModel::Clock::now();
  EXPECT_EQ(talk(model, {0xAA, 0x02}, t0), Bytes{});
  EXPECT_EQ(talk(model, {0x03}, t0), Bytes{});
  EXPECT_EQ(talk(model, {0x00, 0xE8, 0x56}, t0 + milliseconds(900)),
            concat(kVersionReply, kDescriptionReply));

  // The rest of this frame was lost; after a second of quiet the fragment
  // is dropped instead of eating the next command.
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x03}, t0), Bytes{});
  EXPECT_EQ(talk(model, kBatteryCmd, t0 + milliseconds(1001)), kBatteryReply);
  EXPECT_EQ(model.rejectedFrames(), 1u);
}

TEST(CurrentDeviceModelTest, RecordsWhatTheHostSent) {
  CurrentDeviceModel model;
  talk(model, concat(concat({0x07, 0x56}, kVersionCmd),
                     {0xAA, 0x02, 0x03, 0x00, 0xE9, 0xAA, 0x02, 0x05, 0x00, 0x96}));
  EXPECT_EQ(model.rawBytes(), (Bytes{0x07, 0x56}));
  EXPECT_EQ(model.receivedCommands(), (std::vector<Bytes>{{0x03, 0x00}, {0x05, 0x00}}));
  EXPECT_EQ(model.rejectedFrames(), 1u);
}

TEST(CurrentDeviceModelTest, FaultsApplyOnceToTheNextMessage) {
  CurrentDeviceModel model;
  model.injectStrayBytes({0x05});
  model.injectStrayBytes({0x06});
  EXPECT_EQ(model.takeOutput(), Bytes{});  // held until a message goes out
  EXPECT_EQ(talk(model, kVersionCmd), concat({0x05, 0x06}, kVersionReply));
  EXPECT_EQ(talk(model, kVersionCmd), kVersionReply);

  model.corruptNextCrc();
  Bytes corrupted = kDescriptionReply;
  corrupted.back() = 0xB7;
  EXPECT_EQ(talk(model, {0x56}), corrupted);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);

  model.failNextCommand(0x07);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);                // a probe is no command
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x04, 0x00, 0x84}), Bytes{});  // nor a bad frame
  EXPECT_EQ(talk(model, kBatteryCmd), (Bytes{0x01, 0x01, 0x07, 0x40}));
  EXPECT_EQ(talk(model, kBatteryCmd), kBatteryReply);

  model.injectStrayBytes({0xAA});
  model.corruptNextCrc();
  model.failNextCommand(0x05);
  EXPECT_EQ(talk(model, kVersionCmd), (Bytes{0xAA, 0x01, 0x01, 0x05, 0x4E ^ 0xFF}));

  // Aimed past the 'V' reply, at the reply to the first command.
  model.injectStrayBytes({0x05}, 1);
  model.corruptNextCrc(2);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);
  EXPECT_EQ(talk(model, kVersionCmd), concat({0x05}, kVersionReply));
  Bytes badBattery = kBatteryReply;
  badBattery.back() ^= 0xFF;
  EXPECT_EQ(talk(model, kBatteryCmd), badBattery);
  EXPECT_EQ(talk(model, kBatteryCmd), kBatteryReply);
}

TEST(CurrentDeviceModelTest, SilentDeviceRecordsButNeverAnswers) {
  CurrentDeviceModel model;
  model.failNextCommand(0x09);
  model.setSilent(true);
  EXPECT_EQ(talk(model, concat({0x56}, kVersionCmd)), Bytes{});
  EXPECT_EQ(model.rawBytes(), Bytes{0x56});
  EXPECT_EQ(model.receivedCommands().size(), 1u);
  model.setSilent(false);
  EXPECT_EQ(talk(model, kVersionCmd), (Bytes{0x01, 0x01, 0x09, 0x6A}));  // still due
}

TEST(CurrentDeviceModelTest, SendsEventsAndMessagesOnDemand) {
  CurrentDeviceModel model;
  model.sendEvent(0x03, {0x01, 0x10, 0x20, 0x30, 0x40, 0x01});
  EXPECT_EQ(model.takeOutput(), (Bytes{0x03, 0x06, 0x01, 0x10, 0x20, 0x30, 0x40, 0x01, 0x4A}));
  model.sendMessage(0x8005, {0xAA, 0xBB});  // two-byte code, high byte first
  EXPECT_EQ(model.takeOutput(), (Bytes{0x80, 0x05, 0x02, 0xAA, 0xBB, 0x84}));

  // Refused sends emit nothing and leave pending faults for the next one.
  model.injectStrayBytes({0x05});
  model.corruptNextCrc();
  for (uint8_t code : {0x00, 0x01, 0x80}) {
    EXPECT_THROW(model.sendEvent(code, {}), std::invalid_argument) << int{code};
  }
  for (uint16_t code : {0x0080, 0x0100, 0x7FFF}) {
    EXPECT_THROW(model.sendMessage(code, {}), std::invalid_argument) << code;
  }
  EXPECT_THROW(model.sendMessage(0x8000, Bytes(65536)), std::invalid_argument);
  EXPECT_EQ(model.takeOutput(), Bytes{});
  model.sendEvent(0x08, {0x02});
  EXPECT_EQ(model.takeOutput(), (Bytes{0x05, 0x08, 0x01, 0x02, 0x61 ^ 0xFF}));
}

}  // namespace
}  // namespace vexa_sim
