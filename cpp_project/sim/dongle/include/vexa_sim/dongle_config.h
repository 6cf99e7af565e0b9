// What a simulated BLE dongle hears and what its remote device offers.
#ifndef VEXA_SIM_DONGLE_CONFIG_H_
#define VEXA_SIM_DONGLE_CONFIG_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa_sim {

// A device address written most significant byte first, as in "BLE00:07:…".
using BleAddress = std::array<uint8_t, 6>;

// Packet types of the scan-response event.
constexpr uint8_t kConnectableAdvertisement = 0;
constexpr uint8_t kScanResponse = 4;

struct Advertisement {
  BleAddress address{};
  std::vector<uint8_t> data;  // advertising data, exactly as sent
  uint8_t packetType = kScanResponse;
};

// A packet whose data is one complete-local-name structure.
Advertisement namedAdvertisement(const BleAddress& address, const std::string& name,
                                 uint8_t packetType = kScanResponse);

// Which parts of the device's GATT database exist.
struct GattShape {
  bool service = true;
  bool commandCharacteristic = true;
  bool dataCharacteristic = true;
};

struct DongleConfig {
  // Played in turn, one every interval, for as long as a scan runs.
  std::vector<Advertisement> advertisements;
  std::chrono::milliseconds advertisingInterval{2};
  // The one address that accepts a connection; others never answer.
  BleAddress deviceAddress = {0x00, 0x07, 0x80, 0x4C, 0x1E, 0x01};
  GattShape gatt;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_DONGLE_CONFIG_H_
