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

// Formats the report into the calling thread's buffer, writes it to the
// log and calls the host's handler. text is null for failures of unknown
// kind; cause is what the system said, kept as the thread's last detail
// before the handler runs, so that the handler can read it.
void report(const ExportCodes& codes, FailureKind kind, const char* text, const std::string& cause = "");
// StartLoop's own report of the library's failures: the bare description,
// no log line.
void reportBare(int code, const Exception& e);

// The detail of the last failure reported on the calling thread ("" when it
// had none); valid until the next one.
const char* lastFailureDetail();
// Keeps cause as the calling thread's last detail, for failures that the
// exports without a report swallow.
void rememberFailure(const std::string& cause);

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
    report(codes, FailureKind::kNotification, e.getDescription().c_str(), e.detail());
  } catch (const ErrorException& e) {
    report(codes, FailureKind::kError, e.getDescription().c_str(), e.detail());
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
