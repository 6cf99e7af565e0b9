#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "vexa/crc.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

TEST(Battery, VoltageAndPercentByFamilyAndProduct) {
  // product, family, raw reading, volts, percent
  const std::tuple<uint16_t, int, uint16_t, float, float> rows[] = {
      {0x0201, 1, 1700, 4.1504f, 96.9f}, {0x0201, 1, 1600, 3.906f, 67.7f}, {0x0201, 1, 1500, 3.662f, 9.1f},
      {0x020A, 2, 3000, 3.307f, 1.6f},   {0x0502, 4, 850, 4.140f, 96.3f},  {0x021E, 1, 700, 4.040f, 90.0f},
  };
  for (const auto& [productId, family, raw, volts, percent] : rows) {
    SCOPED_TRACE(raw);
    DeviceScript script;
    script.productId = productId;
    auto dev = connectScripted(script, nullptr);
    auto& x = *dev->impl();
    EXPECT_EQ(static_cast<int>(x.family), family);
    float v = x.batteryVoltage(raw);
    EXPECT_NEAR(v, volts, 1e-3);
    EXPECT_NEAR(Vexa::batteryPercent(v), percent, 0.05);
  }
  // The curve's ends and its middle.
  const std::pair<float, float> curve[] = {{4.2f, 100}, {5.0f, 100}, {3.8f, 50}, {3.6f, 6}, {3.2f, 0}, {0.0f, 0}};
  for (const auto& [v, percent] : curve) EXPECT_NEAR(Vexa::batteryPercent(v), percent, 0.01) << v;
}

TEST(Battery, QueryAndParameters) {
  DeviceScript script;
  script.batteryRaw = 0;
  FakeIO* io = nullptr;
  auto dev = connectScripted(script, &io);
  EXPECT_EQ(dev->getBattery(), -1.0f);

  script.batteryRaw = 1700;
  dev = connectScripted(script, &io);
  EXPECT_NEAR(dev->getBattery(), 96.9f, 0.05);
  EXPECT_EQ(io->sends.back(), (Bytes{0xAA, 0x02, 0x04, 0x00, 0x83}));

  const uint8_t data[] = {80, 40};
  dev->setParameter(0x109, 3, data, 2);
  const Bytes payload = {0x01, 0x05, 0x09, 0x03, 80, 40};
  EXPECT_EQ(io->sends.back(), (Bytes{0xAA, 6} + payload + Bytes{Vexa::crc8(payload.data(), payload.size())}));

  io->sends.clear();
  Bytes big(252, 1);
  EXPECT_THROW(dev->setParameter(1, 1, big.data(), 252), Vexa::Error::InvalidParameter);
  EXPECT_THROW(dev->setParameter(1, 1, big.data(), -1), Vexa::Error::InvalidParameter);
  EXPECT_TRUE(io->sends.empty());
  dev->setParameter(1, 1, big.data(), 251);
  EXPECT_EQ(io->sends.back().size(), 255u + 3u);
}

TEST(Battery, WrongSizedReplyIsALostDevice) {
  DeviceScript script;
  script.extra = [](const Bytes& payload, FakeIO& io) {
    if (payload != Bytes{0x04, 0x00}) return false;
    io.feed(reply({1, 2, 3}));
    return true;
  };
  auto dev = connectScripted(script, nullptr);
  EXPECT_THROW(dev->getBattery(), Vexa::Notification::ContactingDevice);
}

}  // namespace
}  // namespace vexa_test
