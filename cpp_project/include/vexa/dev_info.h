/// @file
/// One device found by a search.
#ifndef VEXA_DEV_INFO_H_
#define VEXA_DEV_INFO_H_

#include <string>

namespace Vexa {

/// One device found by a search: the path to connect to, and its name.
struct DevInfo {
  std::string path;         ///< what BaseDev's constructor takes: "BTH", "BLE" or "USB" and the address or adapter number
  std::string description;  ///< the name the device or adapter reports
};

}  // namespace Vexa

#endif  // VEXA_DEV_INFO_H_
