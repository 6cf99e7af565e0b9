#include "device.h"

#include <iostream>

#include "commands.h"

namespace vexa_cli {

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
