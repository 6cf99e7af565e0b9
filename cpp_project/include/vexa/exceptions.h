/// @file
/// The one family of failures the device library throws. Errors mean the
/// caller asked for something invalid or impossible; notifications mean the
/// environment or the device let us down. Every object records where it was
/// thrown and may carry a detail: the cause as the system gave it (an OS
/// error text, an adapter library's status), for people, not for programs.
/// Everything is thrown by value; catch by reference.
#ifndef VEXA_EXCEPTIONS_H_
#define VEXA_EXCEPTIONS_H_

#include <cstdint>
#include <string>

namespace Vexa {

/// "file:line (function)\n", cut to 999 characters so an oversized path can
/// never overrun the formatting buffer.
std::string formatLocation(const char* file, int line, const char* function);
/// The same, for a name built at run time.
std::string formatLocation(const char* file, int line, const std::string& function);

/// The qualified name of a function from the compiler's full signature:
/// "uint16_t Vexa::BaseDev::X::sendCommand(const uint8_t*, uint16_t, bool)"
/// gives "Vexa::BaseDev::X::sendCommand"; a lambda gives its function's name.
std::string functionName(const char* signature);

/// The root of every failure the library throws; thrown itself only for a
/// failed Bluetooth classic search.
class Exception {
 public:
  /// location is the text formatLocation() made at the throw site.
  explicit Exception(std::string location) : location_(std::move(location)) {}
  virtual ~Exception() = default;
  /// The fixed text of this kind of failure ("Generic VEXA exception." for
  /// the roots). Never throws, except by running out of memory.
  virtual std::string getDescription() const;
  /// "file:line (function)\n" of the throw.
  const std::string& location() const { return location_; }
  /// The cause as the system reported it ("open /dev/ttyS0: Permission
  /// denied (errno 13)"), or "" when there is none to add.
  const std::string& detail() const { return detail_; }
  /// Attaches the system's cause; see withDetail().
  void setDetail(std::string detail) { detail_ = std::move(detail); }

 private:
  std::string location_;
  std::string detail_;
};

/// The caller asked for something invalid, unsupported or impossible in
/// the device's state, or a run-time library is missing.
class ErrorException : public Exception {
 public:
  using Exception::Exception;
};

/// The environment or the device failed: a port, an adapter, the device,
/// the communication.
class NotifException : public Exception {
 public:
  using Exception::Exception;
};

/// The failures of the caller's request.
namespace Error {

/// An argument out of range or malformed.
class InvalidParameter : public ErrorException {
 public:
  using ErrorException::ErrorException;
  /// "Invalid parameter."
  std::string getDescription() const override;
};

/// Not possible in the current state (a loop already runs, no acquisition
/// to stop, ...; code 0), or refused by the device (code = the device's
/// error byte).
class InvalidOperation : public ErrorException {
 public:
  /// location as for Exception; code: 0, or the device's error byte.
  InvalidOperation(std::string location, int32_t code)
      : ErrorException(std::move(location)), code(code) {}
  /// "Invalid operation on current device state (code N)." with the code.
  std::string getDescription() const override;
  int32_t code;  ///< 0 for the library's own state errors, else the device's error byte
};

/// Not available for this device family or product.
class NotSupported : public ErrorException {
 public:
  using ErrorException::ErrorException;
  /// "Operation not supported by the device."
  std::string getDescription() const override;
};

/// A device object without its implementation.
class InvalidInstance : public ErrorException {
 public:
  using ErrorException::ErrorException;
  /// "The object instance is invalid."
  std::string getDescription() const override;
};

/// A library loaded at run time (the USB adapter's), or one of its
/// functions, is missing.
class MissingModule : public ErrorException {
 public:
  /// location as for Exception; moduleName names the missing library.
  MissingModule(std::string location, std::string moduleName)
      : ErrorException(std::move(location)), moduleName(std::move(moduleName)) {}
  /// "The API module NAME is missing or invalid." with the module's name.
  std::string getDescription() const override;
  std::string moduleName;  ///< the library's file name
};

/// The caller ended the call early from another thread (a connect or a
/// search inside a CancelScope, see vexa/cancel.h).
class Cancelled : public ErrorException {
 public:
  using ErrorException::ErrorException;
  /// "The operation was cancelled."
  std::string getDescription() const override;
};

}  // namespace Error

/// The failures of the environment and the device.
namespace Notification {

/// No answer, an answer where none belongs, malformed data, or a broken
/// link.
class ContactingDevice : public NotifException {
 public:
  using NotifException::NotifException;
  /// "The communication with the device was lost."
  std::string getDescription() const override;
};

/// The port does not exist, is in use, or refuses the connection.
class OpeningPort : public NotifException {
 public:
  using NotifException::NotifException;
  /// "The communication port does not exist or it is already being used."
  std::string getDescription() const override;
};

/// The link is open already in this process (the same port, Bluetooth
/// device or USB adapter under another spelling of its path), or every BLE
/// dongle is taken by another link; the detail says which.
class LinkInUse : public OpeningPort {
 public:
  using OpeningPort::OpeningPort;
};

/// The port or adapter opened but cannot be set up.
class InitializingPort : public NotifException {
 public:
  using NotifException::NotifException;
  /// "The communication port could not be initialized."
  std::string getDescription() const override;
};

/// No Bluetooth adapter, or no BLE dongle.
class AdapterNotFound : public NotifException {
 public:
  using NotifException::NotifException;
  /// "No Bluetooth adapter was found."
  std::string getDescription() const override;
};

/// The addressed device does not answer the connection.
class DeviceNotFound : public NotifException {
 public:
  using NotifException::NotifException;
  /// "The device could not be found."
  std::string getDescription() const override;
};

}  // namespace Notification
}  // namespace Vexa

namespace Vexa {

/// The exception e with its detail set, for throwing by value in one
/// expression.
template <class E>
E withDetail(E e, std::string detail) {
  e.setDetail(std::move(detail));
  return e;
}

}  // namespace Vexa

/// The location of the throw site: file, line and the enclosing function's
/// qualified name, as the compiler knows it.
#define VEXA_HERE ::Vexa::formatLocation(__FILE__, __LINE__, ::Vexa::functionName(__PRETTY_FUNCTION__))

/// Throws Type by value with the location of the throw site. Extra
/// arguments (an error code, a module name) follow the location.
#define VEXA_THROW(Type, ...) throw Type(VEXA_HERE, ##__VA_ARGS__)

/// The same, naming function instead: for helpers that fail on behalf of
/// their caller.
#define VEXA_THROW_AT(Type, function, ...) \
  throw Type(::Vexa::formatLocation(__FILE__, __LINE__, function), ##__VA_ARGS__)

/// The same as VEXA_THROW, with the cause as the system gave it.
#define VEXA_THROW_DETAIL(Type, detail, ...) throw ::Vexa::withDetail(Type(VEXA_HERE, ##__VA_ARGS__), detail)

/// The same, naming function instead.
#define VEXA_THROW_DETAIL_AT(Type, function, detail, ...) \
  throw ::Vexa::withDetail(Type(::Vexa::formatLocation(__FILE__, __LINE__, function), ##__VA_ARGS__), detail)

#endif  // VEXA_EXCEPTIONS_H_
