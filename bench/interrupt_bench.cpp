// Time from InterruptAcquisition to the return of StartLoop on an idle
// device: the interrupt's wake-up command goes out from this thread while
// the loop's thread waits in its receive. Built for Linux and for Windows
// (run under Wine against a COM port).
//
//   vexa_interrupt_bench PORT [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "vexa_unity_interface.h"

namespace {

void onException(int code, const char* message) { std::fprintf(stderr, "failure %d: %s\n", code, message); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vexa_interrupt_bench PORT [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 20;
  SetOnExceptionRaisedHandler(onException);
  VexaDevUnity(argv[1]);
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    std::thread loop([] { StartLoop(); });
    // Long enough for the loop to be waiting in its receive.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t0 = std::chrono::steady_clock::now();
    InterruptAcquisition();
    loop.join();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  DisconnectVexaDevUnity();
  std::sort(ms.begin(), ms.end());
  std::printf("interrupt to StartLoop return over %d rounds: median %.2f ms, max %.2f ms\n", rounds,
              ms[ms.size() / 2], ms.back());
  return 0;
}
