// vexa-demo: connects to a device through the serial transport and shows
// what it reports. Without --port it first starts a simulated device on a
// pseudo-terminal, so it runs anywhere.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "vexa/exceptions.h"
#include "vexa/signals_dev.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: vexa-demo [--port PATH]\n"
               "  --port PATH  connect to this device path (e.g. COM/dev/ttyUSB0)\n"
               "               instead of the built-in simulated device\n");
}

void printProperties(const Vexa::Properties& props) {
  for (const auto& [key, value] : props) {
    if (value.kind() == Vexa::PropertyValue::kString) {
      std::printf("  %-12s %s\n", key.c_str(), value.asString().c_str());
    } else {
      std::printf("  %-12s %d (0x%04X)\n", key.c_str(), value.asInt(), static_cast<unsigned>(value.asInt()));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string port;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      port = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    } else {
      usage(stderr);
      return 2;
    }
  }

  std::unique_ptr<vexa_sim::PtySimulator> simulator;
  if (port.empty()) {
    simulator = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<vexa_sim::CurrentDeviceModel>());
    port = simulator->comPath();
    std::printf("Simulated device on %s\n", port.c_str());
  }

  try {
    Vexa::SignalsDev device(port);
    std::printf("Connected to %s\n", port.c_str());
    printProperties(device.getProperties());
    std::printf("Battery: %.1f %%\n", device.getBattery());
  } catch (const Vexa::Exception& e) {
    std::fprintf(stderr, "vexa-demo: %s\n", e.getDescription().c_str());
    return 1;
  }
  return 0;
}
