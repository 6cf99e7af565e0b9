// The attribute client: service and characteristic discovery, writes.
#include "gatt_table.h"
#include "vexa_sim/dongle_model.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kClassAttClient = 4;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void appendLe16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void appendArray(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.push_back(static_cast<uint8_t>(bytes.size()));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

void DongleModel::handleAttClient(uint8_t id, const std::vector<uint8_t>& p, TimePoint now) {
  // Each procedure answers connection and result, then its events.
  if (p.size() < 5) return;
  std::vector<uint8_t> answer = {p[0]};
  const std::vector<uint8_t> code = result(connected_ ? 0 : kNotConnected);
  answer.insert(answer.end(), code.begin(), code.end());
  response(kClassAttClient, id, answer);
  if (!connected_ || le16(code.data()) != 0) return;
  switch (id) {
    case 1:  // read by group type
      readGroups(p[0], le16(&p[1]), le16(&p[3]));
      return;
    case 3:  // find information
      findInformation(p[0], le16(&p[1]), le16(&p[3]));
      return;
    case 5:  // attribute write
      handleWrite(p, now);
      return;
    default:
      return;
  }
}

void DongleModel::readGroups(uint8_t connection, uint16_t start, uint16_t end) {
  for (const GattService& s : gattServices(config_.gatt)) {
    if (s.start < start || s.start > end) continue;
    std::vector<uint8_t> found = {connection};
    appendLe16(found, s.start);
    appendLe16(found, s.end);
    appendArray(found, s.uuid);
    event(kClassAttClient, 2, found);
  }
  procedureCompleted(connection, end);
}

void DongleModel::findInformation(uint8_t connection, uint16_t start, uint16_t end) {
  for (const GattAttribute& a : gattAttributes(config_.gatt)) {
    if (a.handle < start || a.handle > end) continue;
    std::vector<uint8_t> found = {connection};
    appendLe16(found, a.handle);
    appendArray(found, a.uuid);
    event(kClassAttClient, 4, found);
  }
  procedureCompleted(connection, end);
}

void DongleModel::handleWrite(const std::vector<uint8_t>& p, TimePoint now) {
  const uint16_t handle = le16(&p[1]);
  const size_t n = p[3];
  if (p.size() != 4 + n) return;
  const std::vector<uint8_t> value(p.begin() + 4, p.end());
  bool known = true;
  if (handle == kCommandValueHandle && config_.gatt.commandCharacteristic) {
    deviceWrites_.push_back(value);
    device_->onWrite(value.data(), value.size(), now);
    // What the device answers at once arrives before the write completes.
    forwardDeviceOutput();
  } else if (handle == kDataConfigHandle && config_.gatt.dataCharacteristic) {
    notificationsOn_ = n == 2 && value[0] == 0x01;
  } else {
    known = handle == kCommandConfigHandle && config_.gatt.commandCharacteristic;
  }
  if (!known) failProcedure_ = kInvalidHandle;
  procedureCompleted(p[0], handle);
}

void DongleModel::procedureCompleted(uint8_t connection, uint16_t handle) {
  const uint16_t code = failProcedure_.value_or(0);
  failProcedure_.reset();
  std::vector<uint8_t> done = {connection};
  appendLe16(done, code);
  appendLe16(done, handle);
  event(kClassAttClient, 1, done);
}

}  // namespace vexa_sim
