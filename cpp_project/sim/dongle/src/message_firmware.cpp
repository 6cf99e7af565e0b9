#include <algorithm>

#include "vexa_sim/ble_firmware.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kFrameStart = 0xAA;
constexpr uint8_t kBleProbe = 0x07;
constexpr uint8_t kStreamProbe = 'V';

// The size of the message at the front of `bytes` and where its payload
// begins and how long it is; 0 while it is incomplete.
size_t wholeMessage(const std::vector<uint8_t>& bytes, size_t& payloadAt, size_t& payloadLength) {
  size_t header = (!bytes.empty() && (bytes[0] & 0x80)) ? 3 : 2;
  if (bytes.size() < header) return 0;
  payloadLength = bytes[header - 1];
  if (payloadLength == 0xFF) {
    if (bytes.size() < header + 2) return 0;
    payloadLength = bytes[header] | (bytes[header + 1] << 8);
    header += 2;
  }
  payloadAt = header;
  const size_t size = header + payloadLength + 1;  // and the check byte
  return bytes.size() < size ? 0 : size;
}

}  // namespace

void MessageFirmware::onWrite(const uint8_t* data, size_t len, TimePoint now) {
  std::vector<uint8_t> bytes(data, data + len);
  for (uint8_t& b : bytes) {
    // Follows the command frames so a 0x07 inside one is left alone.
    if (lengthNext_) {
      lengthNext_ = false;
      frameLeft_ = static_cast<size_t>(b) + 1;
    } else if (frameLeft_ > 0) {
      --frameLeft_;
    } else if (b == kFrameStart) {
      lengthNext_ = true;
    } else if (b == kBleProbe) {
      b = kStreamProbe;
    }
  }
  model_->onHostBytes(bytes.data(), bytes.size(), now);
}

std::vector<std::vector<uint8_t>> MessageFirmware::takeValues() {
  const std::vector<uint8_t> out = model_->takeOutput();
  pending_.insert(pending_.end(), out.begin(), out.end());
  std::vector<std::vector<uint8_t>> values;
  size_t payloadAt = 0;
  size_t payloadLength = 0;
  while (size_t size = wholeMessage(pending_, payloadAt, payloadLength)) {
    const size_t codeBytes = (pending_[0] & 0x80) ? 2 : 1;
    std::vector<uint8_t> value(pending_.begin(), pending_.begin() + codeBytes);
    value.insert(value.end(), pending_.begin() + payloadAt, pending_.begin() + payloadAt + payloadLength);
    pending_.erase(pending_.begin(), pending_.begin() + size);
    if (value.size() > kMaxBleValue) {
      ++oversize_;
    } else {
      values.push_back(std::move(value));
    }
  }
  return values;
}

}  // namespace vexa_sim
