#include "base/x.h"
#include "vexa/quillbox_dev.h"
#include "vexa/exceptions.h"

namespace Vexa {

// Every step is a single-precision operation in the written order, so the
// results match the devices' own figures to the bit.
float BaseDev::X::batteryVoltage(uint16_t raw) {
  const float x = static_cast<float>(raw);
  if (family == DeviceFamily::kCurrentPaced) return x * 1.5f / 1360.6912f;
  if (family == DeviceFamily::kCurrentScaled) return x * 1.25f * 7.98f * 0.00048828125f;
  const int32_t productId = intProperty("productID");
  if (productId == 0x021E || productId == 0x0701 || productId == 0x0215 || productId == 0x0216) {
    return x * 1.5f * 7.88f * 0.00048828125f;
  }
  return x * 1.5f / 614.4f;
}

float batteryPercent(float v) {
  struct Segment {
    float above, a, b;
  };
  // Piecewise linear through (3.2, 0) (3.6, 6) (3.68, 10) (3.8, 50)
  // (4.04, 90) (4.2, 100), as 100 - (v - a) / b. Several constants are not
  // the nearest floats of their decimal values, so they are written as the
  // exact bit patterns the devices' curve uses.
  static constexpr Segment kCurve[] = {
      {0x1.028f5cp+2f /*4.04*/, 0x1.0cccccp+2f /*4.2*/, -0x1.0624ccp-6f /*-0.016*/},
      {0x1.e66666p+1f /*3.8*/, 0x1.066666p+2f /*4.1*/, -0x1.89374cp-8f /*-0.006*/},
      {0x1.d70a3ep+1f /*3.68*/, 0x1.f99998p+1f /*3.95*/, -0x1.893734p-9f /*-0.003*/},
      {0x1.ccccccp+1f /*3.6*/, 0x1.5eb862p+2f /*5.48*/, -0x1.47ae40p-6f /*-0.02*/},
      {0x1.99999ap+1f /*3.2*/, 0x1.3bbbb6p+3f /*9.866664*/, -0x1.11110ap-4f /*-0.0666666*/},
  };
  if (v > 0x1.0cccccp+2f /*4.2*/) return 100.0f;
  for (const Segment& s : kCurve) {
    if (v > s.above) return 100.0f - (v - s.a) / s.b;
  }
  return 0.0f;
}

float BaseDev::getBattery() {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  if (x->family == DeviceFamily::kOldest) VEXA_THROW(Error::NotSupported);
  if (x->family == DeviceFamily::kCompactBoard) {
    // The compact board reports its battery in its state, 3.3 V over 512.
    const float volts = static_cast<float>(QuillboxDev::getState(*x).battery) * 3.3f * 0.001953125f;
    return batteryPercent(volts);
  }
  if (x->sendCommand({0x04, 0x00}) != 2) {
    VEXA_THROW(Notification::ContactingDevice);
  }
  const uint16_t raw = static_cast<uint16_t>(x->rxBuf[0] | x->rxBuf[1] << 8);
  if (raw == 0) return -1.0f;
  return batteryPercent(x->batteryVoltage(raw));
}

void BaseDev::setParameter(int port, int index, const uint8_t* data, int dataLen) {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  if (isLegacy(x->family)) VEXA_THROW(Error::NotSupported);
  // The message layer refuses payloads over 255 bytes; so does this, before
  // copying anything.
  if (dataLen < 0 || dataLen > 251 || (dataLen > 0 && data == nullptr)) {
    VEXA_THROW(Error::InvalidParameter);
  }
  uint8_t payload[255] = {0x01, 0x05, static_cast<uint8_t>(port), static_cast<uint8_t>(index)};
  for (int i = 0; i < dataLen; ++i) payload[4 + i] = data[i];
  x->sendCommand(payload, static_cast<uint16_t>(dataLen + 4));
}

}  // namespace Vexa
