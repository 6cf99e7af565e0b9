// vexa scan [--domain BTH|BLE|USB]: one found device per line, its path and
// its description separated by a tab.
#include <algorithm>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "device.h"
#include "vexa/base_dev.h"

namespace vexa_cli {

void addScan(CLI::App& app, int& status) {
  auto domain = std::make_shared<std::string>();
  CLI::App* scan = app.add_subcommand(
      "scan", "List the devices that can be connected. Two BLE devices need two dongles: each link takes one.");
  scan->add_option("--domain", *domain, "Search one link only (default: all)")
      ->check(CLI::IsMember({"BTH", "BLE", "USB"}, CLI::ignore_case));
  scan->callback([domain, &status] {
    try {
      const std::vector<Vexa::DevInfo> found = Vexa::BaseDev::findDevices(*domain);
      for (const Vexa::DevInfo& d : found) std::cout << d.path << '\t' << d.description << '\n';
      if (found.empty()) std::cerr << "vexa scan: no device found\n";
      const bool ble = std::any_of(found.begin(), found.end(), [](const Vexa::DevInfo& d) {
        return d.path.size() >= 3 && (d.path.compare(0, 3, "BLE") == 0);
      });
      // Each BLE link resets its dongle and keeps it while it is open.
      if (ble) std::cerr << "vexa scan: each BLE device needs a dongle of its own: two BLE devices need two dongles\n";
      status = kOk;
    } catch (const Vexa::Exception& e) {
      status = reportFailure("scan", e);
    }
  });
}

}  // namespace vexa_cli
