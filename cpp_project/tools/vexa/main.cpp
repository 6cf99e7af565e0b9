// vexa: finds, identifies and records Vexa devices and simulates them, from
// the command line. Exit status: 0 done, 1 a device, link or file failure
// (the library's description and the system's cause on standard error),
// 2 bad usage, 3 a step of vexa check failed.
#include <exception>
#include <iostream>

#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Finds, identifies and records Vexa devices; simulates one.", "vexa"};
  app.require_subcommand(1);
  app.set_version_flag("--version", vexa_cli::buildText(), "Show the library's version and this build, then exit");
  int status = vexa_cli::kOk;
  vexa_cli::addScan(app, status);
  vexa_cli::addInfo(app, status);
  vexa_cli::addRecord(app, status);
  vexa_cli::addSim(app, status);
  vexa_cli::addCheck(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "vexa: " << e.what() << "\nRun 'vexa --help' for the usage.\n";
    return vexa_cli::kUsage;
  } catch (const std::exception& e) {
    std::cerr << "vexa: " << e.what() << "\n";
    return vexa_cli::kFailure;
  }
  return status;
}
