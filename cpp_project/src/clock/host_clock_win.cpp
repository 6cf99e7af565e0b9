#include <windows.h>

#include <cstdint>

#include "vexa/host_clock.h"

namespace Vexa {
namespace {

// Fixed at boot; read once.
double countsPerSecond() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(frequency.QuadPart);
}

}  // namespace

double hostTime() {
  static const double kCountsPerSecond = countsPerSecond();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  // Whole seconds and the remainder apart, so that a large count keeps its
  // sub-microsecond part.
  const int64_t perSecond = static_cast<int64_t>(kCountsPerSecond);
  const int64_t seconds = now.QuadPart / perSecond;
  const int64_t rest = now.QuadPart % perSecond;
  return static_cast<double>(seconds) + static_cast<double>(rest) / kCountsPerSecond;
}

}  // namespace Vexa
