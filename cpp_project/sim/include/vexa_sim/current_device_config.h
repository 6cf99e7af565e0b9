// What a simulated current-generation device reports about itself.
#ifndef VEXA_SIM_CURRENT_DEVICE_CONFIG_H_
#define VEXA_SIM_CURRENT_DEVICE_CONFIG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vexa_sim {

constexpr uint16_t kNoHwVersion = 0xFFFF;

struct CurrentDeviceConfig {
  std::string description = "tessarimodular";  // payload of the 'V' reply
  uint16_t productId = 0x0201;
  uint16_t fwVersion = 0x0304;
  uint16_t hwVersion = 0x0102;  // kNoHwVersion: the device has none
  std::vector<uint8_t> uid = {0x00, 0x12, 0xAB, 0xFF};
  uint8_t color = 2;
  uint16_t batteryRaw = 1700;
  // Ticks of the base rate per data frame; 0 picks about 10 ms worth.
  int ticksPerFrame = 0;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_CURRENT_DEVICE_CONFIG_H_
