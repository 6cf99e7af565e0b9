// The built-in simulated device behind the connection path "SIM": a device
// model played in-process, so that a host works without hardware on every
// platform, Windows included.
#ifndef VEXA_SIM_SIMULATED_DEVICE_H_
#define VEXA_SIM_SIMULATED_DEVICE_H_

#include <memory>
#include <string>

#include "vexa/io.h"

namespace vexa_sim {

// "SIM" (any letter case), or "SIM:" followed by a family ("current",
// "cadrium", "quillbox") and, optionally, more of vexa-sim's options:
// "SIM:current --description FernlitVexa --battery 1600". A word ending in
// ".bdf" (any case) is a recording to replay: "SIM:session.bdf" (no blanks
// in its path). "SIM:trace:FILE" plays a wire trace, all the rest being
// the file's path ("SIM:trace:C:\\traces\\a session.trace").
bool isSimulatedDevicePath(const std::string& path);

// A transport joined to a new simulated device of the kind path names; the
// device plays until the transport is destroyed. Throws
// Vexa::Notification::OpeningPort, with the reason as its detail, for
// options it cannot take or a recording or trace it cannot play. A device
// that fails later (a trace the host departs from) breaks the link: recv
// and send then throw Vexa::Notification::ContactingDevice saying why.
std::unique_ptr<Vexa::IO> openSimulatedDevice(const std::string& path);

}  // namespace vexa_sim

#endif  // VEXA_SIM_SIMULATED_DEVICE_H_
