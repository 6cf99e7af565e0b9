#include "vexa/signals_dev.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "signals/signals_x.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr size_t kMaxSources = 32;
constexpr uint8_t kStartCommand = 0x07;
constexpr uint8_t kWidth16 = 0x80;
constexpr uint8_t kWidth24 = 0x40;
constexpr int kLegacyMaxPort = 8;

void putLe16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void putLe32(std::vector<uint8_t>& out, uint32_t v) {
  putLe16(out, v & 0xFFFF);
  putLe16(out, v >> 16);
}

int32_t channelsOfMask(int32_t chMask) {
  int32_t n = 0;
  for (uint32_t m = static_cast<uint32_t>(chMask) & 0xFFFF; m != 0; m &= m - 1) ++n;
  return n;
}

}  // namespace

SignalsDev::SignalsDev(const std::string& path) : BaseDev(path) { attachSignals(); }

SignalsDev::SignalsDev(const std::string& path, std::unique_ptr<IO> io) : BaseDev(path, std::move(io)) {
  attachSignals();
}

void SignalsDev::attachSignals() {
  validateSignalsDev();
  impl()->sigX = std::make_unique<SignalsX>(*this, *impl());
}

SignalsDev::~SignalsDev() {
  X* x = impl();
  if (x == nullptr || !x->acquiring()) return;
  // The device may already be gone; the state is released all the same.
  try {
    stop();
  } catch (...) {
  }
  x->sigX->release();
}

bool SignalsDev::onRawFrame(int, const int[]) { return false; }

void SignalsDev::validateSignalsDev() {
  const int32_t group = (impl()->intProperty("productID") >> 8) & 0xFF;
  const bool acquires = group == 1 || group == 2 || (group >= 5 && group <= 8);
  if (!acquires) VEXA_THROW(Error::NotSupported);
}

void SignalsDev::start(float freq, const std::vector<Source>& sources) {
  X* x = impl();
  if (x == nullptr) VEXA_THROW(Error::InvalidInstance);
  if (isLegacy(x->family)) VEXA_THROW(Error::NotSupported);
  if (!(freq > 0)) VEXA_THROW(Error::InvalidParameter);
  if (sources.empty() || sources.size() > kMaxSources) VEXA_THROW(Error::InvalidParameter);
  if (x->acquiring()) VEXA_THROW(Error::InvalidOperation, 0);

  const bool wideMasks = std::any_of(sources.begin(), sources.end(), [](const Source& s) { return s.chMask > 255; });
  if (wideMasks) {
    const int32_t productId = x->intProperty("productID");
    if (productId != 517 && productId != 533 && productId != 534) {
      VEXA_THROW(Error::InvalidParameter);
    }
  }

  std::vector<uint8_t> command = {kStartCommand, static_cast<uint8_t>(wideMasks ? 2 : 1)};
  putLe32(command, 0x00000000);
  putLe32(command, 0xFFFFFFFF);
  putLe16(command, 0x0000);
  putLe32(command, 0x00000000);
  uint32_t freqBits;
  std::memcpy(&freqBits, &freq, sizeof freqBits);
  putLe32(command, freqBits);
  command.push_back(static_cast<uint8_t>(sources.size()));

  std::vector<SourceLayout> layouts;
  for (size_t i = 0; i < sources.size(); ++i) {
    const Source& s = sources[i];
    x->sigX->validateSource(s);
    for (size_t j = 0; j < i; ++j) {
      if (sources[j].port == s.port) VEXA_THROW(Error::InvalidParameter);
    }
    uint8_t portByte = static_cast<uint8_t>(s.port);
    if (s.nBits == 16) portByte |= kWidth16;
    if (s.nBits == 24) portByte |= kWidth24;
    command.push_back(portByte);
    putLe16(command, static_cast<uint32_t>(s.freqDivisor) & 0xFFFF);
    if (wideMasks) {
      putLe16(command, static_cast<uint32_t>(s.chMask) & 0xFFFF);
    } else {
      command.push_back(static_cast<uint8_t>(s.chMask));
    }
    putLe32(command, 0);
    layouts.push_back(SourceLayout{s.freqDivisor, s.nBits, channelsOfMask(s.chMask)});
  }
  command.push_back(0x00);

  x->sendCommand(command.data(), static_cast<uint16_t>(command.size()));
  x->sigX->setUp(std::move(layouts), freq);
  // Frames of an earlier acquisition still queued must not be decoded as
  // this one's; queued events stay.
  x->pending.erase(std::remove_if(x->pending.begin(), x->pending.end(),
                                  [](const PendingMsg& m) { return (m.code & 0x8000) != 0; }),
                   x->pending.end());
}

