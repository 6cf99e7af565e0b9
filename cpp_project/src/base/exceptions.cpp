#include "vexa/exceptions.h"

#include <cstdio>

namespace Vexa {

std::string formatLocation(const char* file, int line, const char* function) {
  char text[1000];
  // snprintf cuts at 999 characters and always terminates.
  std::snprintf(text, sizeof text, "%s:%d (%s)\n", file, line, function);
  return text;
}

std::string Exception::getDescription() const { return "Generic VEXA exception."; }

namespace Error {

std::string InvalidParameter::getDescription() const { return "Invalid parameter."; }

std::string InvalidOperation::getDescription() const {
  return "Invalid operation on current device state (code " + std::to_string(code) + ").";
}

std::string NotSupported::getDescription() const {
  return "Operation not supported by the device.";
}

std::string InvalidInstance::getDescription() const {
  return "The object instance is invalid.";
}

std::string MissingModule::getDescription() const {
  return "The API module " + moduleName + " is missing or invalid.";
}

}  // namespace Error

namespace Notification {

std::string ContactingDevice::getDescription() const {
  return "The communication with the device was lost.";
}

std::string OpeningPort::getDescription() const {
  return "The communication port does not exist or it is already being used.";
}

std::string InitializingPort::getDescription() const {
  return "The communication port could not be initialized.";
}

std::string AdapterNotFound::getDescription() const { return "No Bluetooth adapter was found."; }

std::string DeviceNotFound::getDescription() const { return "The device could not be found."; }

}  // namespace Notification
}  // namespace Vexa
