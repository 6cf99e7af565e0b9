// Linux: the dongle is a USB serial device; sysfs tells each tty's USB
// vendor and product.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "io/ble/dongle_ports.h"

namespace Vexa {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute holding a hexadecimal number such as "2458".
std::optional<unsigned long> readHex(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text) || text.size() > 8) return std::nullopt;
  size_t used = 0;
  try {
    unsigned long value = std::stoul(text, &used, 16);
    if (used == text.size()) return value;
  } catch (const std::logic_error&) {
  }
  return std::nullopt;
}

// How far above a tty's device its USB device may sit: the interface's
// parent for ACM ports, one more level for USB-serial adapters.
constexpr int kLevelsUp = 3;

}  // namespace

std::vector<std::string> usbTtyPorts(const std::string& sysClassTty, uint16_t vendor, uint16_t product) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
    fs::path dir = fs::canonical(it->path() / "device", ec);
    if (ec) {
      ec.clear();  // a tty without a device (virtual consoles, ptys)
      continue;
    }
    for (int level = 0; level < kLevelsUp && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
      std::optional<unsigned long> v = readHex(dir / "idVendor");
      if (!v) continue;
      std::optional<unsigned long> p = readHex(dir / "idProduct");
      if (*v == vendor && p && *p == product) names.push_back(it->path().filename().string());
      break;  // the nearest USB device decides
    }
  }
  std::sort(names.begin(), names.end());
  for (std::string& name : names) name = "COM/dev/" + name;
  return names;
}

std::vector<std::string> listDonglePorts() {
  return usbTtyPorts("/sys/class/tty", kDongleVendorId, kDongleProductId);
}

}  // namespace Vexa
