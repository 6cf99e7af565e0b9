#include "vexa_sim/dongle_model.h"

#include <algorithm>
#include <stdexcept>

namespace vexa_sim {
namespace {

constexpr uint8_t kCommandType = 0x00;
constexpr uint8_t kEventType = 0x80;
constexpr size_t kHeader = 4;
constexpr uint8_t kClassSystem = 0;
constexpr uint8_t kClassConnection = 3;
constexpr uint8_t kClassAttClient = 4;
constexpr uint8_t kClassGap = 6;
// The one connection handle handed out; not 0, so that a host that reads a
// neighbouring byte for it, or sends 0 regardless, shows.
constexpr uint8_t kConnection = 3;
constexpr uint16_t kLocalHostTerminated = 0x0216;

}  // namespace

Advertisement namedAdvertisement(const BleAddress& address, const std::string& name, uint8_t packetType) {
  // Length (type and name), type 0x09 (complete local name), name.
  Advertisement ad{address, std::vector<uint8_t>(name.size() + 2), packetType};
  ad.data[0] = static_cast<uint8_t>(name.size() + 1);
  ad.data[1] = 0x09;
  std::copy(name.begin(), name.end(), ad.data.begin() + 2);
  return ad;
}

DongleModel::DongleModel(DongleConfig config, std::unique_ptr<BleFirmware> device)
    : config_(std::move(config)), device_(std::move(device)) {
  if (!device_) throw std::invalid_argument("DongleModel needs a remote device");
}

void DongleModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  input_.insert(input_.end(), data, data + len);
  for (;;) {
    // Bytes that cannot start a command are skipped to find the next one.
    size_t skip = 0;
    while (skip < input_.size() && input_[skip] != kCommandType) ++skip;
    input_.erase(input_.begin(), input_.begin() + skip);
    if (input_.size() < kHeader || input_.size() < kHeader + input_[1]) break;
    std::vector<uint8_t> command(input_.begin(), input_.begin() + kHeader + input_[1]);
    input_.erase(input_.begin(), input_.begin() + command.size());
    commands_.push_back(command);
    if (!silent_) handle(command, now);
  }
  forwardDeviceOutput();
}

void DongleModel::handle(const std::vector<uint8_t>& command, TimePoint now) {
  const uint8_t cls = command[2];
  const uint8_t id = command[3];
  const std::vector<uint8_t> p(command.begin() + kHeader, command.end());
  if (cls == kClassSystem && id == 0) {
    reset();
  } else if (cls == kClassConnection && id == 0 && p.size() == 1) {
    std::vector<uint8_t> answer = {p[0]};
    const std::vector<uint8_t> code = result(connected_ ? 0 : kNotConnected);
    answer.insert(answer.end(), code.begin(), code.end());
    response(kClassConnection, 0, answer);
    if (connected_) {
      connected_ = false;
      event(kClassConnection, 4, {kConnection, kLocalHostTerminated & 0xFF, kLocalHostTerminated >> 8});
    }
  } else if (cls == kClassGap) {
    handleGap(id, p, now);
  } else if (cls == kClassAttClient) {
    handleAttClient(id, p, now);
  }
  // Anything else goes unanswered, as commands this dongle does not know.
}

void DongleModel::reset() {
  ++resets_;
  scanning_ = connecting_ = connected_ = notificationsOn_ = false;
  // System boot: firmware 1.3.1 build 120, link layer 2, protocol 1, hw 1.
  event(kClassSystem, 0, {1, 0, 3, 0, 1, 0, 120, 0, 2, 0, 1, 1});
}

void DongleModel::dropConnection(uint16_t reason) {
  if (!connected_) return;
  connected_ = false;
  event(kClassConnection, 4,
        {kConnection, static_cast<uint8_t>(reason & 0xFF), static_cast<uint8_t>(reason >> 8)});
}

void DongleModel::connect(const std::vector<uint8_t>& p) {
  const bool busy = scanning_ || connecting_ || connected_;
  std::vector<uint8_t> answer = result(busy ? kWrongState : 0);
  const bool refused = answer[0] != 0 || answer[1] != 0;
  answer.push_back(kConnection);
  response(kClassGap, 3, answer);
  if (refused) return;
  BleAddress wanted{};
  for (size_t i = 0; i < wanted.size(); ++i) wanted[i] = p[5 - i];
  if (wanted != config_.deviceAddress) {
    connecting_ = true;  // nobody answers: the dongle keeps trying
    return;
  }
  connected_ = true;
  // Connection status: handle, flags (connected), address and its type,
  // interval, supervision time-out, latency (as asked), no bonding.
  std::vector<uint8_t> status = {kConnection, 0x05};
  status.insert(status.end(), p.begin(), p.begin() + 7);
  status.insert(status.end(), {p[7], p[8], p[11], p[12], p[13], p[14], 0xFF});
  event(kClassConnection, 0, status);
}

std::optional<DeviceModel::TimePoint> DongleModel::nextWake() const {
  std::optional<TimePoint> wake = device_->nextWake();
  if (scanning_ && !silent_ && !config_.advertisements.empty() && (!wake || nextAdvertisement_ < *wake)) {
    wake = nextAdvertisement_;
  }
  return wake;
}

void DongleModel::onWake(TimePoint now) {
  if (scanning_ && !silent_) emitDueAdvertisements(now);
  if (auto due = device_->nextWake(); due && *due <= now) device_->onWake(now);
  forwardDeviceOutput();
}

void DongleModel::forwardDeviceOutput() {
  // A device's values reach the host only over a connection it configured.
  for (const std::vector<uint8_t>& value : device_->takeValues()) {
    if (!connected_ || !notificationsOn_ || silent_) continue;
    std::vector<uint8_t> p = {kConnection, kDataValueHandle & 0xFF, kDataValueHandle >> 8, 1,
                              static_cast<uint8_t>(value.size())};
    p.insert(p.end(), value.begin(), value.end());
    event(kClassAttClient, 5, p);
    ++valuesSent_;
  }
}

std::vector<uint8_t> DongleModel::result(uint16_t code) {
  if (code == 0 && failResponse_) {
    code = *failResponse_;
    failResponse_.reset();
  }
  return {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
}

void DongleModel::response(uint8_t cls, uint8_t id, std::vector<uint8_t> payload) {
  std::vector<uint8_t> out = {kCommandType, static_cast<uint8_t>(payload.size()), cls, id};
  out.insert(out.end(), payload.begin(), payload.end());
  emit(out);
}

void DongleModel::event(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out = {kEventType, static_cast<uint8_t>(payload.size()), cls, id};
  out.insert(out.end(), payload.begin(), payload.end());
  emit(out);
}

}  // namespace vexa_sim
