// Connecting by path and reporting the library's failures, shared by the
// subcommands that talk to a device.
#ifndef VEXA_TOOLS_VEXA_DEVICE_H_
#define VEXA_TOOLS_VEXA_DEVICE_H_

#include <memory>
#include <optional>
#include <string>

#include "vexa/base_dev.h"
#include "vexa/bdf_reader.h"
#include "vexa/exceptions.h"
#include "vexa/io.h"
#include "vexa_sim/simulated_device.h"

namespace vexa_cli {

// The link to path, the in-process simulator's for "SIM" and "SIM:…";
// with a non-empty tracePath its bytes go to that wire trace file from the
// first one on.
std::unique_ptr<Vexa::IO> openLink(const std::string& path, const std::string& tracePath);

// "SIM" and "SIM:…" open the in-process simulated device; every other path
// goes to the device library as it stands. With a tracePath the handshake
// and everything after it is traced. D is a SignalsDev with both of its
// constructors.
template <class D>
std::unique_ptr<D> connect(const std::string& path, const std::string& tracePath = "") {
  if (tracePath.empty() && !vexa_sim::isSimulatedDevicePath(path)) return std::make_unique<D>(path);
  return std::make_unique<D>(path, openLink(path, tracePath));
}

// The recording that a "SIM:…" path replays (a word ending in ".bdf", as
// the simulator takes it), for its descriptions and to explain a refused
// start; empty for other paths or a file that cannot be read.
std::optional<Vexa::RecordingInfo> replayedRecording(const std::string& path);

// Ends dev's wire trace, if any; a trace file not written in full is
// reported as "vexa COMMAND: ..." and gives kFailure.
int endTrace(Vexa::BaseDev& dev, const std::string& command);

// "vexa COMMAND: the library's description (the system's detail)" on
// standard error; returns kFailure.
int reportFailure(const std::string& command, const Vexa::Exception& e);

// 0x0304 as "3.4": high byte major, low byte minor.
std::string versionText(int version);

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_DEVICE_H_
