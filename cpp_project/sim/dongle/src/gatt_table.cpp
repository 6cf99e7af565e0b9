#include "gatt_table.h"

#include <stdexcept>

#include "vexa_sim/dongle_model.h"

namespace vexa_sim {
namespace {

const char kServiceUuid[] = "c566488a-0882-4e1b-a6d0-0b717e652234";
const char kCommandUuid[] = "4051eb11-bf0a-4c74-8730-a48f4193fcea";
const char kDataUuid[] = "40fdba6b-672e-47c4-808a-e529adff3633";

std::vector<uint8_t> uuid16(uint16_t value) {
  return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
}

constexpr uint16_t kPrimaryService = 0x2800;
constexpr uint16_t kCharacteristic = 0x2803;
constexpr uint16_t kClientConfiguration = 0x2902;

}  // namespace

std::vector<uint8_t> uuidWireBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (c != '-') digits += c;
  }
  if (digits.size() != 32) throw std::invalid_argument("not a 128-bit UUID: " + text);
  for (size_t i = 32; i >= 2; i -= 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i - 2, 2), nullptr, 16)));
  }
  return bytes;
}

// Generic access at 1..3, then the device's service at 4..10.
std::vector<GattService> gattServices(const GattShape& shape) {
  std::vector<GattService> services = {{1, 3, uuid16(0x1800)}};
  if (shape.service) services.push_back({4, kDataConfigHandle, uuidWireBytes(kServiceUuid)});
  return services;
}

std::vector<GattAttribute> gattAttributes(const GattShape& shape) {
  std::vector<GattAttribute> table = {
      {1, uuid16(kPrimaryService)}, {2, uuid16(kCharacteristic)}, {3, uuid16(0x2A00)}};
  if (!shape.service) return table;
  table.push_back({4, uuid16(kPrimaryService)});
  if (shape.commandCharacteristic) {
    table.push_back({kCommandValueHandle - 1, uuid16(kCharacteristic)});
    table.push_back({kCommandValueHandle, uuidWireBytes(kCommandUuid)});
    table.push_back({kCommandConfigHandle, uuid16(kClientConfiguration)});
  }
  if (shape.dataCharacteristic) {
    table.push_back({kDataValueHandle - 1, uuid16(kCharacteristic)});
    table.push_back({kDataValueHandle, uuidWireBytes(kDataUuid)});
    table.push_back({kDataConfigHandle, uuid16(kClientConfiguration)});
  }
  return table;
}

}  // namespace vexa_sim
