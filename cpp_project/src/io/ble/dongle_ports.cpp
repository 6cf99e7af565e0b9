#include "io/ble/dongle_ports.h"

#include <exception>
#include <utility>

namespace Vexa {
namespace {

// The one replaceable hook; empty means the platform's list.
DonglePortLister& lister() {
  static DonglePortLister instance;
  return instance;
}

}  // namespace

std::vector<std::string> donglePorts() {
  try {
    return lister() ? lister()() : listDonglePorts();
  } catch (const std::exception&) {
    return {};  // a list that cannot be had holds no dongle
  }
}

DonglePortLister setDonglePortLister(DonglePortLister replacement) {
  return std::exchange(lister(), std::move(replacement));
}

}  // namespace Vexa
