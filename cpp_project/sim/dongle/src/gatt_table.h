// The remote device's GATT database as the dongle's discovery reports it.
#ifndef VEXA_SIM_DONGLE_GATT_TABLE_H_
#define VEXA_SIM_DONGLE_GATT_TABLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vexa_sim/dongle_config.h"

namespace vexa_sim {

struct GattAttribute {
  uint16_t handle;
  std::vector<uint8_t> uuid;  // wire order: 2 or 16 bytes
};

struct GattService {
  uint16_t start;
  uint16_t end;
  std::vector<uint8_t> uuid;
};

// "c566488a-0882-…" to the 16 bytes sent on the wire, least significant
// first.
std::vector<uint8_t> uuidWireBytes(const std::string& text);

std::vector<GattService> gattServices(const GattShape& shape);
std::vector<GattAttribute> gattAttributes(const GattShape& shape);

}  // namespace vexa_sim

#endif  // VEXA_SIM_DONGLE_GATT_TABLE_H_
