// The extension exports of the host clock: the clock every instant and
// marker is timed on, the time of the instant being handed to the host, and
// the link's constant delay.
#include <atomic>
#include <cmath>

#include "current_device.h"
#include "link_delay.h"
#include "report.h"
#include "session_table.h"
#include "vexa/host_clock.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {

std::atomic<double>& linkDelay() {
  static std::atomic<double> seconds{0};
  return seconds;
}

}  // namespace Unity
}  // namespace Vexa

extern "C" {

VEXA_UNITY_API double VexaExtGetHostTime(void) { return Vexa::hostTime(); }

VEXA_UNITY_API double VexaExtGetInstantTime(void) { return Vexa::Unity::currentSession().instantTime(); }

VEXA_UNITY_API int VexaExtSetLinkDelay(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    Vexa::Unity::rememberFailure("The link delay must be a finite number of seconds, 0 or more.");
    return VEXA_EXT_ERR_ARGUMENT;
  }
  Vexa::Unity::linkDelay() = seconds;
  Vexa::Unity::currentSession().setLinkDelay(seconds);
  for (const auto& session : Vexa::Unity::openSessions()) session->setLinkDelay(seconds);
  return 0;
}

}  // extern "C"
