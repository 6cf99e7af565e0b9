// The catch-and-report wrapper of the exported functions: whatever a body
// throws becomes one log line and one call of the host's exception handler
// with the export's own code; nothing reaches the host as a fault.
#ifndef VEXA_UNITY_REPORT_H_
#define VEXA_UNITY_REPORT_H_

#include <atomic>
#include <exception>

#include "vexa/exceptions.h"

namespace Vexa {
namespace Unity {

// Code and log line number of each kind of failure of one export.
struct ExportCodes {
  int notification, notificationLine;
  int error, errorLine;
  int standard, standardLine;
  int otherLine;  // reported with code -1
};

enum class FailureKind { kNotification, kError, kStandard, kOther };

// Formats the report into the shared buffer, writes it to the log and calls
// the host's handler. detail is null for failures of unknown kind.
void report(const ExportCodes& codes, FailureKind kind, const char* detail);
// StartLoop's own report of the library's failures: the bare description,
// no log line.
void reportBare(int code, const std::string& description);

// When set, every wrapped export calls it first, inside its wrapper, so a
// test can drive each kind of failure through each export's own report.
// Null in normal use.
extern std::atomic<void (*)()> failureInjector;

inline void injectFailure() {
  if (void (*inject)() = failureInjector.load()) inject();
}

template <class Body>
void reported(const ExportCodes& codes, Body&& body) {
  try {
    injectFailure();
    body();
  } catch (const NotifException& e) {
    report(codes, FailureKind::kNotification, e.getDescription().c_str());
  } catch (const ErrorException& e) {
    report(codes, FailureKind::kError, e.getDescription().c_str());
  } catch (const std::exception& e) {
    report(codes, FailureKind::kStandard, e.what());
  } catch (...) {
    report(codes, FailureKind::kOther, nullptr);
  }
}

// The base name of a source path: after its last slash or backslash.
const char* baseName(const char* path);
// The base name of the exports' source file, which every report names.
const char* interfaceFileName();

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_REPORT_H_
