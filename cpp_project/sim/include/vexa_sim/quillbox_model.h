// The compact board: answers the single byte 0x07 with its version line.
#ifndef VEXA_SIM_QUILLBOX_MODEL_H_
#define VEXA_SIM_QUILLBOX_MODEL_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vexa_sim/device_model.h"

namespace vexa_sim {

struct QuillboxConfig {
  std::string versionLine = "Quillbox_v5.1\n";  // sent exactly as given
};

class QuillboxModel : public DeviceModel {
 public:
  explicit QuillboxModel(QuillboxConfig config = {}) : config_(std::move(config)) {}

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;

  QuillboxConfig& config() { return config_; }
  // Every byte the host sent, in order.
  const std::vector<uint8_t>& receivedBytes() const { return received_; }
  // Writes bytes as they are (frames, state replies, noise).
  void sendRaw(const std::vector<uint8_t>& bytes) { emit(bytes); }

 private:
  QuillboxConfig config_;
  std::vector<uint8_t> received_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_QUILLBOX_MODEL_H_
