// A test host: handlers that record what the plug-in reports, and the log
// captured from standard output.
#ifndef VEXA_UNITY_TESTS_HOST_H_
#define VEXA_UNITY_TESTS_HOST_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "current_device.h"
#include "vexa_unity_interface.h"

namespace vexa_unity_test {

struct Report {
  int code;
  std::string message;
};

struct DigIn {
  int clockSource, clockValue, input;
  bool state;
  bool operator==(const DigIn& o) const {
    return clockSource == o.clockSource && clockValue == o.clockValue && input == o.input && state == o.state;
  }
};

// What the handlers saw; one per process, reset by each test's host.
struct Seen {
  std::mutex lock;
  std::vector<Report> reports;
  std::vector<std::string> devices;
  std::vector<int> disconnects;
  std::vector<DigIn> digIns;
  std::vector<std::pair<int, std::vector<int>>> frames;
};

inline Seen& seen() {
  static Seen s;
  return s;
}

inline void onException(int code, const char* message) {
  std::lock_guard<std::mutex> l(seen().lock);
  seen().reports.push_back({code, message});
}
// The handlers run on the loop's thread while a test watches from its own.
inline void onDevice(const char* path) {
  std::lock_guard<std::mutex> l(seen().lock);
  seen().devices.push_back(path);
}
inline void onDisconnect(int reason) {
  std::lock_guard<std::mutex> l(seen().lock);
  seen().disconnects.push_back(reason);
}
inline void onDigIn(int a, int b, int c, bool d) {
  std::lock_guard<std::mutex> l(seen().lock);
  seen().digIns.push_back({a, b, c, d});
}
inline void onFrame(int nSeq, const int* samples, int n) {
  std::lock_guard<std::mutex> l(seen().lock);
  seen().frames.emplace_back(nSeq, std::vector<int>(samples, samples + n));
}

// Registers the recording handlers and releases any device at the end.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> l(seen().lock);
    seen().reports.clear();
    seen().devices.clear();
    seen().disconnects.clear();
    seen().digIns.clear();
    seen().frames.clear();
    SetOnExceptionRaisedHandler(onException);
    SetNewDeviceFoundHandler(onDevice);
    SetOnEventDetectedHandlers(onDisconnect, onDigIn);
    SetOnRawDataHandler(onFrame);
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
};

}  // namespace vexa_unity_test

#endif  // VEXA_UNITY_TESTS_HOST_H_
