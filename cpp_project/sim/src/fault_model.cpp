#include "vexa_sim/fault_model.h"

#include <stdexcept>
#include <vector>

namespace vexa_sim {

FaultModel::FaultModel(std::unique_ptr<DeviceModel> inner, LinkFaults faults)
    : inner_(std::move(inner)), faults_(faults) {
  if (!inner_) throw std::invalid_argument("FaultModel needs a model");
}

void FaultModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  inner_->onHostBytes(data, len, now);
  pass();
}

void FaultModel::onWake(TimePoint now) {
  inner_->onWake(now);
  std::vector<uint8_t> out = inner_->takeOutput();
  if (!strayDone_ && faults_.strayBytes > 0 && !out.empty()) {
    strayDone_ = true;
    // Varied bytes, none of them a message's start alone: a run of one
    // value would test less of the reader.
    std::vector<uint8_t> stray(static_cast<size_t>(faults_.strayBytes));
    for (size_t i = 0; i < stray.size(); ++i) stray[i] = static_cast<uint8_t>(0x5B + 37 * i);
    if (!faults_.silent) emit(stray);
  }
  if (!faults_.silent) emit(out);
}

void FaultModel::pass() {
  std::vector<uint8_t> out = inner_->takeOutput();
  if (!faults_.silent) emit(out);
}

}  // namespace vexa_sim
