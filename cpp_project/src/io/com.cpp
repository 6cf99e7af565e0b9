#include "com.h"

namespace Vexa {

COM::COM(const std::string& portName) : COM(portName, LinkRegistry::process().claim(serialLinkKey(portName))) {}

void COM::setRcvTimeout(int timeout) {
  // 0 becomes a 1 ms poll and any negative value 0, the port's "no limit".
  int stored = timeout > 0 ? timeout : (timeout == 0 ? 1 : 0);
  if (stored == rcvTimeout) return;
  applyReadTimeout(stored);  // throws and keeps the old value on failure
  rcvTimeout = stored;
}

}  // namespace Vexa
