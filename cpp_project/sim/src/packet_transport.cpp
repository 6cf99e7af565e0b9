#include "vexa_sim/packet_transport.h"

#include <algorithm>

#include "vexa/exceptions.h"

namespace vexa_sim {

PacketTransport::PacketTransport(PacketWires wires) : wires_(std::move(wires)) {}

PacketTransport::~PacketTransport() { wires_.close(); }

void PacketTransport::setRcvTimeout(int ms) { rcvTimeout = ms; }

int PacketTransport::doRecv(void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) {
    VEXA_THROW_AT(Vexa::Error::InvalidParameter, "vexa_sim::PacketTransport::recv");
  }
  if (len == 0) return 0;
  std::optional<std::chrono::milliseconds> timeout;
  if (rcvTimeout >= 0) timeout = std::chrono::milliseconds(rcvTimeout);
  int n = wires_.deviceToHost->read(static_cast<uint8_t*>(buf), len, timeout);
  if (n < 0) VEXA_THROW_AT(Vexa::Notification::ContactingDevice, "vexa_sim::PacketTransport::recv");
  return n;
}

void PacketTransport::doSend(const void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) {
    VEXA_THROW_AT(Vexa::Error::InvalidParameter, "vexa_sim::PacketTransport::send");
  }
  if (!wires_.hostToDevice->write(static_cast<const uint8_t*>(buf), static_cast<size_t>(len))) {
    VEXA_THROW_AT(Vexa::Notification::ContactingDevice, "vexa_sim::PacketTransport::send");
  }
}

PacketLink::PacketLink(PacketWires wires) : wires_(std::move(wires)) {}

PacketLink::~PacketLink() { wires_.close(); }

int PacketLink::read(uint8_t* buf, int len, std::chrono::milliseconds timeout) {
  return wires_.hostToDevice->read(buf, len, timeout);
}

void PacketLink::write(const uint8_t* data, size_t len) {
  for (size_t pos = 0; pos < len; pos += kPacketSize) {
    size_t n = std::min(len - pos, static_cast<size_t>(kPacketSize));
    // Lost if the host end is gone, as on the air.
    wires_.deviceToHost->write(std::vector<uint8_t>(data + pos, data + pos + n));
  }
}

void PacketLink::wakeReader() { wires_.hostToDevice->wake(); }

std::pair<std::unique_ptr<PacketTransport>, std::unique_ptr<PacketLink>> makePacketPipe() {
  PacketWires wires;
  return {std::make_unique<PacketTransport>(wires), std::make_unique<PacketLink>(wires)};
}

}  // namespace vexa_sim
