// The extension exports of the sample ring: the host pulls sample instants
// in batches instead of taking one handler call per instant.
#include "sample_ring.h"
#include "vexa_unity_interface.h"

using Vexa::Unity::sampleRing;

extern "C" {

VEXA_UNITY_API void VexaExtEnableSampleRing(int capacityInstants) { sampleRing().enable(capacityInstants); }

VEXA_UNITY_API void VexaExtDisableSampleRing(void) { sampleRing().disable(); }

VEXA_UNITY_API int VexaExtReadSamples(int* ticks, int maxInstants, int* samples, int maxSamples) {
  return sampleRing().read(ticks, maxInstants, samples, maxSamples);
}

VEXA_UNITY_API int VexaExtGetSampleRingChannels(void) { return sampleRing().channels(); }

VEXA_UNITY_API long long VexaExtGetSampleRingOverflow(void) { return sampleRing().overflow(); }

}  // extern "C"
