// The dongle link's reader against each message it knows, fed by a raw
// pseudo-terminal peer.
#include <gtest/gtest.h>

#include <cstring>

#include "ble_test_support.h"
#include "io/ble/com_ble.h"
#include "vexa/exceptions.h"
#include "vexa_sim/pty_link.h"

namespace vexa_test {
namespace {

const Bytes kService = {0x34, 0x22, 0x65, 0x7E, 0x71, 0x0B, 0xD0, 0xA6,
                        0x1B, 0x4E, 0x82, 0x08, 0x8A, 0x48, 0x66, 0xC5};
const Bytes kCommandChar = {0xEA, 0xFC, 0x93, 0x41, 0x8F, 0xA4, 0x30, 0x87,
                            0x74, 0x4C, 0x0A, 0xBF, 0x11, 0xEB, 0x51, 0x40};
const Bytes kDataChar = {0x33, 0x36, 0xFF, 0xAD, 0x29, 0xE5, 0x8A, 0x80,
                         0xC4, 0x47, 0x2E, 0x67, 0x6B, 0xBA, 0xFD, 0x40};

// A scan-response event from 00:07:80:4C:1E:01 with the given data.
Bytes scanEvent(uint8_t packetType, uint8_t dataLength, const Bytes& data) {
  Bytes p = {0xC4, packetType, 0x01, 0x1E, 0x4C, 0x80, 0x07, 0x00, 0x00, 0xFF, dataLength};
  return event(6, 0, cat(p, data));
}

class ReadBle : public ::testing::Test {
 protected:
  static Vexa::BleTimings timings() {
    Vexa::BleTimings t = fastTimings();
    t.linkTimeoutMs = 200;
    return t;
  }
  int read(const Bytes& bytes, uint8_t* buf, int len) {
    peer.write(bytes.data(), bytes.size());
    return link.read_ble(buf, len);
  }

