#include "base_dev_unity.h"

#include <algorithm>
#include <cstdio>

#include "current_device.h"
#include "host_handlers.h"
#include "recording.h"
#include "report.h"
#include "sample_ring.h"
#include "vexa/log.h"

namespace Vexa {

using Unity::callHandler;
using Unity::handlers;

BaseDevUnity::BaseDevUnity(const std::string& path, Unity::SampleRing& ring, Unity::Recording& recording)
    : SignalsDev(path), ring_(ring), recording_(recording) {}

BaseDevUnity::BaseDevUnity(const std::string& path, std::unique_ptr<IO> io, Unity::SampleRing& ring,
                           Unity::Recording& recording)
    : SignalsDev(path, std::move(io)), ring_(ring), recording_(recording) {}

BaseDevUnity::~BaseDevUnity() { recording_.end(*this, "the device was released"); }

void BaseDevUnity::acquisitionStarted(int baseFreq, std::vector<Source> sources) {
  recording_.end(*this, "a new acquisition started");
  startedFrequency_ = baseFreq;
  startedSources_ = std::move(sources);
  instantTick = kNoInstant;
  ring_.start(baseFreq, Unity::channelLayout(*this));
}

void BaseDevUnity::stopAcquisition() {
  recording_.end(*this, "the acquisition stopped");
  stop();
}

// Only the current device is a plain BaseDevUnity; sessions' own devices
// override this.
bool BaseDevUnity::onOwnLoopThread() const { return Unity::currentSession().onOwnThread(); }

void BaseDevUnity::reportFailure(int code, const char* text) const { callHandler(handlers().exceptionRaised, code, text); }

void BaseDevUnity::ringOverflowed(int64_t, bool first) {
  if (!first) return;
  // Once per acquisition: the host learns that its reader fell behind.
  Unity::rememberFailure("");
  logMessage(LogLevel::kWarning,
             std::string(Unity::kSampleRingOverflowText) + " Read more often or enable a larger ring.");
  callHandler(handlers().exceptionRaised, Unity::kSampleRingOverflowCode, Unity::kSampleRingOverflowText);
}

int64_t BaseDevUnity::takeInstant(int nSeq, const int data[]) {
  // Counted on from the acquisition's first tick, as the device's time fit
  // counts them.
  int64_t tick = 0;
  const Unity::SampleRing::Push pushed = ring_.push(nSeq, data, tick);
  instantTick.store(tick, std::memory_order_relaxed);
  if (pushed == Unity::SampleRing::Push::kFirstDrop || pushed == Unity::SampleRing::Push::kDropped) {
    ringOverflowed(ring_.overflow(), pushed == Unity::SampleRing::Push::kFirstDrop);
  }
  recording_.instant(tick, data);
  return tick;
}

bool BaseDevUnity::onRawFrame(int nSeq, const int data[]) {
  // Before the host's handler, so that a marker it adds lands on this
  // instant.
  takeInstant(nSeq, data);
  callHandler(handlers().rawData, nSeq, data, static_cast<int>(channelPorts.size()));
  return false;
}

bool BaseDevUnity::onEvent(const Event& ev) {
  std::printf("New Event raised: %d\n", ev.type);
  recording_.event(*this, ev);
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
