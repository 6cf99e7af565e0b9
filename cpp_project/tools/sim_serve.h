// Serves one simulated device on a pseudo-terminal, as vexa-sim and
// "vexa sim" do: prints the port path on the first line of standard output,
// then plays the device until standard input ends or SIGINT/SIGTERM
// arrives. POSIX only.
#ifndef VEXA_TOOLS_SIM_SERVE_H_
#define VEXA_TOOLS_SIM_SERVE_H_

#include <string>
#include <vector>

namespace vexa_tools {

// args are the simulator's options (vexa_sim::parseCliOptions); program
// names the command in messages. Returns the exit status: 0 served, 1 the
// simulator could not run or its device failed (a played trace the host
// departed from; the reason goes to standard error), 2 bad options.
int serveSimulator(const std::vector<std::string>& args, const std::string& program);

}  // namespace vexa_tools

#endif  // VEXA_TOOLS_SIM_SERVE_H_