  vexa_sim::PtyLink peer;
  DonglePorts ports{std::vector<std::string>{peer.comPath()}};
  Vexa::COM_BLE link{timings()};
};

TEST_F(ReadBle, ResponsesGiveTheirResultCode) {
  struct Case {
    Bytes message;
    int result;
  } cases[] = {
      {message(0, 3, 0, {0x00, 0x34, 0x12}), 0x1234},             // disconnect
      {message(0, 4, 1, {0x00, 0x00, 0x00}), 0},                  // read by group type
      {message(0, 4, 3, {0x00, 0x81, 0x01}), 0x0181},             // find information
      {message(0, 4, 5, {0x00, 0x05, 0x00}), 5},                  // attribute write
      {message(0, 6, 2, {0x81, 0x01}), 0x0181},                   // discover
      {message(0, 6, 3, {0x00, 0x00, 0x00}), 0},                  // connect direct
      {message(0, 6, 4, {0x02, 0x00}), 2},                        // end procedure
      {message(0, 6, 7, {0x07, 0x00}), 7},                        // set scan parameters
      {message(0, 6, 5, {0x00, 0x00}), -1},                       // not one of them
      {message(0, 4, 5, {0x00}), -1},                             // too short for a result
      {message(0x20, 6, 4, {0x00, 0x00}), -1},                    // neither type byte
      {event(0, 0, {1, 0, 3, 0, 1, 0, 120, 0, 2, 0, 1, 1}), -1},  // boot event
  };
  for (const Case& c : cases)
    EXPECT_EQ(read(c.message, nullptr, 0), c.result) << ::testing::PrintToString(c.message);
}

TEST_F(ReadBle, EventsRecordTheHandlesOfTheServiceAndCharacteristics) {
  EXPECT_EQ(read(event(3, 0, Bytes(16, 0x07)), nullptr, 0), Vexa::kBleConnected);
  EXPECT_EQ(link.handles().connection, 7);

  EXPECT_EQ(read(event(4, 2, {0x07, 0x01, 0x00, 0x03, 0x00, 0x02, 0x00, 0x18}), nullptr, 0), 0);
  EXPECT_EQ(link.handles().serviceStart, 0) << "another service was taken";
  EXPECT_EQ(read(event(4, 2, cat({0x07, 0x04, 0x00, 0x0A, 0x01, 0x10}, kService)), nullptr, 0), 0);
  EXPECT_EQ(link.handles().serviceStart, 0x0004);
  EXPECT_EQ(link.handles().serviceEnd, 0x010A);

  EXPECT_EQ(read(event(4, 4, cat({0x07, 0x06, 0x01, 0x10}, kCommandChar)), nullptr, 0), 0);
  EXPECT_EQ(read(event(4, 4, cat({0x07, 0x09, 0x00, 0x10}, kDataChar)), nullptr, 0), 0);
  EXPECT_EQ(read(event(4, 4, cat({0x07, 0x0C, 0x00, 0x10}, kService)), nullptr, 0), 0);
  Vexa::GattHandles h = link.handles();
  EXPECT_EQ(h.commandValue, 0x0106);
  EXPECT_EQ(h.commandConfig, 0x0107);
  EXPECT_EQ(h.dataValue, 9);
  EXPECT_EQ(h.dataConfig, 10);

  EXPECT_EQ(read(event(4, 1, {0x07, 0x00, 0x00, 0x0A, 0x00}), nullptr, 0), Vexa::kBleProcedureDone);
  EXPECT_EQ(read(event(4, 1, {0x07, 0x01, 0x04, 0x0A, 0x00}), nullptr, 0), -1);
}

TEST_F(ReadBle, AttributeValueGivesWhatFitsAndDropsTheRest) {
  struct Case {
    int lengthByte;
    int present;
    int bufLen;
    int result;
  } cases[] = {{20, 20, 4, 4}, {20, 20, 0, 0}, {20, 20, 50, 20}, {30, 10, 50, 10}, {0, 0, 50, 0}};
  for (const Case& c : cases) {
    Bytes value(static_cast<size_t>(c.present));
    for (int i = 0; i < c.present; ++i) value[i] = static_cast<uint8_t>('a' + i);
    uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    int got = read(event(4, 5, cat({0x00, 0x09, 0x00, 0x01, static_cast<uint8_t>(c.lengthByte)}, value)), buf,
                   c.bufLen);
    EXPECT_EQ(got, c.result) << c.lengthByte << "/" << c.bufLen;
    EXPECT_EQ(Bytes(buf, buf + c.result), Bytes(value.begin(), value.begin() + c.result));
    EXPECT_EQ(buf[c.result], 0xEE) << "wrote past the value";
  }
}

TEST_F(ReadBle, ScanResponseIsARecordOnlyWhenItFitsWhole) {
  const Bytes named = {0x0A, 0x09, 'V', 'e', 'x', 'a', '-', '0', '0', '4', '2'};
  struct Case {
    Bytes message;
    int bufLen;
    int result;
  } cases[] = {
      {scanEvent(4, 11, named), 0, 0},   {scanEvent(4, 11, named), 1, 0},  {scanEvent(4, 11, named), 9, 0},
      {scanEvent(4, 11, named), 20, 0},  {scanEvent(4, 11, named), 28, 0}, {scanEvent(4, 11, named), 29, 29},
      {scanEvent(4, 11, named), 50, 29}, {scanEvent(0, 11, named), 50, 0},  // advertisement, not a scan
                                                                            // response
      {scanEvent(4, 1, {0x09}), 50, 0},                                     // too short for a name
      {scanEvent(4, 40, named), 50, 0},                                     // claims more than it carries
  };
  for (const Case& c : cases) {
    uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(read(c.message, buf, c.bufLen), c.result) << "buffer " << c.bufLen;
    if (c.result > 0) {
      EXPECT_EQ(std::string(buf, buf + c.result), "BLE00:07:80:4C:1E:01Vexa-0042");
    }
    for (int i = c.result; i < 64; ++i) ASSERT_EQ(buf[i], 0xEE) << "byte " << i << " of buffer " << c.bufLen;
  }
}

TEST_F(ReadBle, DisconnectedEventThrowsNowAndOnEveryLaterRead) {
  EXPECT_THROW(read(event(3, 4, {0x00, 0x08, 0x02}), nullptr, 0), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(read(message(0, 6, 4, {0x00, 0x00}), nullptr, 0), Vexa::Notification::ContactingDevice);
}

TEST_F(ReadBle, SilenceOrAMessageCutShortGivesNothingArrived) {
  EXPECT_EQ(link.read_ble(nullptr, 0), Vexa::kBleNothingArrived);
  EXPECT_EQ(read({0x00, 0x02, 0x06}, nullptr, 0), Vexa::kBleNothingArrived);
  EXPECT_EQ(read({0x00, 0x05, 0x06, 0x04, 0x00}, nullptr, 0), Vexa::kBleNothingArrived);
}

}  // namespace
}  // namespace vexa_test
