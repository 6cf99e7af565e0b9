// Connecting by path and reporting the library's failures, shared by the
// subcommands that talk to a device.
#ifndef VEXA_TOOLS_VEXA_DEVICE_H_
#define VEXA_TOOLS_VEXA_DEVICE_H_

#include <memory>
#include <string>

#include "vexa/exceptions.h"
#include "vexa_sim/simulated_device.h"

namespace vexa_cli {

// "SIM" and "SIM:…" open the in-process simulated device; every other path
// goes to the device library as it stands. D is a SignalsDev with both of
// its constructors.
template <class D>
std::unique_ptr<D> connect(const std::string& path) {
  if (vexa_sim::isSimulatedDevicePath(path)) return std::make_unique<D>(path, vexa_sim::openSimulatedDevice(path));
  return std::make_unique<D>(path);
}

// "vexa COMMAND: the library's description (the system's detail)" on
// standard error; returns kFailure.
int reportFailure(const std::string& command, const Vexa::Exception& e);

// 0x0304 as "3.4": high byte major, low byte minor.
std::string versionText(int version);

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_DEVICE_H_
