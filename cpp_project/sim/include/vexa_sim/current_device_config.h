// What a simulated current-generation device reports about itself.
#ifndef VEXA_SIM_CURRENT_DEVICE_CONFIG_H_
#define VEXA_SIM_CURRENT_DEVICE_CONFIG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexa_sim {

constexpr uint16_t kNoHwVersion = 0xFFFF;

// What the data frames carry.
enum class SignalKind {
  kPattern,  // samplePattern on every channel
  // Channels 0 and 1 of port 1 carry the low and high 16 bits of the
  // microseconds of Vexa::hostTime() at which the tick was due (rounded
  // down; the 32 bits wrap every 71.6 minutes); the rest samplePattern.
  kClock,
};

// Bounds of the clock's faults.
constexpr double kMaxClockPpm = 10000;  // 1 %
constexpr double kMaxJitterMs = 1000;
// Delivery stops for jitterMs every this long of an acquisition.
constexpr double kStallPeriodSeconds = 2.0;

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
  // The device's crystal runs this many ppm fast (negative: slow): tick k of
  // an acquisition at rate R is due k / (R * (1 + clockPpm / 1e6)) seconds
  // after its start. At most kMaxClockPpm either way.
  double clockPpm = 0;
  // Each message is held back by a delay drawn uniformly from 0 to jitterMs
  // milliseconds (a data frame from the moment its last tick was due), but
  // never overtakes an earlier one; every kStallPeriodSeconds of an
  // acquisition delivery also stops for jitterMs and then releases what
  // waited. 0 to kMaxJitterMs.
  double jitterMs = 0;
  // Makes those draws repeatable; none: a fresh seed for every device.
  std::optional<uint64_t> seed;
  SignalKind signal = SignalKind::kPattern;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_CURRENT_DEVICE_CONFIG_H_
