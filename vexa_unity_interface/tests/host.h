// A test host: handlers that record what the plug-in reports, and the log
// captured from standard output.
#ifndef VEXA_UNITY_TESTS_HOST_H_
#define VEXA_UNITY_TESTS_HOST_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "current_device.h"
#include "vexa_unity_interface.h"

namespace vexa_unity_test {

struct Report {
  int code;
  std::string message;
};

// Clock source, clock value, input, state.
using DigIn = std::tuple<int, int, int, bool>;

// What the handlers saw; one per process, reset by each test's host.
struct Seen {
  std::mutex lock;
  std::vector<Report> reports;
  std::vector<int> disconnects;
  std::vector<DigIn> digIns;
  std::vector<std::pair<int, std::vector<int>>> frames;
};

inline Seen& seen() {
  static Seen s;
  return s;
}

// The handlers run on the loop's thread while a test watches from its own.
template <class T, class Value>
void record(std::vector<T>& into, Value&& value) {
  std::lock_guard<std::mutex> l(seen().lock);
  into.emplace_back(std::forward<Value>(value));
}
inline void onException(int code, const char* message) { record(seen().reports, Report{code, message}); }
inline void onDevice(const char*) {}
inline void onDisconnect(int reason) { record(seen().disconnects, reason); }
inline void onDigIn(int a, int b, int c, bool d) { record(seen().digIns, DigIn{a, b, c, d}); }
inline void onFrame(int nSeq, const int* samples, int n) {
  record(seen().frames, std::make_pair(nSeq, std::vector<int>(samples, samples + n)));
}

// Registers the recording handlers, or empties every slot.
inline void setHandlers(bool recording) {
  SetOnExceptionRaisedHandler(recording ? onException : nullptr);
  SetNewDeviceFoundHandler(recording ? onDevice : nullptr);
  SetOnEventDetectedHandlers(recording ? onDisconnect : nullptr, recording ? onDigIn : nullptr);
  SetOnRawDataHandler(recording ? onFrame : nullptr);
}

// Registers the recording handlers and releases any device at the end.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> l(seen().lock);
      seen().reports.clear();
      seen().disconnects.clear();
      seen().digIns.clear();
      seen().frames.clear();
    }
    setHandlers(true);
  }
  void TearDown() override { DisconnectVexaDevUnity(); }

  // Runs body and returns what it wrote to standard output (the log).
  template <class Body>
  std::string logOf(Body&& body) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  std::vector<Report> reports() {
    std::lock_guard<std::mutex> l(seen().lock);
    return seen().reports;
  }
  // The codes of every report so far, in order.
  std::vector<int> codes() {
    std::vector<int> out;
    for (const Report& r : reports()) out.push_back(r.code);
    return out;
  }
};

}  // namespace vexa_unity_test

#endif  // VEXA_UNITY_TESTS_HOST_H_
