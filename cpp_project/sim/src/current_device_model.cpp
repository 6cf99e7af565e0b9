#include "vexa_sim/current_device_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "vexa_sim/message_codec.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kProbeDescription = 'V';

bool is(const std::vector<uint8_t>& payload, uint8_t code, uint8_t sub) {
  return payload.size() == 2 && payload[0] == code && payload[1] == sub;
}

void appendBigEndian(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void validate(const CurrentDeviceConfig& config) {
  if (config.description.size() > kMaxMessagePayload) {
    throw std::invalid_argument("description longer than 65535 bytes");
  }
  if (config.uid.size() > kMaxMessagePayload) {
    throw std::invalid_argument("uid longer than 65535 bytes");
  }
  if (config.ticksPerFrame < 0) throw std::invalid_argument("ticksPerFrame must not be negative");
  if (!(std::abs(config.clockPpm) <= kMaxClockPpm)) {
    throw std::invalid_argument("clockPpm must lie within +-" + std::to_string(static_cast<int>(kMaxClockPpm)));
  }
  if (!(config.jitterMs >= 0 && config.jitterMs <= kMaxJitterMs)) {
    throw std::invalid_argument("jitterMs must lie within 0 to " + std::to_string(static_cast<int>(kMaxJitterMs)));
  }
}

}  // namespace

CurrentDeviceModel::CurrentDeviceModel(CurrentDeviceConfig config) { setConfig(std::move(config)); }

void CurrentDeviceModel::setConfig(CurrentDeviceConfig config) {
  validate(config);
  config_ = std::move(config);
  random_.seed(config_.seed ? *config_.seed : std::random_device{}());
}

void CurrentDeviceModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  emitDueFrames(now);
  handlingAt_ = now;
  for (size_t i = 0; i < len; ++i) {
    CommandParser::Input in = parser_.push(data[i], now);
    switch (in.kind) {
      case CommandParser::Input::Kind::kNone:
        break;
      case CommandParser::Input::Kind::kRawByte:
        handleRawByte(in.rawByte);
        break;
      case CommandParser::Input::Kind::kCommand:
        commands_.push_back(in.payload);
        if (!silent_) handleCommand(in.payload, now);
        break;
      case CommandParser::Input::Kind::kBadFrame:
        ++badFrames_;  // a real device cannot trust any of it: no answer
        break;
    }
  }
  handlingAt_.reset();
  releaseHeld(now);
}

void CurrentDeviceModel::handleRawByte(uint8_t byte) {
  rawBytes_.push_back(byte);
  if (silent_) return;
  // Any other bare byte (the 0x07 probe of the compact boards included) is
  // not meant for this device and goes unanswered.
  if (byte == kProbeDescription) {
    reply(std::vector<uint8_t>(config_.description.begin(), config_.description.end()));
  }
}

void CurrentDeviceModel::handleCommand(const std::vector<uint8_t>& payload, TimePoint now) {
  if (failNextCommand_) {
    uint8_t code = *failNextCommand_;
    failNextCommand_.reset();
    replyError(code);
    return;
  }
  if (is(payload, 0x03, 0x00)) {
    std::vector<uint8_t> version;
    appendBigEndian(version, config_.productId);
    appendBigEndian(version, config_.fwVersion);
    appendBigEndian(version, config_.hwVersion);
    reply(std::move(version));
  } else if (is(payload, 0x03, 0x03)) {
    reply(config_.uid);
  } else if (is(payload, 0x03, 0x04)) {
    reply({config_.color});
  } else if (is(payload, 0x04, 0x00)) {
    reply({static_cast<uint8_t>(config_.batteryRaw & 0xFF),
           static_cast<uint8_t>(config_.batteryRaw >> 8)});
  } else if (payload.size() >= 4 && payload[0] == 0x01 && payload[1] == 0x05) {
    reply({});  // set parameter: port, index, data; acknowledged
  } else if (!payload.empty() && payload[0] == 0x07) {
    handleStart(payload, now);
  } else if (is(payload, 0x09, 0x00)) {
    handleStop();
  } else {
    replyError(kUnknownCommandError);
  }
}

void CurrentDeviceModel::reply(std::vector<uint8_t> payload) { emitMessage(kReplyOk, payload); }

void CurrentDeviceModel::replyError(uint8_t errorCode) { emitMessage(kReplyError, {errorCode}); }

void CurrentDeviceModel::sendEvent(uint8_t code, std::vector<uint8_t> payload) {
  if (code < 0x02 || code > 0x7F) {
    throw std::invalid_argument("event codes are 0x02..0x7F");
  }
  emitMessage(code, payload);
}

void CurrentDeviceModel::sendMessage(uint16_t code, std::vector<uint8_t> payload) {
  emitMessage(code, payload);
}

void CurrentDeviceModel::injectStrayBytes(std::vector<uint8_t> bytes, size_t skip) {
  std::vector<uint8_t>& stray = faults_[messagesSent_ + skip].strayBytes;
  stray.insert(stray.end(), bytes.begin(), bytes.end());
}

void CurrentDeviceModel::corruptNextCrc(size_t skip) {
  faults_[messagesSent_ + skip].corruptCrc = true;
}

void CurrentDeviceModel::failNextCommand(uint8_t errorCode) { failNextCommand_ = errorCode; }

void CurrentDeviceModel::emitMessage(uint16_t code, const std::vector<uint8_t>& payload,
                                     std::optional<TimePoint> readyAt) {
  // Encoded first: a refused message must neither count nor use up a fault.
  std::vector<uint8_t> msg = encodeMessage(code, payload);
  std::vector<uint8_t> bytes;
  auto fault = faults_.find(messagesSent_++);
  if (fault != faults_.end()) {
    if (fault->second.corruptCrc) msg.back() ^= 0xFF;
    bytes = std::move(fault->second.strayBytes);
    faults_.erase(fault);
  }
  bytes.insert(bytes.end(), msg.begin(), msg.end());
  deliver(std::move(bytes), readyAt ? *readyAt : handlingAt_ ? *handlingAt_ : Clock::now());
}

void CurrentDeviceModel::deliver(std::vector<uint8_t> bytes, TimePoint readyAt) {
  if (config_.jitterMs <= 0 && held_.empty()) {
    emit(bytes);
    return;
  }
  // 53 random bits to [0, 1) by hand: the standard distributions differ
  // between libraries, and a seed must give the same delays everywhere.
  const double unit = static_cast<double>(random_() >> 11) * 0x1.0p-53;
  const std::chrono::duration<double, std::milli> delay(unit * config_.jitterMs);
  TimePoint release = readyAt + std::chrono::ceil<Clock::duration>(delay);
  if (!held_.empty()) release = std::max(release, held_.back().release);  // never overtakes
  held_.push_back({afterStall(release), std::move(bytes)});
}

DeviceModel::TimePoint CurrentDeviceModel::afterStall(TimePoint t) const {
  if (!stallsFrom_ || t < *stallsFrom_) return t;
  const auto period = std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(kStallPeriodSeconds));
  const auto stall = std::chrono::ceil<Clock::duration>(std::chrono::duration<double, std::milli>(config_.jitterMs));
  const auto periods = (t - *stallsFrom_) / period;
  const TimePoint stallStart = *stallsFrom_ + periods * period;
  if (periods >= 1 && t < stallStart + stall) return stallStart + stall;
  return t;
}

void CurrentDeviceModel::releaseHeld(TimePoint now) {
  while (!held_.empty() && held_.front().release <= now) {
    emit(held_.front().bytes);
    held_.pop_front();
  }
}

}  // namespace vexa_sim
