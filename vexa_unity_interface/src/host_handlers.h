// The host's callback slots and the calls through them. A slot the host
// left null is skipped: calling it would take the whole host down.
#ifndef VEXA_UNITY_HOST_HANDLERS_H_
#define VEXA_UNITY_HOST_HANDLERS_H_

#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {

struct HostHandlers {
  VexaNewDeviceFoundHandler newDeviceFound = nullptr;
  VexaRawDataHandler rawData = nullptr;
  VexaExceptionRaisedHandler exceptionRaised = nullptr;
  VexaDisconnectEventHandler disconnectEvent = nullptr;
  VexaDigInEventHandler digInEvent = nullptr;
};

// Process-wide, as the C interface requires: set by the Set exports, read by
// the device's callbacks and the error reports.
HostHandlers& handlers();

template <class Handler, class... Args>
void callHandler(Handler handler, Args... args) {
  if (handler != nullptr) handler(args...);
}

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_HOST_HANDLERS_H_
