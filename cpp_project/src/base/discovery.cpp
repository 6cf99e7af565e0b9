// Lists the devices that can be connected, on one kind of link or on all.
#include <cctype>

#include "io/ble/ble.h"
#include "io/bth/bth.h"
#include "io/usb/usb.h"
#include "vexa/base_dev.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

std::string upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::vector<DevInfo> findBluetooth() { return BTH::findDevices(); }
std::vector<DevInfo> findBle() { return BLE::findDevices(); }
std::vector<DevInfo> findUsb() { return USB::findDevices(); }

}  // namespace

std::vector<DevInfo> BaseDev::findDevices(const std::string& domain) {
  if (!domain.empty()) {
    const std::string name = upper(domain);
    if (name == "BTH") return findBluetooth();
    if (name == "BLE") return findBle();
    if (name == "USB") return findUsb();
    VEXA_THROW(Error::InvalidParameter);
  }
  std::vector<DevInfo> found;
  try {
    found = findBluetooth();
  } catch (const Notification::AdapterNotFound&) {
  }
  try {
    std::vector<DevInfo> ble = findBle();
    found.insert(found.end(), ble.begin(), ble.end());
  } catch (const Notification::AdapterNotFound&) {
  }
  try {
    std::vector<DevInfo> usb = findUsb();
    found.insert(found.end(), usb.begin(), usb.end());
  } catch (const Error::MissingModule&) {
  }
  return found;
}

}  // namespace Vexa
