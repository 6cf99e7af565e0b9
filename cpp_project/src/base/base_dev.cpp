#include "vexa/base_dev.h"

#include "base/x.h"
#include "vexa/exceptions.h"
#include "vexa/io.h"

namespace Vexa {

BaseDev::BaseDev(const std::string& path) : x(std::make_unique<X>(path, this)) {}

BaseDev::BaseDev(const std::string& path, std::unique_ptr<IO> io)
    : x(std::make_unique<X>(path, this, std::move(io))) {}

BaseDev::~BaseDev() = default;

bool BaseDev::onEvent(const Event&) { return false; }
bool BaseDev::onTimeout() { return false; }
bool BaseDev::onInterrupt(void*) { return false; }

Properties BaseDev::getProperties() const {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  // A loop on another thread changes them only while it holds the mutex.
  std::lock_guard<std::recursive_mutex> lock(x->mutex);
  return x->properties;
}

DeviceFamily BaseDev::family() const {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  return x->family;
}

void BaseDev::setTimeout(int ms) {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  x->loopTimeout = ms;
}

void BaseDev::startTrace(const std::string& path, uint64_t byteLimit) {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  if (x->io->trace()) VEXA_THROW_DETAIL(Error::InvalidOperation, "A wire trace runs already.", 0);
  auto trace = std::make_shared<WireTrace>(path, x->io->linkKind(), byteLimit);
  trace->setFamily(x->family);
  x->io->attachTrace(std::move(trace));
}

bool BaseDev::stopTrace() {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  std::shared_ptr<WireTrace> trace = x->io->trace();
  if (!trace) return false;
  x->io->attachTrace(nullptr);
  trace->stop();
  return true;
}

}  // namespace Vexa
