// Waits for a state the code under test gives no notification of (the
// loop's state, ticks counted on the loop's thread): polls it, up to 5 s.
#ifndef VEXA_TESTS_SUPPORT_EVENTUALLY_H_
#define VEXA_TESTS_SUPPORT_EVENTUALLY_H_

#include <chrono>
#include <thread>

namespace vexa_test {

template <class Pred>
bool eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_EVENTUALLY_H_
