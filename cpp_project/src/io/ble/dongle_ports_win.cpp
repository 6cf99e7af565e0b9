// Windows: the dongle's driver names its port "Bluegiga Bluetooth Low
// Energy (COMn)"; the Setup API lists the present ports by friendly name.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <algorithm>

#include "io/ble/dongle_ports.h"

namespace Vexa {
namespace {

// The device class of serial and parallel ports.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Owns a Setup API device list.
class DeviceList {
 public:
  DeviceList() : set_(SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT)) {}
  ~DeviceList() {
    if (valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

}  // namespace

std::vector<std::string> listDonglePorts() {
  std::vector<std::string> ports;
  DeviceList list;
  if (!list.valid()) return ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(list.get(), i, &device); ++i) {
    char name[100];
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(list.get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(name), sizeof name - 1, &size)) {
      continue;
    }
    name[std::min<DWORD>(size, sizeof name - 1)] = '\0';  // the registry may omit it
    std::optional<PortFriendlyName> parts = splitFriendlyName(name);
    if (parts && parts->description == kDongleDescription) ports.push_back(parts->port);
  }
  return ports;
}

}  // namespace Vexa
