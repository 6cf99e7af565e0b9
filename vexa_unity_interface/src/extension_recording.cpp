// The extension exports of recording: the running acquisition to a BDF+ or
// CSV file, with the host's markers. Each returns 0, or -1 with the cause
// kept as the calling thread's last failure detail.
#include <exception>
#include <string>

#include "current_device.h"
#include "recording.h"
#include "report.h"
#include "vexa_unity_interface.h"

namespace {

template <class Body>
int outcome(Body&& body) {
  try {
    body();
    return 0;
  } catch (const Vexa::Exception& e) {
    Vexa::Unity::rememberFailure(e.detail().empty() ? e.getDescription() : e.detail());
  } catch (const std::exception& e) {
    Vexa::Unity::rememberFailure(e.what());
  } catch (...) {
    Vexa::Unity::rememberFailure("The recording failed.");
  }
  return -1;
}

Vexa::Unity::Recording& recording() { return Vexa::Unity::currentSession().recording(); }

}  // namespace

extern "C" {

VEXA_UNITY_API int VexaExtStartRecording(const char* path) {
  return outcome([path] {
    if (path == nullptr || *path == '\0') {
      VEXA_THROW_DETAIL(Vexa::Error::InvalidParameter, "The recording needs a file path.");
    }
    if (vexaDev == nullptr) {
      VEXA_THROW_DETAIL(Vexa::Error::InvalidInstance, "No device is connected.");
    }
    Vexa::Unity::currentSession().recording().start(*vexaDev, path);
  });
}

VEXA_UNITY_API int VexaExtStopRecording(void) {
  return outcome([] { recording().stop(); });
}

VEXA_UNITY_API int VexaExtDescribeRecordingChannel(int position, const char* label, const char* unit,
                                                   double physicalMin, double physicalMax) {
  return outcome([=] {
    Vexa::ChannelDescription d;
    d.label = label ? label : "";
    d.unit = unit ? unit : "";
    d.physicalMin = physicalMin;
    d.physicalMax = physicalMax;
    recording().describeChannel(position, d);
  });
}

VEXA_UNITY_API int VexaExtDescribeRecording(const char* subject, const char* note) {
  return outcome([=] { recording().describe(subject ? subject : "", note ? note : ""); });
}

VEXA_UNITY_API int VexaExtAddMarker(const char* text) {
  return outcome([text] {
    if (text == nullptr) {
      VEXA_THROW_DETAIL(Vexa::Error::InvalidParameter, "The marker needs a text.");
    }
    recording().marker(text);
  });
}

VEXA_UNITY_API int VexaExtAddMarkerAt(const char* text, double hostTime) {
  return outcome([text, hostTime] {
    if (text == nullptr) {
      VEXA_THROW_DETAIL(Vexa::Error::InvalidParameter, "The marker needs a text.");
    }
    recording().markerAt(text, hostTime);
  });
}

}  // extern "C"
