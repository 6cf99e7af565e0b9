/// @file
/// The device generations the library speaks to.
#ifndef VEXA_DEVICE_FAMILY_H_
#define VEXA_DEVICE_FAMILY_H_

#include <cstdint>

namespace Vexa {

/// The family the version handshake found; every operation that differs
/// between protocols branches on it. The values are the device's own codes.
enum class DeviceFamily : int32_t {
  kOldest = 0,        ///< ASCII commands and CRC-8 frames ("Cadrium")
  kCurrent = 1,       ///< framed messages
  kCurrentPaced = 2,  ///< framed messages; commands paced over Bluetooth (product 0x020A)
  kCompactBoard = 3,  ///< single-byte commands and CRC-4 frames ("Quillbox")
  kCurrentScaled = 4, ///< framed messages with its own battery scale (products 0x0502, 0x0801 to 0x0803)
};

/// True for the two families that stream fixed-size frames instead of
/// messages.
constexpr bool isLegacy(DeviceFamily family) {
  return family == DeviceFamily::kOldest || family == DeviceFamily::kCompactBoard;
}

}  // namespace Vexa

#endif  // VEXA_DEVICE_FAMILY_H_
