#include "device.h"

#include <cctype>
#include <iostream>
#include <sstream>

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

std::optional<Vexa::RecordingInfo> replayedRecording(const std::string& path) {
  if (!vexa_sim::isSimulatedDevicePath(path) || path.size() < 4) return std::nullopt;
  std::istringstream words(path.substr(4));
  for (std::string word; words >> word;) {
    std::string tail = word.size() > 4 ? word.substr(word.size() - 4) : "";
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail != ".bdf") continue;
    try {
      return Vexa::BdfReader(word).recordingInfo();
    } catch (const Vexa::Exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
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
