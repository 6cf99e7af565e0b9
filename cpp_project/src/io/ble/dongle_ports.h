// Where the BLE dongle may be: the serial ports, as COM opens them, that
// look like the dongle, in the order to try them. The platform lists them
// (by friendly name on Windows, by USB identity on Linux); tests replace
// the list to offer a pseudo-terminal.
#ifndef VEXA_SRC_IO_BLE_DONGLE_PORTS_H_
#define VEXA_SRC_IO_BLE_DONGLE_PORTS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Vexa {

using DonglePortLister = std::function<std::vector<std::string>()>;

// The candidates: from the lister set below, else from the platform. A
// lister that fails counts as an empty list.
std::vector<std::string> donglePorts();

// Replaces the lister and returns the one in force; an empty one restores
// the platform's. Not synchronised: set it while no search or connection
// runs.
DonglePortLister setDonglePortLister(DonglePortLister lister);

// The platform's list (dongle_ports_linux.cpp, dongle_ports_win.cpp).
std::vector<std::string> listDonglePorts();

// The dongle's USB identity and the name its driver gives its port.
constexpr uint16_t kDongleVendorId = 0x2458;
constexpr uint16_t kDongleProductId = 0x0001;
constexpr char kDongleDescription[] = "Bluegiga Bluetooth Low Energy";

// A port's friendly name split as "description (port)": both parts trimmed
// of blanks; the port runs to ")" or to the end. nullopt without "(".
struct PortFriendlyName {
  std::string description;
  std::string port;
};
std::optional<PortFriendlyName> splitFriendlyName(const std::string& friendlyName);

// Linux builds: the ttys under sysClassTty (normally /sys/class/tty) whose USB device has
// the given identity, as "COM/dev/<tty>", by name.
std::vector<std::string> usbTtyPorts(const std::string& sysClassTty, uint16_t vendor, uint16_t product);

}  // namespace Vexa

#endif  // VEXA_SRC_IO_BLE_DONGLE_PORTS_H_
