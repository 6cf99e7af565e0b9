#include <gtest/gtest.h>

#include "vexa/crc.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

TEST(Battery, VoltageAndPercentByFamilyAndProduct) {
  struct Row {
    uint16_t productId;
    int family;
    uint16_t raw;
    float volts, percent;
  } rows[] = {
      {0x0201, 1, 1700, 4.1504f, 96.9f}, {0x0201, 1, 1600, 3.906f, 67.7f}, {0x0201, 1, 1500, 3.662f, 9.1f},
      {0x020A, 2, 3000, 3.307f, 1.6f},   {0x0502, 4, 850, 4.140f, 96.3f},  {0x021E, 1, 700, 4.040f, 90.0f},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.raw);
    DeviceScript script;
    script.productId = row.productId;
    auto dev = connectScripted(script, nullptr);
    auto& x = *dev->impl();
    EXPECT_EQ(static_cast<int>(x.family), row.family);
    float v = x.batteryVoltage(row.raw);
    EXPECT_NEAR(v, row.volts, 1e-3);
    EXPECT_NEAR(Vexa::batteryPercent(v), row.percent, 0.05);
  }
}

TEST(Battery, CurveBoundaries) {
  EXPECT_FLOAT_EQ(Vexa::batteryPercent(4.2f), 100.0f);
  EXPECT_FLOAT_EQ(Vexa::batteryPercent(5.0f), 100.0f);
  EXPECT_NEAR(Vexa::batteryPercent(3.8f), 50.0f, 0.01);
  EXPECT_EQ(Vexa::batteryPercent(3.2f), 0.0f);
  EXPECT_EQ(Vexa::batteryPercent(0.0f), 0.0f);
  EXPECT_NEAR(Vexa::batteryPercent(3.6f), 0.0f + 6.0f, 0.01);
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
  Bytes expected = {0x01, 0x05, 0x09, 0x03, 80, 40};
  Bytes frame = {0xAA, 6};
  frame.insert(frame.end(), expected.begin(), expected.end());
  frame.push_back(Vexa::crc8(expected.data(), expected.size()));
  EXPECT_EQ(io->sends.back(), frame);

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
