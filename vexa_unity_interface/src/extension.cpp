// The interface's extension exports (prefix VexaExt): what the 28 original
// exports have no room for.
#include <atomic>

#include "report.h"
#include "vexa/log.h"
#include "vexa/version.h"
#include "vexa_unity_interface.h"

namespace {

std::atomic<VexaExtLogHandler> hostLogHandler{nullptr};

// The library's handler takes its own level type; the host's takes an int.
void forwardToHost(Vexa::LogLevel level, const char* message) {
  VexaExtLogHandler handler = hostLogHandler.load();
  if (handler != nullptr) handler(static_cast<int>(level), message);
}

}  // namespace

extern "C" {

VEXA_UNITY_API const char* VexaExtGetLastErrorDetail(void) { return Vexa::Unity::lastFailureDetail(); }

VEXA_UNITY_API void VexaExtSetLogHandler(VexaExtLogHandler handler, int maxLevel) {
  const int level = maxLevel < VEXA_EXT_LOG_OFF ? VEXA_EXT_LOG_OFF
                    : maxLevel > VEXA_EXT_LOG_DEBUG ? VEXA_EXT_LOG_DEBUG
                                                    : maxLevel;
  hostLogHandler = handler;
  Vexa::setLogHandler(handler != nullptr ? forwardToHost : nullptr, static_cast<Vexa::LogLevel>(level));
}

VEXA_UNITY_API const char* VexaExtGetVersion(void) { return VEXA_VERSION_STRING; }

}  // extern "C"
