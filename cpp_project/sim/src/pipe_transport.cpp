#include "vexa_sim/pipe_transport.h"

#include "vexa/exceptions.h"

namespace vexa_sim {

PipeTransport::PipeTransport(ChannelPair channels) : channels_(std::move(channels)) {}

PipeTransport::~PipeTransport() { channels_.close(); }

void PipeTransport::setRcvTimeout(int ms) { rcvTimeout = ms; }

int PipeTransport::doRecv(void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) {
    VEXA_THROW_AT(Vexa::Error::InvalidParameter, "vexa_sim::PipeTransport::recv");
  }
  if (len == 0) return 0;
  std::optional<std::chrono::milliseconds> timeout;
  if (rcvTimeout >= 0) timeout = std::chrono::milliseconds(rcvTimeout);
  int n = channels_.deviceToHost->read(static_cast<uint8_t*>(buf), len, timeout);
  if (n < 0) VEXA_THROW_AT(Vexa::Notification::ContactingDevice, "vexa_sim::PipeTransport::recv");
  return n;
}

void PipeTransport::doSend(const void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) {
    VEXA_THROW_AT(Vexa::Error::InvalidParameter, "vexa_sim::PipeTransport::send");
  }
  // A closed device end refuses even an empty write: the link is broken.
  if (!channels_.hostToDevice->write(static_cast<const uint8_t*>(buf), static_cast<size_t>(len))) {
    VEXA_THROW_AT(Vexa::Notification::ContactingDevice, "vexa_sim::PipeTransport::send");
  }
}

PipeLink::PipeLink(ChannelPair channels) : channels_(std::move(channels)) {}

PipeLink::~PipeLink() { channels_.close(); }

int PipeLink::read(uint8_t* buf, int len, std::chrono::milliseconds timeout) {
  return channels_.hostToDevice->read(buf, len, timeout);
}

void PipeLink::write(const uint8_t* data, size_t len) {
  channels_.deviceToHost->write(data, len);  // lost if the host end is gone
}

void PipeLink::wakeReader() { channels_.hostToDevice->wake(); }

std::pair<std::unique_ptr<PipeTransport>, std::unique_ptr<PipeLink>> makePipe() {
  ChannelPair channels;
  return {std::make_unique<PipeTransport>(channels), std::make_unique<PipeLink>(channels)};
}

}  // namespace vexa_sim
