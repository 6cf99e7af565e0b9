#include "device.h"

#include <iostream>

#include "base/x.h"
#include "commands.h"
#include "vexa/wire_trace.h"

namespace vexa_cli {

std::unique_ptr<Vexa::IO> openLink(const std::string& path, const std::string& tracePath) {
  std::unique_ptr<Vexa::IO> io =
      vexa_sim::isSimulatedDevicePath(path) ? vexa_sim::openSimulatedDevice(path) : Vexa::openTransport(path);
  if (!tracePath.empty()) io->attachTrace(std::make_shared<Vexa::WireTrace>(tracePath, io->linkKind()));
  return io;
}

int endTrace(Vexa::BaseDev& dev, const std::string& command) {
  try {
    dev.stopTrace();
    return kOk;
  } catch (const Vexa::Exception& e) {
    std::cerr << "vexa " << command << ": the wire trace was not written in full";
    if (!e.detail().empty()) std::cerr << " (" << e.detail() << ")";
    std::cerr << "\n";
    return kFailure;
  }
}

int reportFailure(const std::string& command, const Vexa::Exception& e) {
  std::cerr << "vexa " << command << ": " << e.getDescription();
  if (!e.detail().empty()) std::cerr << " (" << e.detail() << ")";
  std::cerr << "\n";
  return kFailure;
}

std::string versionText(int version) {
  return std::to_string((version >> 8) & 0xFF) + "." + std::to_string(version & 0xFF);
}

}  // namespace vexa_cli
