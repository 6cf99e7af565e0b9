// One simulated device family: turns the host's bytes into the device's
// answers. Models are plain state machines driven by the engine; they never
// block and never touch the link themselves.
#ifndef VEXA_SIM_DEVICE_MODEL_H_
#define VEXA_SIM_DEVICE_MODEL_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexa_sim {

class DeviceModel {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  virtual ~DeviceModel() = default;
  DeviceModel(const DeviceModel&) = delete;
  DeviceModel& operator=(const DeviceModel&) = delete;

  // Bytes the host sent, in order; a command may arrive split across calls.
  virtual void onHostBytes(const uint8_t* data, size_t len, TimePoint now) = 0;
  // When the model next wants onWake (e.g. its next data frame is due);
  // nullopt while it only reacts to the host.
  virtual std::optional<TimePoint> nextWake() const { return std::nullopt; }
  virtual void onWake(TimePoint now) {}

  // Hands over everything emitted since the last call, in order.
  std::vector<uint8_t> takeOutput();

  // Why the model cannot go on (the host did what it cannot answer); empty
  // while it plays. The engine stops serving and breaks the link on it.
  const std::string& failure() const { return failure_; }

 protected:
  DeviceModel() = default;
  void emit(const uint8_t* data, size_t len);
  void emit(const std::vector<uint8_t>& bytes) { emit(bytes.data(), bytes.size()); }
  // Records the first failure; later ones would only describe its echoes.
  void fail(std::string why) {
    if (failure_.empty()) failure_ = std::move(why);
  }

 private:
  std::vector<uint8_t> outbox_;
  std::string failure_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_DEVICE_MODEL_H_
