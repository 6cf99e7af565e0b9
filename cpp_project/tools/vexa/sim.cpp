// vexa sim …: the simulator on a pseudo-terminal, with vexa-sim's options.
#include <CLI/CLI.hpp>

#include "../sim_serve.h"
#include "commands.h"

namespace vexa_cli {

void addSim(CLI::App& app, int& status) {
  CLI::App* sim = app.add_subcommand("sim", "Serve a simulated device on a pseudo-terminal (options: vexa sim --help)");
  // Everything after "sim", --help included, goes to the simulator's own
  // option parser.
  sim->prefix_command();
  sim->set_help_flag();
  sim->callback([sim, &status] { status = vexa_tools::serveSimulator(sim->remaining(), "vexa sim"); });
}

}  // namespace vexa_cli
