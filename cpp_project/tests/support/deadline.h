// Bounds for calls that must not hang. A thread still blocked at the
// deadline cannot be taken back, and the objects it uses would be destroyed
// under it, so the process ends there with a message naming what hung:
// a clear failure instead of a test run that never ends.
#ifndef VEXA_TESTS_SUPPORT_DEADLINE_H_
#define VEXA_TESTS_SUPPORT_DEADLINE_H_

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

namespace vexa_test {

// Longer than any wait of the library (a 2 s loop time-out followed by a
// 5 s reply time-out), so only a real hang reaches it.
constexpr std::chrono::seconds kDeadline{20};

[[noreturn]] inline void hung(const std::string& what) {
  std::fprintf(stderr, "FAILED: %s did not end within %lld s\n", what.c_str(),
               static_cast<long long>(kDeadline.count()));
  std::fflush(stderr);
  std::_Exit(1);
}

// Runs fn on a thread of its own and returns its result, or rethrows what
// it threw.
template <class Fn>
auto withinDeadline(const std::string& what, Fn fn) {
  std::packaged_task<decltype(fn())()> task(std::move(fn));
  auto result = task.get_future();
  std::thread worker(std::move(task));
  if (result.wait_for(kDeadline) != std::future_status::ready) hung(what);
  worker.join();
  return result.get();
}

// Polls done() until it holds, calling nudge() between polls (for example
// to interrupt a loop that would otherwise run on).
template <class Done, class Nudge>
void awaitWithin(const std::string& what, Done done, Nudge nudge) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) hung(what);
    nudge();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_DEADLINE_H_
