#include "vexa/exceptions.h"

#include <cstdio>
#include <cstring>

namespace Vexa {

std::string formatLocation(const char* file, int line, const char* function) {
  char text[1000];
  // snprintf cuts at 999 characters and always terminates.
  std::snprintf(text, sizeof text, "%s:%d (%s)\n", file, line, function);
  return text;
}

std::string formatLocation(const char* file, int line, const std::string& function) {
  return formatLocation(file, line, function.c_str());
}

std::string functionName(const char* signature) {
  std::string text = signature;
  // Unnamed namespaces say nothing a reader can use.
  for (const char* unnamed : {"{anonymous}::", "(anonymous namespace)::"}) {
    for (size_t at; (at = text.find(unnamed)) != std::string::npos;) text.erase(at, std::strlen(unnamed));
  }
  // The name ends at the first parameter list outside any template
  // arguments, and starts after the return type's last space before it.
  int depth = 0;
  size_t start = 0, end = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' || c == '[') {
      ++depth;
    } else if ((c == '>' || c == ']') && depth > 0) {
      --depth;
    } else if (depth == 0 && c == ' ') {
      start = i + 1;
    } else if (depth == 0 && c == '(') {
      const bool callOperator = i >= 8 && text.compare(i - 8, 8, "operator") == 0 && text.compare(i, 2, "()") == 0;
      if (!callOperator) {
        end = i;
        break;
      }
      ++i;  // the "()" is part of the operator's name
    }
  }
  // Clang writes a returned pointer or reference against the name.
  while (start < end && (text[start] == '*' || text[start] == '&')) ++start;
  return text.substr(start, end - start);
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

std::string Cancelled::getDescription() const { return "The operation was cancelled."; }

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
