// The host's callback slots and the calls through them. A slot the host
// left null is skipped: calling it would take the whole host down. The
// slots are atomic because the host may replace a handler from one thread
// while the loop calls it on another.
#ifndef VEXA_UNITY_HOST_HANDLERS_H_
#define VEXA_UNITY_HOST_HANDLERS_H_

#include <atomic>

#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {

struct HostHandlers {
  std::atomic<VexaNewDeviceFoundHandler> newDeviceFound{nullptr};
  std::atomic<VexaRawDataHandler> rawData{nullptr};
  std::atomic<VexaExceptionRaisedHandler> exceptionRaised{nullptr};
  std::atomic<VexaDisconnectEventHandler> disconnectEvent{nullptr};
  std::atomic<VexaDigInEventHandler> digInEvent{nullptr};
};

// Process-wide, as the C interface requires: set by the Set exports, read by
// the device's callbacks and the error reports.
HostHandlers& handlers();

template <class Handler, class... Args>
void callHandler(const std::atomic<Handler>& slot, Args... args) {
  const Handler handler = slot.load();
  if (handler != nullptr) handler(args...);
}

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_HOST_HANDLERS_H_
