#include "vexa_sim/device_model.h"

#include <utility>

namespace vexa_sim {

std::vector<uint8_t> DeviceModel::takeOutput() {
  std::vector<uint8_t> out;
  out.swap(outbox_);
  return out;
}

void DeviceModel::emit(const uint8_t* data, size_t len) {
  outbox_.insert(outbox_.end(), data, data + len);
}

}  // namespace vexa_sim
