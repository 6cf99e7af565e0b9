#include "base/x.h"

#include <cctype>

#include "io/ble/ble.h"
#include "io/bth/bth.h"
#include "io/com.h"
#include "io/usb/usb.h"
#include "signals/signals_x.h"
#include "vexa/exceptions.h"
#include "vexa/wire_trace.h"

namespace Vexa {
namespace {

// The link a path names, from its first three characters in any case.
enum class Link { kSerial, kUsb, kBle, kBluetooth };

Link linkOf(const std::string& path) {
#ifdef _WIN32
  // "\\.\COM7": a port named in the device namespace.
  if (path.compare(0, 4, "\\\\.\\") == 0) return Link::kSerial;
#endif
  if (path.size() >= 3) {
    std::string prefix;
    for (int i = 0; i < 3; ++i) prefix += static_cast<char>(std::toupper(static_cast<unsigned char>(path[i])));
    if (prefix == "COM") return Link::kSerial;
    if (prefix == "USB") return Link::kUsb;
    if (prefix == "BLE") return Link::kBle;
  }
  return Link::kBluetooth;
}

// BLE delivers whole messages as packets of at most this many bytes.
constexpr int32_t kBlePacketSize = 20;

}  // namespace

std::unique_ptr<IO> openTransport(const std::string& path) {
  switch (linkOf(path)) {
    case Link::kSerial:
      return std::make_unique<COM>(path);
    case Link::kUsb:
      return std::make_unique<USB>(path);
    case Link::kBle:
      return std::make_unique<BLE>(path);
    case Link::kBluetooth:
      break;
  }
  return std::make_unique<BTH>(path);
}

BaseDev::X::X(const std::string& path, BaseDev* owner) : dev(owner) {
  if (linkOf(path) == Link::kBle) packetSize = kBlePacketSize;
  io = openTransport(path);
  connect(path);
}

BaseDev::X::X(const std::string& path, BaseDev* owner, std::unique_ptr<IO> transport)
    : dev(owner), io(std::move(transport)) {
  if (!io) VEXA_THROW(Error::InvalidParameter);
  if (linkOf(path) == Link::kBle) packetSize = kBlePacketSize;
  connect(path);
}

// Members release in reverse order, so the acquisition state goes before the
// transport that closes the link.
BaseDev::X::~X() = default;

void BaseDev::X::connect(const std::string& path) {
  io->owner = this;
  rxBuf.assign(static_cast<size_t>(packetSize), 0);
  insertProperty("path", PropertyValue(path));
  // A failing handshake unwinds through the members, closing the transport.
  getVersion();
  // A trace attached before the handshake has waited for the family.
  if (const std::shared_ptr<WireTrace> trace = io->trace()) trace->setFamily(family);
}

void BaseDev::X::insertProperty(const std::string& key, PropertyValue value) {
  properties.emplace(key, std::move(value));
}

int32_t BaseDev::X::intProperty(const std::string& key) { return properties[key].asInt(); }

bool BaseDev::X::acquiring() const { return sigX && sigX->nSources != 0; }

}  // namespace Vexa
