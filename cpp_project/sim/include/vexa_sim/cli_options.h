// Command-line options of the vexa-sim tool and the model they describe.
#ifndef VEXA_SIM_CLI_OPTIONS_H_
#define VEXA_SIM_CLI_OPTIONS_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_config.h"
#include "vexa_sim/device_model.h"
#include "vexa_sim/fault_model.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_sim {

enum class Family { kCurrent, kCadrium, kQuillbox };

struct CliOptions {
  bool help = false;
  Family family = Family::kCurrent;
  CurrentDeviceConfig current;             // family current
  std::optional<std::string> replay;       // family current: a BDF+ recording to play
  std::optional<std::string> playTrace;    // a wire trace to play; names the device itself
  std::optional<std::string> versionLine;  // legacy families; ends in '\n'
  CadriumConfig cadrium;                   // family cadrium, but the line
  QuillboxConfig quillbox;                 // family quillbox, but the line
  LinkFaults faults;                       // every family
};

// args excludes the program name. Throws std::invalid_argument with a
// message fit for the user on an unknown, repeated, malformed or
// out-of-range option, or one that does not apply to the chosen family.
CliOptions parseCliOptions(const std::vector<std::string>& args);

// Throws std::invalid_argument, saying why, for a recording or trace it
// cannot play.
std::unique_ptr<DeviceModel> makeModel(const CliOptions& options);

std::string cliUsage(const std::string& program);

}  // namespace vexa_sim

#endif  // VEXA_SIM_CLI_OPTIONS_H_
