#include "io/ble/dongle_ports.h"

namespace Vexa {
namespace {

std::string trimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::optional<PortFriendlyName> splitFriendlyName(const std::string& friendlyName) {
  const size_t open = friendlyName.find('(');
  if (open == std::string::npos) return std::nullopt;
  const size_t close = friendlyName.find(')', open + 1);
  const size_t portEnd = close == std::string::npos ? friendlyName.size() : close;
  return PortFriendlyName{trimBlanks(friendlyName.substr(0, open)),
                          trimBlanks(friendlyName.substr(open + 1, portEnd - open - 1))};
}

}  // namespace Vexa
