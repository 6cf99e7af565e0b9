#include "vexa_sim/quillbox_model.h"

#include <chrono>
#include <utility>

#include "vexa_sim/legacy_version.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kStop = 0x00;
constexpr uint8_t kVersionRequest = 0x07;
constexpr uint8_t kStateRequest = 0x0B;
constexpr int kRates[4] = {1, 10, 100, 1000};
constexpr int kFirstMajorWithoutSettling = 5;
constexpr std::chrono::milliseconds kSettling{1000};

bool isRateByte(uint8_t b) { return (b & 0x3F) == 0x03; }
bool isStartByte(uint8_t b) { return (b & 0x03) == 0x01; }

}  // namespace

QuillboxModel::QuillboxModel(QuillboxConfig config) : config_(std::move(config)) {}

bool QuillboxModel::needsSettling() const {
  return config_.needsSettling.value_or(quillboxMajor(config_.versionLine) <
                                        kFirstMajorWithoutSettling);
}

bool QuillboxModel::tooSoonAfter(const std::optional<TimePoint>& event, TimePoint now) const {
  return needsSettling() && event && now - *event < kSettling;
}

void QuillboxModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  emitDueFrames(now);
  for (size_t i = 0; i < len; ++i) {
    received_.push_back(data[i]);
    handleByte(data[i], now);
  }
}

void QuillboxModel::handleByte(uint8_t byte, TimePoint now) {
  if (byte == kStop) {
    stopFrames();
    stopAt_ = now;
  } else if (byte == kVersionRequest) {
    if (tooSoonAfter(stopAt_, now)) {
      tooEarly_.push_back(byte);
    } else {
      emit(reinterpret_cast<const uint8_t*>(config_.versionLine.data()),
           config_.versionLine.size());
    }
  } else if (byte == kStateRequest) {
    emit(encodeQuillboxState(config_.state));
  } else if (isRateByte(byte)) {
    rate_ = kRates[byte >> 6];
    rateAt_ = now;
  } else if (isStartByte(byte)) {
    handleStart(byte, now);
  }
  // Any other byte means nothing to the board.
}

void QuillboxModel::handleStart(uint8_t byte, TimePoint now) {
  const int mask = byte >> 2;
  if (tooSoonAfter(rateAt_, now)) {
    tooEarly_.push_back(byte);
  } else if (acquiring()) {
    lastRefusal_ = "already acquiring";
  } else if (mask == 0) {
    lastRefusal_ = "no channel";
  } else {
    lastRefusal_.clear();
    lastMask_ = mask;
    startFrames(rate_, now);
  }
}

std::vector<uint8_t> QuillboxModel::buildFrame(int64_t index) {
  std::vector<int32_t> values;
  for (unsigned m = static_cast<unsigned>(*lastMask_); m != 0; m &= m - 1) {
    const size_t k = values.size();
    values.push_back(samplePattern(index, 0, static_cast<int>(k), quillboxValueBits(k)));
  }
  const auto& inputs = config_.digitalInputs;
  uint8_t in = inputs.empty() ? 0 : inputs[static_cast<size_t>(index) % inputs.size()];
  return encodeQuillboxFrame(static_cast<uint8_t>(index & 0x0F), in, values);
}

}  // namespace vexa_sim
