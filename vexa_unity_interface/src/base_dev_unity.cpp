#include "base_dev_unity.h"

#include <algorithm>
#include <cstdio>

#include "host_handlers.h"
#include "recording.h"
#include "sample_ring.h"

namespace Vexa {

using Unity::callHandler;
using Unity::handlers;

BaseDevUnity::BaseDevUnity(const std::string& path) : SignalsDev(path) {}

BaseDevUnity::BaseDevUnity(const std::string& path, std::unique_ptr<IO> io) : SignalsDev(path, std::move(io)) {}

BaseDevUnity::~BaseDevUnity() { Unity::recording().end(*this, "the device was released"); }

void BaseDevUnity::acquisitionStarted(int baseFreq, std::vector<Source> sources) {
  Unity::recording().end(*this, "a new acquisition started");
  startedFrequency_ = baseFreq;
  startedSources_ = std::move(sources);
  instantTick = kNoInstant;
  Unity::sampleRing().start(baseFreq, Unity::channelLayout(*this));
}

void BaseDevUnity::stopAcquisition() {
  Unity::recording().end(*this, "the acquisition stopped");
  stop();
}

bool BaseDevUnity::onRawFrame(int nSeq, const int data[]) {
  // Counted on from the acquisition's first tick, as the device's time fit
  // counts them.
  const int64_t tick = Unity::ringInstant(nSeq, data);
  instantTick.store(tick, std::memory_order_relaxed);
  // Before the host's handler, so that a marker it adds lands on this
  // instant.
  Unity::recording().instant(tick, data);
  callHandler(handlers().rawData, nSeq, data, static_cast<int>(channelPorts.size()));
  return false;
}

bool BaseDevUnity::onEvent(const Event& ev) {
  std::printf("New Event raised: %d\n", ev.type);
  Unity::recording().event(*this, ev);
  if (ev.type == Event::kDisconnect) {
    const auto& disconnect = static_cast<const Events::Disconnect&>(ev);
    std::printf("Disconnect event - Reason: %d\n", disconnect.reason);
    callHandler(handlers().disconnectEvent, disconnect.reason);
    return true;
  }
  if (ev.type == Event::kDigitalInput) {
    const auto& in = static_cast<const Events::DigitalInput&>(ev);
    std::printf("Digital input event - Clock source: %d  Clock value: %d  New input state: %d\n", in.clockSource,
                static_cast<int>(in.clockValue), in.state ? 1 : 0);
    callHandler(handlers().digInEvent, in.clockSource, static_cast<int>(in.clockValue), in.input, in.state);
    return false;
  }
  std::printf("Other Event: %d\n", ev.type);
  return false;
}

bool BaseDevUnity::onTimeout() {
  std::printf("Timeout");
  callHandler(handlers().disconnectEvent, 1);
  return true;
}

bool BaseDevUnity::onInterrupt(void*) {
  std::printf("onInterrupt\n");
  communicationFlag = false;
  return true;
}

}  // namespace Vexa
