// vexa info PATH: what the device says it is, and its battery.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "device.h"
#include "vexa/signals_dev.h"

namespace vexa_cli {
namespace {

class InfoDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
};

std::string battery(InfoDev& dev) {
  try {
    const float percent = dev.getBattery();
    return percent < 0 ? "no reading" : std::to_string(std::lround(percent)) + " %";
  } catch (const Vexa::Error::NotSupported&) {
    return "not available on this device";
  }
}

int run(const std::string& path, const std::string& tracePath) {
  try {
    std::unique_ptr<InfoDev> dev = connect<InfoDev>(path, tracePath);
    Vexa::Properties p = dev->getProperties();
    const int product = p["productID"].asInt();
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(product) & 0xFFFF);
    std::cout << "path: " << path << "\ntype: " << p["description"].asString() << "\nproduct: " << product << " ("
              << hex << ")\nfirmware: " << versionText(p["fwVersion"].asInt()) << "\n";
    if (p.count("hwVersion")) std::cout << "hardware: " << versionText(p["hwVersion"].asInt()) << "\n";
    if (p.count("uid")) std::cout << "uid: " << p["uid"].asString() << "\n";
    std::cout << "battery: " << battery(*dev) << std::endl;
    return endTrace(*dev, "info");
  } catch (const Vexa::Exception& e) {
    return reportFailure("info", e);
  }
}

}  // namespace

void addInfo(CLI::App& app, int& status) {
  auto path = std::make_shared<std::string>();
  auto trace = std::make_shared<std::string>();
  CLI::App* info = app.add_subcommand("info", "Connect and show the device's type, product, firmware and battery");
  info->add_option("PATH", *path, "Connection path (COM…, BTH…, BLE…, USB…, SIM or SIM:…)")->required();
  info->add_option("--trace", *trace, "Write the bytes exchanged with the device to FILE, as a wire trace")
      ->type_name("FILE");
  info->callback([path, trace, &status] { status = run(*path, *trace); });
}

}  // namespace vexa_cli
