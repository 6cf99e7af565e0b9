// The interface's current device: the session the exports without a handle
// address, and the exported pointer to its device object.
#ifndef VEXA_UNITY_CURRENT_DEVICE_H_
#define VEXA_UNITY_CURRENT_DEVICE_H_

#include "base_dev_unity.h"
#include "session.h"
#include "vexa_unity_interface.h"

extern "C" {
// The current session's device, null while it has none; changed only by
// Session::replaceDevice.
extern VEXA_UNITY_API Vexa::BaseDevUnity* vexaDev;
}

namespace Vexa {
namespace Unity {

// The session of the interface's current device, never destroyed: a
// recording still running when the process ends is left as it is.
Session& currentSession();

// The current device's object; throws Error::InvalidInstance, naming
// function, while none is connected. For the exports that the host calls
// from one thread at a time.
BaseDevUnity& currentDevice(const char* function);

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_CURRENT_DEVICE_H_
