#include "vexa_sim/quillbox_model.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kVersionRequest = 0x07;

}  // namespace

void QuillboxModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  for (size_t i = 0; i < len; ++i) {
    received_.push_back(data[i]);
    if (data[i] == kVersionRequest) {
      emit(reinterpret_cast<const uint8_t*>(config_.versionLine.data()),
           config_.versionLine.size());
    }
  }
}

}  // namespace vexa_sim
