// The oldest device family: answers the 'V' probe with its version line and
// ignores the compact board's 0x07 probe.
#ifndef VEXA_SIM_CADRIUM_MODEL_H_
#define VEXA_SIM_CADRIUM_MODEL_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vexa_sim/device_model.h"

namespace vexa_sim {

struct CadriumConfig {
  std::string versionLine = "Cadrium 2 v.3.1\n";  // sent exactly as given
};

class CadriumModel : public DeviceModel {
 public:
  explicit CadriumModel(CadriumConfig config = {}) : config_(std::move(config)) {}

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;

  CadriumConfig& config() { return config_; }
  // Every byte the host sent, in order.
  const std::vector<uint8_t>& receivedBytes() const { return received_; }
  // Writes bytes as they are (frames, banners, noise).
  void sendRaw(const std::vector<uint8_t>& bytes) { emit(bytes); }

 private:
  CadriumConfig config_;
  std::vector<uint8_t> received_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_CADRIUM_MODEL_H_
