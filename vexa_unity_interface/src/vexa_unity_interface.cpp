// The exported functions of the plug-in. Every export that may fail either
// reports through the host's exception handler (the wrapped ones) or returns
// a safe value: no failure ever leaves as a fault into the host.
#include "vexa_unity_interface.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base_dev_unity.h"
#include "cancellable_call.h"
#include "current_device.h"
#include "host_calls.h"
#include "host_handlers.h"
#include "recording.h"
#include "report.h"

using Vexa::BaseDevUnity;
using Vexa::Unity::callHandler;
using Vexa::Unity::ExportCodes;
using Vexa::Unity::handlers;
using Vexa::Unity::reported;
using Vexa::Unity::requireArgument;

namespace Vexa {
namespace Unity {

HostHandlers& handlers() {
  static HostHandlers slots;
  return slots;
}

const char* interfaceFileName() { return baseName(__FILE__); }

}  // namespace Unity
}  // namespace Vexa

namespace {

// Code / log line of each kind of failure, per export.
constexpr ExportCodes kConnect = {1, 384, 2, 390, 3, 396, 408};
constexpr ExportCodes kStartByNbr = {5, 437, 6, 443, 7, 449, 461};
constexpr ExportCodes kStartBySources = {9, 480, 10, 486, 11, 492, 504};
constexpr ExportCodes kStart = {13, 542, 14, 548, 15, 554, 566};
constexpr ExportCodes kStartStrandelo = {17, 590, 18, 596, 19, 602, 614};
constexpr ExportCodes kStartLoop = {21, 0, 21, 0, 24, 644, 656};
constexpr ExportCodes kDetect = {26, 692, 27, 698, 28, 704, 716};
constexpr ExportCodes kProductId = {30, 791, 31, 797, 32, 803, 815};
constexpr ExportCodes kDeviceType = {34, 862, 35, 868, 36, 874, 886};
constexpr ExportCodes kSetParameter = {38, 928, 39, 934, 40, 940, 952};

using Vexa::Unity::currentDevice;
using Vexa::Unity::currentSession;

// The current device, for an export that exchanges commands with it. A loop
// on another thread reads the same link and would take the replies, so the
// export is refused there; the loop's own handlers may talk to the device.
BaseDevUnity& deviceForCommands(const char* function) {
  BaseDevUnity& dev = currentDevice(function);
  if (currentSession().loopAlive() && !currentSession().onOwnThread()) {
    VEXA_THROW_AT(Vexa::Error::InvalidOperation, function, 0);
  }
  return dev;
}

void startSources(BaseDevUnity& dev, int baseFreq, const std::vector<Vexa::Source>& sources) {
  dev.start(static_cast<float>(baseFreq), sources);
}

// An export that may wait long, run as a cancellable call: a cancel from
// another thread ends it early, and then it reports nothing but the thread's
// last failure detail. body takes the call, to look at it before its result
// takes effect.
template <class Body>
void reportedUnlessCancelled(const ExportCodes& codes, Body&& body) {
  const Vexa::Unity::CancellableCall call;
  reported(codes, [&] {
    try {
      body(call);
    } catch (const Vexa::Error::Cancelled&) {
      Vexa::Unity::rememberFailure(Vexa::Unity::kCancelledDetail);
    }
  });
}

}  // namespace

