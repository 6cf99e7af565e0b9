#include "report.h"

#include <cstdio>
#include <cstring>

#include "host_handlers.h"

namespace Vexa {
namespace Unity {
namespace {

constexpr int kVersion = 20220517;
// Each report overwrites the last; the host copies it during its callback.
char errorMessageBuffer[200];

}  // namespace

const char* baseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

void report(const ExportCodes& codes, FailureKind kind, const char* detail) {
  const char* file = interfaceFileName();
  int code = -1;
  // snprintf cuts a long report to the buffer, never past it.
  switch (kind) {
    case FailureKind::kNotification:
      code = codes.notification;
      std::snprintf(errorMessageBuffer, sizeof errorMessageBuffer,
                    "VEXA Notification Exception at line number %d in file %s (v%d): %s\n", codes.notificationLine, file,
                    kVersion, detail);
      break;
    case FailureKind::kError:
      code = codes.error;
      std::snprintf(errorMessageBuffer, sizeof errorMessageBuffer,
                    "VEXA Error Exception at line number %d in file %s (v%d): %s\n", codes.errorLine, file, kVersion,
                    detail);
      break;
    case FailureKind::kStandard:
      code = codes.standard;
      std::snprintf(errorMessageBuffer, sizeof errorMessageBuffer,
                    "C++ Exception at line number %d in file %s (v%d): %s\n", codes.standardLine, file, kVersion,
                    detail);
      break;
    case FailureKind::kOther:
      std::snprintf(errorMessageBuffer, sizeof errorMessageBuffer,
                    "Not recognized exception at line number %d in file %s (v%d).\n", codes.otherLine, file, kVersion);
      break;
  }
  std::fputs(errorMessageBuffer, stdout);  // verbatim: a % in the text stays
  callHandler(handlers().exceptionRaised, code, static_cast<const char*>(errorMessageBuffer));
}

void reportBare(int code, const std::string& description) {
  callHandler(handlers().exceptionRaised, code, description.c_str());
}

}  // namespace Unity
}  // namespace Vexa
