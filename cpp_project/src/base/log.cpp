#include "vexa/log.h"

#include <atomic>

namespace Vexa {
namespace {

std::atomic<LogHandler> logHandler{nullptr};
std::atomic<int> logLevel{static_cast<int>(LogLevel::kOff)};

}  // namespace

void setLogHandler(LogHandler handler, LogLevel maxLevel) {
  logHandler = handler;
  logLevel = static_cast<int>(handler != nullptr ? maxLevel : LogLevel::kOff);
}

bool logEnabled(LogLevel level) {
  return level != LogLevel::kOff && static_cast<int>(level) <= logLevel.load(std::memory_order_relaxed);
}

void logMessage(LogLevel level, const std::string& message) {
  if (!logEnabled(level)) return;
  LogHandler handler = logHandler.load();
  if (handler == nullptr) return;
  try {
    handler(level, message.c_str());
  } catch (...) {
    // A host's handler that throws must not turn a log line into a failure.
  }
}

}  // namespace Vexa
