#include "io/ble/ble.h"

#include <algorithm>

#include "vexa/exceptions.h"

namespace Vexa {
namespace {

bgapi::Address addressOf(const std::string& path) {
  bgapi::Address address{};
  if (!bgapi::parsePath(path, address)) VEXA_THROW(Error::InvalidParameter);
  return address;
}

void writeConfiguration(COM_BLE& link, uint16_t handle, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
  link.command(bgapi::attributeWrite(link.handles().connection, handle, bytes, 2));
  link.wait_response();
  link.wait_prccomplete(false);
}

}  // namespace

std::string bleLinkKey(const std::string& path) {
  bgapi::Address address{};
  return bgapi::parsePath(path, address) ? "BLE device " + bgapi::pathOf(address).substr(3) : "";
}

BLE::BLE(const std::string& path, const BleTimings& timings)
    : address_(addressOf(path)),
      deviceClaim_(LinkRegistry::process().claim(bleLinkKey(path))),
      link_(timings) {
  link_.setRcvTimeout(timings.linkTimeoutMs);
  bool connected = false;
  try {
    link_.command(bgapi::connectDirect(address_));
    link_.wait_response();
    link_.wait_connected();
    connected = true;
    connect();
  } catch (...) {
    // Leaves the dongle idle before the port closes.
    hangUp(connected);
    throw;
  }
}

void BLE::connect() {
  link_.command(bgapi::readPrimaryServices(link_.handles().connection));
  link_.wait_response();
  link_.wait_prccomplete(false);
  GattHandles h = link_.handles();
  // Without the service there is nothing to look for characteristics in.
  if (h.serviceStart == 0) VEXA_THROW(Error::NotSupported);

  link_.clearCharacteristics();
  link_.command(bgapi::findInformation(h.connection, h.serviceStart, h.serviceEnd));
  link_.wait_response();
  link_.wait_prccomplete(false);
  h = link_.handles();
  if (h.commandConfig == 0 || h.dataConfig == 0) VEXA_THROW(Error::NotSupported);

  writeConfiguration(link_, h.commandConfig, bgapi::kEnableIndications);
  writeConfiguration(link_, h.dataConfig, bgapi::kEnableNotifications);
}

BLE::~BLE() { hangUp(true); }

void BLE::hangUp(bool connected) noexcept {
  link_.setRcvTimeout(link_.timings().linkTimeoutMs);
  try {
    link_.command(bgapi::endProcedure());
    uint8_t scratch[1];
    link_.read_ble(scratch, sizeof scratch);
  } catch (...) {
  }
  if (!connected) return;
  try {
    link_.command(bgapi::disconnect(link_.handles().connection));
    link_.wait_response();
  } catch (...) {
  }
}

void BLE::setRcvTimeout(int ms) { link_.setRcvTimeout(ms); }

int BLE::doRecv(void* buf, int len) { return link_.receiveValue(static_cast<uint8_t*>(buf), len); }

void BLE::doSend(const void* buf, int len) {
  if (len <= 0) return;
  if (buf == nullptr) VEXA_THROW_AT(Error::InvalidParameter, "Vexa::BLE::send");
  std::lock_guard<std::mutex> one(sending_);
  link_.setRcvTimeout(link_.timings().linkTimeoutMs);  // and it stays so
  const GattHandles h = link_.handles();
  const auto* bytes = static_cast<const uint8_t*>(buf);
  for (int at = 0; at < len; at += bgapi::kMaxAttributeValue) {
    const int n = std::min(len - at, bgapi::kMaxAttributeValue);
    link_.command(bgapi::attributeWrite(h.connection, h.commandValue, bytes + at, n));
    // Data the device sends meanwhile is queued for recv.
    link_.wait_prccomplete(true);
  }
}

}  // namespace Vexa
