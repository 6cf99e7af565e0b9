// Bluetooth device addresses as connection paths: "BTH" followed by six
// colon-separated pairs of hexadecimal digits, most significant first.
#ifndef VEXA_SRC_IO_BTH_BTH_ADDRESS_H_
#define VEXA_SRC_IO_BTH_BTH_ADDRESS_H_

#include <cstdint>
#include <optional>
#include <string>

namespace Vexa {
namespace bth {

// The address a path names: an optional "BTH" prefix in any case, then
// XX:XX:XX:XX:XX:XX in either case, optionally in parentheses. nullopt for
// anything else.
std::optional<uint64_t> parseAddress(const std::string& path);

// "BTH0A:1B:2C:3D:4E:5F" for address 0x0A1B2C3D4E5F.
std::string formatPath(uint64_t address);

}  // namespace bth
}  // namespace Vexa

#endif  // VEXA_SRC_IO_BTH_BTH_ADDRESS_H_