void SignalsDev::start(float freq, const std::vector<int>& ports, int nBits) {
  X* x = impl();
  if (x == nullptr) VEXA_THROW(Error::InvalidInstance);
  if (isLegacy(x->family)) {
    int mask = 0;
    for (int port : ports) {
      if (port < 1 || port > kLegacyMaxPort) VEXA_THROW(Error::InvalidParameter);
      if (mask & (1 << (port - 1))) VEXA_THROW(Error::InvalidParameter);
      mask |= 1 << (port - 1);
    }
    if (x->family == DeviceFamily::kOldest) {
      x->sigX->startOld(freq, mask, nBits);
    } else {
      x->sigX->startBit(freq, mask, nBits);
    }
    return;
  }
  std::vector<Source> sources;
  sources.reserve(ports.size());
  for (int port : ports) sources.push_back(Source{port, 1, nBits, 1});
  start(freq, sources);
}

void SignalsDev::startByMask(float freq, uint32_t mask, int nBits) {
  X* x = impl();
  if (x == nullptr) VEXA_THROW(Error::InvalidInstance);
  // The legacy families take the mask as it is, high bits included, and
  // check it themselves.
  if (x->family == DeviceFamily::kOldest) {
    x->sigX->startOld(freq, static_cast<int>(mask), nBits);
    return;
  }
  if (x->family == DeviceFamily::kCompactBoard) {
    x->sigX->startBit(freq, static_cast<int>(mask), nBits);
    return;
  }
  std::vector<Source> sources;
  for (int bit = 0; bit < 32; ++bit) {
    if (mask & (1u << bit)) sources.push_back(Source{bit + 1, 1, nBits, 1});
  }
  start(freq, sources);
}

const TickTimeFit& SignalsDev::tickTimes() const {
  X* x = impl();
  if (x == nullptr || !x->sigX) VEXA_THROW(Error::InvalidInstance);
  return x->sigX->tickTimes;
}

void SignalsDev::setLinkDelay(double seconds) {
  X* x = impl();
  if (x == nullptr || !x->sigX) VEXA_THROW(Error::InvalidInstance);
  if (!(seconds >= 0) || !std::isfinite(seconds)) VEXA_THROW(Error::InvalidParameter);
  x->sigX->tickTimes.setFixedDelay(seconds);
}

int64_t SignalsDev::deliveredTick() const {
  X* x = impl();
  if (x == nullptr || !x->sigX) VEXA_THROW(Error::InvalidInstance);
  // The loop hands a tick and counts on before the callback runs.
  return x->sigX->counter - 1;
}

int SignalsDev::channelCount() const {
  X* x = impl();
  if (x == nullptr) return 0;
  // A disconnect event on the loop's thread ends the acquisition, under the
  // mutex.
  std::lock_guard<std::recursive_mutex> lock(x->mutex);
  return x->sigX ? x->sigX->totalChannels : 0;
}

void SignalsDev::stop() {
  X* x = impl();
  if (x == nullptr) VEXA_THROW(Error::InvalidInstance);
  if (!x->acquiring()) VEXA_THROW(Error::InvalidOperation, 0);
  if (x->family == DeviceFamily::kOldest) {
    static const uint8_t kStopOld[] = {'R', 'V'};
    x->io->send(kStopOld, sizeof kStopOld);
    x->syncOld(0);
  } else if (x->family == DeviceFamily::kCompactBoard) {
    static const uint8_t kStopBit = 0x00;
    static const uint8_t kVersionRequest = 0x07;
    x->io->send(&kStopBit, 1);
    // The first board revision needs a pause before it takes a command.
    if (x->intProperty("productID") == 1537) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    x->io->send(&kVersionRequest, 1);
    x->syncBit(0);
  } else {
    x->sendCommand({0x09, 0x00});
  }
  x->sigX->release();
}

}  // namespace Vexa
