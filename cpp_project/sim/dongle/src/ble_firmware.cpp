#include "vexa_sim/ble_firmware.h"

#include <algorithm>
#include <stdexcept>

namespace vexa_sim {

BleFirmware::BleFirmware(std::unique_ptr<DeviceModel> model) : model_(std::move(model)) {
  if (!model_) throw std::invalid_argument("BleFirmware needs a device model");
}

void ByteStreamFirmware::onWrite(const uint8_t* data, size_t len, TimePoint now) {
  model_->onHostBytes(data, len, now);
}

std::vector<std::vector<uint8_t>> ByteStreamFirmware::takeValues() {
  const std::vector<uint8_t> out = model_->takeOutput();
  std::vector<std::vector<uint8_t>> values;
  for (size_t at = 0; at < out.size(); at += kMaxBleValue) {
    const size_t n = std::min(kMaxBleValue, out.size() - at);
    values.emplace_back(out.begin() + at, out.begin() + at + n);
  }
  return values;
}

}  // namespace vexa_sim
