#include "current_device.h"

#include "vexa/exceptions.h"

extern "C" {
VEXA_UNITY_API Vexa::BaseDevUnity* vexaDev = nullptr;
}

namespace Vexa {
namespace Unity {

Session& currentSession() {
  static Session* const one = new Session;
  return *one;
}

BaseDevUnity& currentDevice(const char* function) {
  if (vexaDev == nullptr) VEXA_THROW_AT(Error::InvalidInstance, function);
  return *vexaDev;
}

}  // namespace Unity
}  // namespace Vexa
