#include "sim_serve.h"

#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "vexa_sim/cli_options.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_sim/unique_fd.h"

namespace vexa_tools {
namespace {

// Does nothing: its only job is to make pselect() return with EINTR.
extern "C" void onStopSignal(int) {}

// Returns on end of input, a stop signal or a byte on failed (the device
// failed); input itself is discarded.
void waitForEnd(const sigset_t& waitMask, int failed) {
  for (;;) {
    fd_set in;
    FD_ZERO(&in);
    FD_SET(STDIN_FILENO, &in);
    FD_SET(failed, &in);
    if (pselect(std::max(STDIN_FILENO, failed) + 1, &in, nullptr, nullptr, nullptr, &waitMask) < 0) {
      return;  // EINTR: a stop signal; anything else: no usable input either
    }
    if (FD_ISSET(failed, &in)) return;
    char sink[256];
    ssize_t n = read(STDIN_FILENO, sink, sizeof sink);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
  }
}

}  // namespace

int serveSimulator(const std::vector<std::string>& args, const std::string& program) {
  vexa_sim::CliOptions options;
  try {
    options = vexa_sim::parseCliOptions(args);
  } catch (const std::invalid_argument& e) {
    std::cerr << program << ": " << e.what() << "\nTry '" << program << " --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << vexa_sim::cliUsage(program);
    return 0;
  }

  // Stop signals stay blocked everywhere, in the engine's thread too, and
  // are taken only inside pselect(), so none can be lost between checks.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigset_t waitMask;
  pthread_sigmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed stdout is reported below instead

  try {
    vexa_sim::PtySimulator simulator(vexa_sim::makeModel(options));
    // The device's failure (a host that departs from a played trace) wakes
    // the wait through a pipe, written on the engine's thread.
    int ends[2];
    if (pipe(ends) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    const vexa_sim::UniqueFd failedRead(ends[0]);
    const vexa_sim::UniqueFd failedWrite(ends[1]);
    simulator.engine().onFailure([fd = failedWrite.get()] {
      const char byte = 1;
      (void)!write(fd, &byte, 1);
    });
    std::cout << simulator.comPath() << std::endl;
    if (!std::cout) {
      std::cerr << program << ": cannot write the port path to standard output\n";
      return 1;
    }
    waitForEnd(waitMask, failedRead.get());
    if (std::string why = simulator.engine().failure(); !why.empty()) {
      std::cerr << program << ": " << why << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << program << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace vexa_tools
