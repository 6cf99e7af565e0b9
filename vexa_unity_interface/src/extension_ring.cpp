// The extension exports of the sample ring: the host pulls sample instants
// in batches instead of taking one handler call per instant, and learns the
// layout they were packed with.
#include <algorithm>
#include <string>

#include "current_device.h"
#include "report.h"
#include "sample_ring.h"
#include "session_table.h"
#include "vexa_unity_interface.h"

namespace {

using Vexa::Unity::refuse;

std::string unknownSession(int session) { return "Session " + std::to_string(session) + " is not open."; }

// The session of this handle, held for the call so that a close meanwhile
// leaves its ring in place; 0 is the interface's current device.
std::shared_ptr<Vexa::Unity::Session> heldSession(int session) {
  if (session != 0) return Vexa::Unity::findSession(session);
  static const std::shared_ptr<Vexa::Unity::Session> current(&Vexa::Unity::currentSession(),
                                                              [](Vexa::Unity::Session*) {});
  return current;
}

Vexa::Unity::SampleRing& sampleRing() { return Vexa::Unity::currentSession().ring(); }

}  // namespace

extern "C" {

VEXA_UNITY_API void VexaExtEnableSampleRing(int capacityInstants) { sampleRing().enable(capacityInstants); }

VEXA_UNITY_API void VexaExtDisableSampleRing(void) { sampleRing().disable(); }

VEXA_UNITY_API int VexaExtReadSamples(int* ticks, int maxInstants, int* samples, int maxSamples) {
  return sampleRing().read(ticks, maxInstants, samples, maxSamples);
}

VEXA_UNITY_API int VexaExtGetSampleRingChannels(void) { return sampleRing().channels(); }

VEXA_UNITY_API long long VexaExtGetSampleRingOverflow(void) { return sampleRing().overflow(); }

VEXA_UNITY_API int VexaExtReadBlock(int session, long long* ticks, double* times, int maxInstants, int* samples,
                                    int maxSamples, int* channels, int* acquisition) {
  if (ticks == nullptr || samples == nullptr) {
    return refuse(VEXA_EXT_ERR_ARGUMENT, "The ticks and samples buffers must not be null.");
  }
  if (maxInstants < 0 || maxSamples < 0) {
    return refuse(VEXA_EXT_ERR_ARGUMENT, "The sizes must not be negative: maxInstants " + std::to_string(maxInstants) +
                                             ", maxSamples " + std::to_string(maxSamples) + ".");
  }
  const std::shared_ptr<Vexa::Unity::Session> held = heldSession(session);
  if (held == nullptr) return refuse(VEXA_EXT_ERR_SESSION, unknownSession(session));
  const auto block = held->ring().readBlock(ticks, maxInstants, samples, maxSamples);
  using Outcome = Vexa::Unity::SampleRing::Outcome;
  if (block.outcome == Outcome::kOff) {
    return refuse(VEXA_EXT_ERR_STATE, "The sample ring is off: turn it on with VexaExtEnableSampleRing.");
  }
  // Also when refused for its size, so that the caller can size its buffers.
  if (channels != nullptr) *channels = block.channels;
  if (acquisition != nullptr) *acquisition = block.acquisition;
  if (block.outcome == Outcome::kTooSmall) {
    return refuse(VEXA_EXT_ERR_BUFFER_TOO_SMALL,
                  "The buffers hold " + std::to_string(maxInstants) + " instants and " + std::to_string(maxSamples) +
                      " samples; one instant of acquisition " + std::to_string(block.acquisition) + " needs " +
                      std::to_string(block.channels) + " samples.");
  }
  if (times != nullptr) held->fillTimes(ticks, times, block.instants);
  return block.instants;
}

VEXA_UNITY_API int VexaExtGetAcquisitionLayout(int session, VexaExtChannelLayout* layout, int maxChannels,
                                               int* acquisition) {
  if (maxChannels < 0 || (layout == nullptr && maxChannels > 0)) {
    return refuse(VEXA_EXT_ERR_ARGUMENT, "maxChannels must be 0 or more, with a layout buffer of that many entries: " +
                                             std::to_string(maxChannels) + ".");
  }
  const std::shared_ptr<Vexa::Unity::Session> held = heldSession(session);
  if (held == nullptr) return refuse(VEXA_EXT_ERR_SESSION, unknownSession(session));
  const auto started = held->ring().acquisition();
  const int count = static_cast<int>(started.channels.size());
  for (int i = 0; i < std::min(count, maxChannels); ++i) {
    const Vexa::RecordedChannel& c = started.channels[i];
    layout[i] = VexaExtChannelLayout{c.port, c.channel, c.nBits, c.freqDivisor};
  }
  if (acquisition != nullptr) *acquisition = started.number;
  return count;
}

}  // extern "C"
