#include "vexa_sim/cadrium_model.h"

#include <stdexcept>
#include <utility>

#include "vexa_sim/cadrium_frame.h"
#include "vexa_sim/legacy_version.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kVersionRequest = 'V';
constexpr uint8_t kStopPrefix = 'R';
constexpr uint8_t kOldStart = 'Z';
constexpr char kCommandStart = '@';
constexpr char kCommandEnd = ';';
constexpr size_t kMaxCommand = 18;  // "@START,1000,FF,12;"
constexpr uint16_t kFirstAsciiStartFirmware = 0x0200;

}  // namespace

CadriumModel::CadriumModel(CadriumConfig config) : config_(std::move(config)) {}

uint16_t CadriumModel::firmware() const {
  return config_.firmware.value_or(cadriumFirmware(config_.versionLine));
}

void CadriumModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  emitDueFrames(now);
  for (size_t i = 0; i < len; ++i) {
    received_.push_back(data[i]);
    handleByte(data[i], now);
  }
}

void CadriumModel::handleByte(uint8_t byte, TimePoint now) {
  if (command_) {
    command_->push_back(static_cast<char>(byte));
    if (byte != kCommandEnd && command_->size() < kMaxCommand) return;
    std::string text = std::move(*command_);
    command_.reset();
    try {
      CadriumStart parsed = parseCadriumStart(text);
      if (firmware() < kFirstAsciiStartFirmware) {
        refuse("firmware below 0x0200 takes only the 'Z' start");
      } else {
        start(parsed, now);
      }
    } catch (const std::invalid_argument& e) {
      refuse(e.what());
    }
    return;
  }
  const bool stop = afterR_ && byte == kVersionRequest;
  afterR_ = byte == kStopPrefix;
  if (byte == kCommandStart) {
    command_.emplace(1, kCommandStart);
  } else if (byte == kVersionRequest) {
    if (stop) stopFrames();
    sendVersionLine();  // marks the end of the stream after a stop
  } else if (byte == kOldStart) {
    if (firmware() >= kFirstAsciiStartFirmware) {
      refuse("firmware 0x0200 and newer takes only the '@START' start");
    } else {
      start(CadriumStart{}, now);
    }
  }
}

void CadriumModel::start(const CadriumStart& start, TimePoint now) {
  if (acquiring()) {
    refuse("already acquiring");
    return;
  }
  lastRefusal_.clear();
  lastStart_ = start;
  lastStart_->zStart = firmware() < kFirstAsciiStartFirmware;
  startFrames(start.rate, now);
}

std::vector<uint8_t> CadriumModel::buildFrame(int64_t index) {
  const CadriumStart& s = *lastStart_;
  // The oldest firmware sends all eight channels on every eighth frame only.
  const int mask = s.zStart && index % 8 != 0 ? 0x3F : s.mask;
  std::vector<int32_t> values;
  for (int ch = 0; ch < 8; ++ch) {
    if (mask & (1 << ch)) values.push_back(samplePattern(index, 0, ch, s.nBits));
  }
  const auto& inputs = config_.digitalInputs;
  bool input = !inputs.empty() && inputs[static_cast<size_t>(index) % inputs.size()] != 0;
  return encodeCadriumFrame(static_cast<uint8_t>(index & 0x7F), input, values, s.nBits);
}

void CadriumModel::sendVersionLine() {
  emit(reinterpret_cast<const uint8_t*>(config_.versionLine.data()), config_.versionLine.size());
}

}  // namespace vexa_sim
