// Moving bytes over a connection: writes cut to 20 bytes, one value per
// receive, values that arrive during a write.
#include <gtest/gtest.h>

#include "ble_test_support.h"
#include "io/ble/ble.h"

namespace vexa_test {
namespace {

// A device that says back whatever it is sent, and what a test tells it.
class EchoModel : public vexa_sim::DeviceModel {
 public:
  void onHostBytes(const uint8_t* data, size_t len, TimePoint) override { emit(data, len); }
  void say(const Bytes& bytes) { emit(bytes); }
};

class BleTransfer : public ::testing::Test {
 protected:
  BleTransfer() : ble(kDevicePath, fastTimings()) {}
  std::vector<Bytes> writes() {
    return dongle.with([](vexa_sim::DongleModel& d) { return d.deviceWrites(); });
  }
  std::string receive(int len) {
    Bytes buf(static_cast<size_t>(len));
    return std::string(buf.begin(), buf.begin() + ble.recv(buf.data(), len));
  }

  DongleSim dongle{std::make_unique<vexa_sim::ByteStreamFirmware>(std::make_unique<EchoModel>())};
  Vexa::BLE ble;
};

TEST_F(BleTransfer, Sends45BytesAsWritesOf20_20And5) {
  Bytes data(45);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ble.send(data.data(), 0);
  EXPECT_TRUE(writes().empty());
  ble.send(data.data(), static_cast<int>(data.size()));
  const std::vector<Bytes> w = writes();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0], Bytes(data.begin(), data.begin() + 20));
  EXPECT_EQ(w[1], Bytes(data.begin() + 20, data.begin() + 40));
  EXPECT_EQ(w[2], Bytes(data.begin() + 40, data.end()));
}

TEST_F(BleTransfer, EachReceiveTakesOneValueAndDropsWhatDoesNotFit) {
  // The echoes come back while each write waits for completion: queued.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRST";
  ble.send(alphabet.data(), 20);
  ble.send("xyz", 3);
  EXPECT_EQ(receive(4), "ABCD");
  EXPECT_EQ(receive(20), "xyz");
  // A value the device sends on its own is read from the link.
  ble.setRcvTimeout(2000);
  dongle.with([](vexa_sim::DongleModel& d) {
    d.deviceModel<EchoModel>().say({'h', 'e', 'l', 'l', 'o'});
    d.forwardDeviceOutput();
  });
  EXPECT_EQ(receive(2), "he");
  ble.setRcvTimeout(0);
  EXPECT_EQ(receive(20), "");
}

}  // namespace
}  // namespace vexa_test
