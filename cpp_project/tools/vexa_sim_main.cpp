// vexa-sim: serves one simulated Vexa device on a pseudo-terminal until
// standard input ends or SIGINT/SIGTERM arrives.
#include <string>
#include <vector>

#include "sim_serve.h"

int main(int argc, char** argv) {
  return vexa_tools::serveSimulator(std::vector<std::string>(argv + 1, argv + argc), argc > 0 ? argv[0] : "vexa-sim");
}
