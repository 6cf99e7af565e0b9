#include "report.h"

#include <cstdio>
#include <cstring>

#include "host_handlers.h"
#include "vexa/log.h"

namespace Vexa {
namespace Unity {
namespace {

constexpr int kVersion = 20220517;
// Each report overwrites the last of its thread; the host copies it during
// its callback. One per thread, so that two failures at once never garble
// each other's text.
thread_local char errorMessageBuffer[200];
thread_local std::string lastDetail;

}  // namespace

std::atomic<void (*)()> failureInjector{nullptr};

const char* baseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

const char* lastFailureDetail() { return lastDetail.c_str(); }

void rememberFailure(const std::string& cause) { lastDetail = cause; }

namespace {

// One debug-log line per failure: the report's text, then its cause.
void logFailure(std::string text, const std::string& cause) {
  if (!logEnabled(LogLevel::kError)) return;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  logMessage(LogLevel::kError, cause.empty() ? text : text + " Cause: " + cause);
}

}  // namespace

void report(const ExportCodes& codes, FailureKind kind, const char* text, const std::string& cause) {
  struct Clause {
    const char* format;
    int code, line;
  };
  const Clause clause = [&codes, kind]() -> Clause {
    switch (kind) {
      case FailureKind::kNotification:
        return {"VEXA Notification Exception at line number %d in file %s (v%d): %s\n", codes.notification,
                codes.notificationLine};
      case FailureKind::kError:
        return {"VEXA Error Exception at line number %d in file %s (v%d): %s\n", codes.error, codes.errorLine};
      case FailureKind::kStandard:
        return {"C++ Exception at line number %d in file %s (v%d): %s\n", codes.standard, codes.standardLine};
      case FailureKind::kOther:
        break;
    }
    return {"Not recognized exception at line number %d in file %s (v%d).\n", -1, codes.otherLine};
  }();
  // snprintf cuts a long report to the buffer, never past it; the last
  // format has no place for the detail and ignores it.
  std::snprintf(errorMessageBuffer, sizeof errorMessageBuffer, clause.format, clause.line, interfaceFileName(),
                kVersion, text != nullptr ? text : "");
  std::fputs(errorMessageBuffer, stdout);  // verbatim: a % in the text stays
  rememberFailure(cause);
  logFailure(errorMessageBuffer, cause);
  callHandler(handlers().exceptionRaised, clause.code, static_cast<const char*>(errorMessageBuffer));
}

void reportBare(int code, const Exception& e) {
  rememberFailure(e.detail());
  const std::string description = e.getDescription();
  logFailure(description, e.detail());
  callHandler(handlers().exceptionRaised, code, description.c_str());
}

}  // namespace Unity
}  // namespace Vexa
