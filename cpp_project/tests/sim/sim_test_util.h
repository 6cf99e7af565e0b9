// Helpers shared by the simulator tests.
#ifndef VEXA_TESTS_SIM_SIM_TEST_UTIL_H_
#define VEXA_TESTS_SIM_SIM_TEST_UTIL_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa_sim_test {

using Bytes = std::vector<uint8_t>;

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Whole milliseconds since start; prints readably in a failed expectation.
inline long long msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace vexa_sim_test

#endif  // VEXA_TESTS_SIM_SIM_TEST_UTIL_H_