extern "C" {

VEXA_UNITY_API int WelcomeFunction(void) {
  if (std::freopen("vexa_logs_file.txt", "w", stdout) != nullptr) std::setvbuf(stdout, nullptr, _IONBF, 0);
  return std::rand() % 100;
}

VEXA_UNITY_API void VexaDevUnity(const char* path) {
  reportedUnlessCancelled(kConnect, [path](const Vexa::Unity::CancellableCall& call) {
    requireArgument(path != nullptr, "VexaDevUnity");
    auto dev = Vexa::Unity::connectDevice<BaseDevUnity>(path, currentSession().ring(), currentSession().recording());
    // A cancel that came as the connect ended still keeps the earlier device.
    call.throwIfCancelled();
    // The earlier device goes only once the new one is connected, so a
    // failed connection leaves the host's current device in place. Its loop
    // ends first; from a loop's handler that cannot be waited for.
    if (!currentSession().replaceDevice(std::move(dev))) VEXA_THROW(Vexa::Error::InvalidOperation, 0);
  });
}

// From a loop's handler that cannot wait for the current device's loop,
// nothing happens.
VEXA_UNITY_API void DisconnectVexaDevUnity(void) { currentSession().replaceDevice(nullptr); }

VEXA_UNITY_API void SetNewDeviceFoundHandler(VexaNewDeviceFoundHandler handler) { handlers().newDeviceFound = handler; }
VEXA_UNITY_API void SetOnRawDataHandler(VexaRawDataHandler handler) { handlers().rawData = handler; }
VEXA_UNITY_API void SetOnExceptionRaisedHandler(VexaExceptionRaisedHandler handler) {
  handlers().exceptionRaised = handler;
}
VEXA_UNITY_API void SetOnEventDetectedHandlers(VexaDisconnectEventHandler disconnect, VexaDigInEventHandler digIn) {
  handlers().disconnectEvent = disconnect;
  handlers().digInEvent = digIn;
}

VEXA_UNITY_API void OnNewDeviceFound(const char* path) { callHandler(handlers().newDeviceFound, path); }
VEXA_UNITY_API void OnExceptionRaised(int code, const char* message) {
  callHandler(handlers().exceptionRaised, code, message);
}
VEXA_UNITY_API void OnDisconnectEventDetected(int reason) { callHandler(handlers().disconnectEvent, reason); }
VEXA_UNITY_API void OnDigInEventDetected(int clockSource, int clockValue, int input, bool state) {
  callHandler(handlers().digInEvent, clockSource, clockValue, input, state);
}

VEXA_UNITY_API void StartAcquisition(int baseFreq, const char* channels, int nBits) {
  reported(kStart, [=] {
    BaseDevUnity& dev = deviceForCommands("StartAcquisition");
    requireArgument(channels != nullptr, "StartAcquisition");
    std::vector<int> ports;
    for (int position = 1; channels[position - 1] != '\0'; ++position) {
      if (channels[position - 1] == '1') ports.push_back(position);
    }
    dev.communicationFlag = true;
    dev.start(static_cast<float>(baseFreq), ports, nBits);
    dev.channelPorts.assign(ports.begin(), ports.end());
    dev.acquisitionStarted(baseFreq, Vexa::Unity::portSources(dev.channelPorts, nBits));
  });
}

VEXA_UNITY_API void StartAcquisitionByNbr(int baseFreq, int channelMask, int nBits) {
  reported(kStartByNbr, [=] {
    Vexa::Unity::startByMask(deviceForCommands("StartAcquisitionByNbr"), baseFreq, channelMask, nBits);
  });
}

VEXA_UNITY_API void StartAcquisitionBySources(int baseFreq, const VexaSource* sources, int nSources) {
  reported(kStartBySources, [=] {
    Vexa::Unity::startBySources(deviceForCommands("StartAcquisitionBySources"), baseFreq, sources, nSources,
                                "StartAcquisitionBySources");
  });
}

VEXA_UNITY_API void StartAcquisitionStrandelo(int baseFreq, int, int nBits, int channelFreq) {
  reported(kStartStrandelo, [=] {
    BaseDevUnity& dev = deviceForCommands("StartAcquisitionStrandelo");
    // Guards the division: by zero, or the one quotient that overflows.
    requireArgument(channelFreq != 0 && !(baseFreq == INT_MIN && channelFreq == -1), "StartAcquisitionStrandelo");
    const int divisor = baseFreq / channelFreq;
    dev.communicationFlag = true;
    startSources(dev, baseFreq, {Vexa::Source{1, divisor, nBits, 1}});
    dev.channelPorts.assign(1, 1);
    dev.acquisitionStarted(baseFreq, {Vexa::Source{1, divisor, nBits, 1}});
  });
}

VEXA_UNITY_API void StartLoop(void) {
  try {
    Vexa::Unity::injectFailure();
    currentSession().loopHere("StartLoop");
  } catch (const Vexa::Exception& e) {
    Vexa::Unity::reportBare(kStartLoop.notification, e);
  } catch (const std::exception& e) {
    Vexa::Unity::report(kStartLoop, Vexa::Unity::FailureKind::kStandard, e.what());
  } catch (...) {
    Vexa::Unity::report(kStartLoop, Vexa::Unity::FailureKind::kOther, nullptr);
  }
}

VEXA_UNITY_API void InterruptAcquisition(void) { currentSession().interruptLoop(); }

// The stop's reply comes on the link a loop on another thread reads: that
// loop ends first, as nothing is left for it to deliver. Without a device,
// or where that loop cannot be waited for, there is nothing to stop.
VEXA_UNITY_API void StopAcquisition(void) { currentSession().stop(); }

VEXA_UNITY_API void GetDetectableDevices(const char* domain) {
  reportedUnlessCancelled(kDetect, [domain](const Vexa::Unity::CancellableCall& call) {
    const std::vector<Vexa::DevInfo> found = Vexa::BaseDev::findDevices(domain != nullptr ? domain : "");
    // A search cancelled as it ended still hands out nothing.
    call.throwIfCancelled();
    for (const Vexa::DevInfo& info : found) callHandler(handlers().newDeviceFound, info.path.c_str());
  });
}

VEXA_UNITY_API void GetAllDetectableDevices(void) {
  const Vexa::Unity::CancellableCall call;
  try {
    const std::vector<Vexa::DevInfo> found = Vexa::BaseDev::findDevices("");
    call.throwIfCancelled();
    for (const Vexa::DevInfo& info : found) callHandler(handlers().newDeviceFound, info.path.c_str());
  } catch (const Vexa::Error::Cancelled&) {
    Vexa::Unity::rememberFailure(Vexa::Unity::kCancelledDetail);
  } catch (...) {
    // A failed search finds nothing.
  }
}

VEXA_UNITY_API int GetProductId(void) {
  int productId = 0;
  reported(kProductId, [&productId] {
    BaseDevUnity& dev = currentDevice("GetProductId");
    productId = dev.getProperties()["productID"].asInt();
  });
  return productId;
}

VEXA_UNITY_API const char* GetDeviceType(void) {
  const char* type = "";
  reported(kDeviceType, [&type] {
    BaseDevUnity& dev = currentDevice("GetDeviceType");
    Vexa::Properties props = dev.getProperties();
    auto it = props.find("description");
    if (it == props.end()) {
      type = "undefined_device";
      return;
    }
    const std::string& description = it->second.asString();
    std::printf("%s\n", description.c_str());
    type = Vexa::Unity::deviceTypeName(description);
  });
  return type;
}

VEXA_UNITY_API int GetBattery(void) {
  try {
    return vexaDev != nullptr ? static_cast<int>(deviceForCommands("GetBattery").getBattery()) : -1;
  } catch (...) {
    return -1;  // no reading to be had
  }
}

VEXA_UNITY_API int GetNbrChannels(void) {
  try {
    if (vexaDev == nullptr) return 0;
    BaseDevUnity& dev = *vexaDev;
    return dev.channelCount();
  } catch (...) {
    return 0;  // the device's lock failed: no channel count to be had
  }
}

// Any host thread may ask, while another releases the device.
VEXA_UNITY_API bool GetCommunicationFlag(void) { return currentSession().communicationFlag(); }

VEXA_UNITY_API void SetParameter(int port, int index, const int* data, int dataType) {
  reported(kSetParameter, [=] {
    const auto p = Vexa::Unity::parameterBytes(index, data, dataType, "SetParameter");
    deviceForCommands("SetParameter").setParameter(port, index, p.bytes, p.length);
  });
}

}  // extern "C"

// Takes a C++ list, so it stays outside the C block's declarations.
extern "C" VEXA_UNITY_API void OnDataReceived(int nSeq, const int* samples, std::vector<int> channels) {
  callHandler(handlers().rawData, nSeq, samples, static_cast<int>(channels.size()));
}
