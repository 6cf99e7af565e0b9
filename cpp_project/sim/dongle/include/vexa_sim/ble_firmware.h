// The radio side of a simulated BLE device: carries the bytes written to its
// command characteristic to a device model, and what the model emits back as
// attribute values of at most 20 bytes.
#ifndef VEXA_SIM_BLE_FIRMWARE_H_
#define VEXA_SIM_BLE_FIRMWARE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "vexa_sim/device_model.h"

namespace vexa_sim {

constexpr size_t kMaxBleValue = 20;

class BleFirmware {
 public:
  using TimePoint = DeviceModel::TimePoint;

  // Throws std::invalid_argument for a null model.
  explicit BleFirmware(std::unique_ptr<DeviceModel> model);
  virtual ~BleFirmware() = default;
  BleFirmware(const BleFirmware&) = delete;
  BleFirmware& operator=(const BleFirmware&) = delete;

  // One write to the command characteristic.
  virtual void onWrite(const uint8_t* data, size_t len, TimePoint now) = 0;
  // Values to notify, in order, from everything the model emitted so far.
  virtual std::vector<std::vector<uint8_t>> takeValues() = 0;

  std::optional<TimePoint> nextWake() const { return model_->nextWake(); }
  void onWake(TimePoint now) { model_->onWake(now); }
  DeviceModel& model() { return *model_; }

 protected:
  std::unique_ptr<DeviceModel> model_;
};

// A device that streams plain bytes (the compact board): the stream is cut
// into values of 20 bytes, the last one shorter.
class ByteStreamFirmware : public BleFirmware {
 public:
  using BleFirmware::BleFirmware;
  void onWrite(const uint8_t* data, size_t len, TimePoint now) override;
  std::vector<std::vector<uint8_t>> takeValues() override;
};

// A device of the message protocol: every message goes out as one value,
// its code then its payload, without length or check byte; the probe byte
// 0x07 outside a command frame is answered like 'V', with the description.
class MessageFirmware : public BleFirmware {
 public:
  using BleFirmware::BleFirmware;
  void onWrite(const uint8_t* data, size_t len, TimePoint now) override;
  std::vector<std::vector<uint8_t>> takeValues() override;
  // Messages too long for one value; dropped, as no such device sends them.
  size_t oversizeMessages() const { return oversize_; }

 private:
  // Bytes of the command frame in progress still to come (0: none).
  size_t frameLeft_ = 0;
  bool lengthNext_ = false;
  std::vector<uint8_t> pending_;  // model output not yet a whole message
  size_t oversize_ = 0;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_BLE_FIRMWARE_H_
