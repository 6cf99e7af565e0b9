// The extension exports of the sample ring: the host pulls sample instants
// in batches instead of taking one handler call per instant, and learns the
// layout they were packed with.
#include <algorithm>
#include <limits>
#include <string>

#include "current_device.h"
#include "report.h"
#include "sample_ring.h"
#include "session_table.h"
#include "vexa_unity_interface.h"

using Vexa::Unity::sampleRing;

namespace {

using Vexa::Unity::refuse;

std::string unknownSession(int session) { return "Session " + std::to_string(session) + " is not open."; }

// Each instant's time from the fit as it stands now, which gets better as
// the acquisition goes on; NaN where none is known (no device, or one
// connected anew whose acquisition has not delivered yet).
void fillCurrentTimes(const long long* ticks, double* times, int count) {
  const Vexa::Unity::BorrowedDevice borrowed;
  for (int i = 0; i < count; ++i) {
    times[i] = borrowed.get() != nullptr ? borrowed.get()->tickTimes().timeOf(ticks[i])
                                         : std::numeric_limits<double>::quiet_NaN();
  }
}

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
  // Session 0 is the interface's current device; a session is held for the
  // read, so that a close meanwhile leaves its ring in place.
  const std::shared_ptr<Vexa::Unity::Session> held = session != 0 ? Vexa::Unity::findSession(session) : nullptr;
  if (session != 0 && held == nullptr) return refuse(VEXA_EXT_ERR_SESSION, unknownSession(session));
  Vexa::Unity::SampleRing& ring = held != nullptr ? held->ring() : sampleRing();
  const auto block = ring.readBlock(ticks, maxInstants, samples, maxSamples);
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
  if (times != nullptr) {
    if (held != nullptr) {
      held->fillTimes(ticks, times, block.instants);
    } else {
      fillCurrentTimes(ticks, times, block.instants);
    }
  }
  return block.instants;
}

VEXA_UNITY_API int VexaExtGetAcquisitionLayout(int session, VexaExtChannelLayout* layout, int maxChannels,
                                               int* acquisition) {
  if (maxChannels < 0 || (layout == nullptr && maxChannels > 0)) {
    return refuse(VEXA_EXT_ERR_ARGUMENT, "maxChannels must be 0 or more, with a layout buffer of that many entries: " +
                                             std::to_string(maxChannels) + ".");
  }
  const std::shared_ptr<Vexa::Unity::Session> held = session != 0 ? Vexa::Unity::findSession(session) : nullptr;
  if (session != 0 && held == nullptr) return refuse(VEXA_EXT_ERR_SESSION, unknownSession(session));
  const auto started = (held != nullptr ? held->ring() : sampleRing()).acquisition();
  const int count = static_cast<int>(started.channels.size());
  for (int i = 0; i < std::min(count, maxChannels); ++i) {
    const Vexa::RecordedChannel& c = started.channels[i];
    layout[i] = VexaExtChannelLayout{c.port, c.channel, c.nBits, c.freqDivisor};
  }
  if (acquisition != nullptr) *acquisition = started.number;
  return count;
}

}  // extern "C"
