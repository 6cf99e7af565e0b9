// The BGAPI messages the BLE transport exchanges with the dongle: framing
// constants, the device's GATT identifiers and the commands it sends.
#ifndef VEXA_SRC_IO_BLE_BGAPI_H_
#define VEXA_SRC_IO_BLE_BGAPI_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Vexa {
namespace bgapi {

using Bytes = std::vector<uint8_t>;
// A device address as on the wire: least significant byte first.
using Address = std::array<uint8_t, 6>;
// A 128-bit UUID as on the wire: least significant byte first.
using Uuid = std::array<uint8_t, 16>;

// Header: type, payload length, class, identifier.
constexpr int kHeaderSize = 4;
constexpr int kMaxPayload = 255;
constexpr uint8_t kResponseType = 0x00;  // commands use it too
constexpr uint8_t kEventType = 0x80;

constexpr uint8_t kClassSystem = 0;
constexpr uint8_t kClassConnection = 3;
constexpr uint8_t kClassAttClient = 4;
constexpr uint8_t kClassGap = 6;

// Most value bytes one attribute write or notification carries.
constexpr int kMaxAttributeValue = 20;

inline constexpr Uuid kServiceUuid = {0x34, 0x22, 0x65, 0x7E, 0x71, 0x0B, 0xD0, 0xA6,
                                      0x1B, 0x4E, 0x82, 0x08, 0x8A, 0x48, 0x66, 0xC5};
inline constexpr Uuid kCommandCharUuid = {0xEA, 0xFC, 0x93, 0x41, 0x8F, 0xA4, 0x30, 0x87,
                                          0x74, 0x4C, 0x0A, 0xBF, 0x11, 0xEB, 0x51, 0x40};
inline constexpr Uuid kDataCharUuid = {0x33, 0x36, 0xFF, 0xAD, 0x29, 0xE5, 0x8A, 0x80,
                                       0xC4, 0x47, 0x2E, 0x67, 0x6B, 0xBA, 0xFD, 0x40};

// Client characteristic configuration values, low byte first.
constexpr uint16_t kEnableNotifications = 0x0001;
constexpr uint16_t kEnableIndications = 0x0002;

Bytes systemReset();
Bytes endProcedure();
Bytes setScanParameters();
Bytes discoverGeneric();
Bytes connectDirect(const Address& address);
Bytes readPrimaryServices(uint8_t connection);
Bytes findInformation(uint8_t connection, uint16_t start, uint16_t end);
// n must be 0..kMaxAttributeValue.
Bytes attributeWrite(uint8_t connection, uint16_t handle, const uint8_t* data, int n);
Bytes disconnect(uint8_t connection);

// "BLE" and the address, most significant byte first, as 20 characters.
std::string pathOf(const Address& address);
// Reads "BLE" (any case, optional) and six hexadecimal numbers joined by
// ':', each number giving its low 8 bits, the first the most significant.
// False when the text is anything else.
bool parsePath(const std::string& path, Address& address);

}  // namespace bgapi
}  // namespace Vexa

#endif  // VEXA_SRC_IO_BLE_BGAPI_H_
