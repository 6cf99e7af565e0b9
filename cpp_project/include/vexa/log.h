/// @file
/// The library's debug log: messages with a level, sent to one handler the
/// host sets. Off until a handler is set.
#ifndef VEXA_LOG_H_
#define VEXA_LOG_H_

#include <string>

namespace Vexa {

/// Severity of a log message; a handler receives the levels up to the one
/// it asked for.
enum class LogLevel : int {
  kOff = 0,      ///< the log is off
  kError = 1,    ///< failures
  kWarning = 2,  ///< problems met on the way
  kInfo = 3,     ///< progress
  kDebug = 4     ///< detail for finding faults
};

/// Receives one log message. May be called on any of the library's threads
/// (the loop's, a search's, the caller's); message is valid only during the
/// call. An exception it throws is dropped.
using LogHandler = void (*)(LogLevel level, const char* message);

/// Sends messages from kError up to maxLevel to handler; a null handler or
/// LogLevel::kOff turns the log off. Safe to call from any thread. Never
/// throws.
void setLogHandler(LogHandler handler, LogLevel maxLevel);

/// Whether a message at level would reach a handler, so that callers can
/// skip building it.
bool logEnabled(LogLevel level);

/// Hands message to the handler when level is enabled. Never throws.
void logMessage(LogLevel level, const std::string& message);

}  // namespace Vexa

#endif  // VEXA_LOG_H_
