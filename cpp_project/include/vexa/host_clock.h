/// @file
/// The host's monotonic clock, the one every sample instant and event time
/// of this library is given on.
#ifndef VEXA_HOST_CLOCK_H_
#define VEXA_HOST_CLOCK_H_

namespace Vexa {

/// Seconds on the host's monotonic clock (CLOCK_MONOTONIC on Linux,
/// QueryPerformanceCounter on Windows): never goes back, not moved by
/// changes of the wall clock, counted from an unspecified origin (the
/// system's start on both). Cheap, and safe from any thread; readings of
/// different threads and processes compare directly.
double hostTime();

}  // namespace Vexa

#endif  // VEXA_HOST_CLOCK_H_
