#ifndef VEXA_DEV_INFO_H_
#define VEXA_DEV_INFO_H_

#include <string>

namespace Vexa {

// One device found by a search: the path to connect to, and its name.
struct DevInfo {
  std::string path;
  std::string description;
};

}  // namespace Vexa

#endif  // VEXA_DEV_INFO_H_
