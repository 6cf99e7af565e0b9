// The one family of failures the device library throws. Errors mean the
// caller asked for something invalid or impossible; notifications mean the
// environment or the device let us down. Every object records where it was
// thrown and may carry a detail: the cause as the system gave it (an OS
// error text, an adapter library's status), for people, not for programs.
#ifndef VEXA_EXCEPTIONS_H_
#define VEXA_EXCEPTIONS_H_

#include <cstdint>
#include <string>

namespace Vexa {

// "file:line (function)\n", cut to 999 characters so an oversized path can
// never overrun the formatting buffer.
std::string formatLocation(const char* file, int line, const char* function);
std::string formatLocation(const char* file, int line, const std::string& function);

// The qualified name of a function from the compiler's full signature:
// "uint16_t Vexa::BaseDev::X::sendCommand(const uint8_t*, uint16_t, bool)"
// gives "Vexa::BaseDev::X::sendCommand"; a lambda gives its function's name.
std::string functionName(const char* signature);

class Exception {
 public:
  explicit Exception(std::string location) : location_(std::move(location)) {}
  virtual ~Exception() = default;
  /// The fixed text of this kind of failure. Never throws.
  virtual std::string getDescription() const;
  /// "file:line (function)\n" of the throw.
  const std::string& location() const { return location_; }
  /// The cause as the system reported it ("open /dev/ttyS0: Permission
  /// denied (errno 13)"), or "" when there is none to add.
  const std::string& detail() const { return detail_; }
  void setDetail(std::string detail) { detail_ = std::move(detail); }

 private:
  std::string location_;
  std::string detail_;
};

class ErrorException : public Exception {
 public:
  using Exception::Exception;
};

class NotifException : public Exception {
 public:
  using Exception::Exception;
};

namespace Error {

class InvalidParameter : public ErrorException {
 public:
  using ErrorException::ErrorException;
  std::string getDescription() const override;
};

class InvalidOperation : public ErrorException {
 public:
  InvalidOperation(std::string location, int32_t code)
      : ErrorException(std::move(location)), code(code) {}
  std::string getDescription() const override;
  int32_t code;
};

class NotSupported : public ErrorException {
 public:
  using ErrorException::ErrorException;
  std::string getDescription() const override;
};

class InvalidInstance : public ErrorException {
 public:
  using ErrorException::ErrorException;
  std::string getDescription() const override;
};

class MissingModule : public ErrorException {
 public:
  MissingModule(std::string location, std::string moduleName)
      : ErrorException(std::move(location)), moduleName(std::move(moduleName)) {}
  std::string getDescription() const override;
  std::string moduleName;
};

}  // namespace Error

namespace Notification {

class ContactingDevice : public NotifException {
 public:
  using NotifException::NotifException;
  std::string getDescription() const override;
};

class OpeningPort : public NotifException {
 public:
  using NotifException::NotifException;
  std::string getDescription() const override;
};

class InitializingPort : public NotifException {
 public:
  using NotifException::NotifException;
  std::string getDescription() const override;
};

class AdapterNotFound : public NotifException {
 public:
  using NotifException::NotifException;
  std::string getDescription() const override;
};

class DeviceNotFound : public NotifException {
 public:
  using NotifException::NotifException;
  std::string getDescription() const override;
};

}  // namespace Notification
}  // namespace Vexa

namespace Vexa {

// The exception e with its detail set, for throwing by value in one
// expression.
template <class E>
E withDetail(E e, std::string detail) {
  e.setDetail(std::move(detail));
  return e;
}

}  // namespace Vexa

// Builds the location at the throw site, then throws by value. Extra
// arguments (an error code, a module name) follow the location.
#define VEXA_THROW(Type, function, ...) \
  throw Type(::Vexa::formatLocation(__FILE__, __LINE__, function), ##__VA_ARGS__)

// The same, with the cause as the system gave it.
#define VEXA_THROW_DETAIL(detail, Type, function, ...) \
  throw ::Vexa::withDetail(Type(::Vexa::formatLocation(__FILE__, __LINE__, function), ##__VA_ARGS__), detail)

#endif  // VEXA_EXCEPTIONS_H_
