// Stands in for the serial port in the targets that reach the library
// through a connection path: linked into the target itself, it takes the
// place of the platform's port code. Only the path "COMfuzz" opens, and it
// reads and writes the transport that `comBackend` points to.
#include "fake_com.h"

#include "io/com.h"
#include "vexa/exceptions.h"

namespace vexa_fuzz {
FuzzIO* comBackend = nullptr;
}  // namespace vexa_fuzz

namespace Vexa {

struct COM::Port {
  vexa_fuzz::FuzzIO* backend;
};

std::string serialLinkKey(const std::string& portName) { return "serial port " + portName; }

COM::COM(const std::string& portName, LinkClaim claim) : claim_(std::move(claim)) {
  if (portName != "COMfuzz" || vexa_fuzz::comBackend == nullptr) VEXA_THROW(Notification::OpeningPort);
  port_ = std::make_unique<Port>(Port{vexa_fuzz::comBackend});
  // Replies still waiting belong to no one, as opening a real port flushes them.
  vexa_fuzz::comBackend->replies.clear();
}

COM::~COM() = default;

void COM::applyReadTimeout(int) {}

int COM::doRecv(void* buf, int len) { return port_->backend->recv(buf, len); }

void COM::doSend(const void* buf, int len) { port_->backend->send(buf, len); }

}  // namespace Vexa
