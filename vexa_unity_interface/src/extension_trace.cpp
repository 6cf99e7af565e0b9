// The extension exports of the wire trace: the bytes the current device's
// link carries, timed, written to a text file while the device is used.
#include <exception>
#include <string>

#include "current_device.h"
#include "report.h"
#include "vexa_unity_interface.h"

namespace {

// 0, or the code of the failure with its cause kept as the calling thread's
// last failure detail.
template <class Body>
int outcome(Body&& body) {
  try {
    body();
    return 0;
  } catch (const Vexa::Error::InvalidParameter& e) {
    Vexa::Unity::rememberFailure(e.detail().empty() ? e.getDescription() : e.detail());
    return VEXA_EXT_ERR_ARGUMENT;
  } catch (const Vexa::Error::InvalidOperation& e) {
    Vexa::Unity::rememberFailure(e.detail().empty() ? e.getDescription() : e.detail());
    return VEXA_EXT_ERR_STATE;
  } catch (const Vexa::Exception& e) {
    Vexa::Unity::rememberFailure(e.detail().empty() ? e.getDescription() : e.detail());
  } catch (const std::exception& e) {
    Vexa::Unity::rememberFailure(e.what());
  } catch (...) {
    Vexa::Unity::rememberFailure("The wire trace failed.");
  }
  return -1;
}

}  // namespace

extern "C" {

VEXA_UNITY_API int VexaExtStartTrace(const char* path) {
  return outcome([path] {
    if (path == nullptr || *path == '\0') {
      VEXA_THROW_DETAIL(Vexa::Error::InvalidParameter, "The wire trace needs a file path.");
    }
    const bool connected =
        Vexa::Unity::currentSession().withDevice([path](Vexa::BaseDevUnity& dev) { dev.startTrace(path); });
    if (!connected) VEXA_THROW_DETAIL(Vexa::Error::InvalidOperation, "No device is connected.", 0);
  });
}

VEXA_UNITY_API int VexaExtStopTrace(void) {
  return outcome([] {
    bool stopped = false;
    Vexa::Unity::currentSession().withDevice([&stopped](Vexa::BaseDevUnity& dev) { stopped = dev.stopTrace(); });
    if (!stopped) {
      VEXA_THROW_DETAIL(Vexa::Error::InvalidOperation, "No wire trace runs.", 0);
    }
  });
}

}  // extern "C"
