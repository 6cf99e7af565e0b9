// vexa check PATH [--json]: a short, safe check of a connected device, as a
// report to read or paste into a bug report: the library, the link, the
// handshake, the battery, a few short acquisitions, an interrupt while idle
// and while acquiring, and a reconnect. Exit status 0 every step passed,
// 3 a step failed, 1 the device or link could not be used, 2 bad usage.
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "check_report.h"
#include "check_steps.h"
#include "commands.h"
#include "vexa_sim/simulated_device.h"

namespace vexa_cli {
namespace {

// The kind of link the path opens, by its first three characters as the
// library picks the transport.
std::string linkOf(const std::string& path) {
  if (vexa_sim::isSimulatedDevicePath(path)) {
    return path.size() > 4 ? "simulated device in this process (" + path.substr(4) + ")"
                           : "simulated device in this process";
  }
  const std::string prefix = path.substr(0, 3), rest = path.size() > 3 ? path.substr(3) : "";
  if (prefix == "COM") return "serial port " + rest;
  if (prefix == "USB") return "USB through an FTDI FT4222H adapter, index " + rest;
  if (prefix == "BLE") return "Bluetooth Low Energy through a USB dongle, device " + rest;
  return "Bluetooth classic (RFCOMM), address " + (prefix == "BTH" ? rest : path);
}

int run(const std::string& path, const std::string& tracePath, bool json) {
  CheckReport report;
  report.version = buildText();
  report.path = path;
  report.link = linkOf(path);
  runCheck(path, tracePath, report);
  if (json) {
    printJson(std::cout, report);
  } else {
    printText(std::cout, report);
  }
  std::cout.flush();
  if (!report.unusable.empty()) {
    std::cerr << "vexa check: cannot use the device at " << path << ": " << report.unusable
              << "\nvexa check: is it switched on, charged, in range and on this link? ('vexa scan' lists what "
                 "answers)\n";
  }
  if (!report.traceFailure.empty()) {
    std::cerr << "vexa check: the wire trace was not written in full (" << report.traceFailure << ")\n";
    return kFailure;
  }
  return checkStatus(report);
}

}  // namespace

void addCheck(CLI::App& app, int& status) {
  auto path = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto trace = std::make_shared<std::string>();
  CLI::App* check = app.add_subcommand(
      "check", "Check a connected device in a few seconds and print a report for a bug report (exit 3: a step failed)");
  check->add_option("PATH", *path, "Connection path (COM…, BTH…, BLE…, USB…, SIM or SIM:…)")->required();
  check->add_flag("--json", *json, "One JSON object instead of text");
  check->add_option("--trace", *trace, "Write the bytes exchanged with the device to FILE, as a wire trace")
      ->type_name("FILE");
  check->callback([path, json, trace, &status] { status = run(*path, *trace, *json); });
}

}  // namespace vexa_cli
