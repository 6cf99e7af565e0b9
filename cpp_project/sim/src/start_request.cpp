#include "vexa_sim/start_request.h"

#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

namespace vexa_sim {
namespace {

constexpr uint8_t kStart = 0x07;
constexpr size_t kRateOffset = 16;
constexpr size_t kCountOffset = 20;
constexpr size_t kFirstEntry = 21;
constexpr uint8_t kWidth16 = 0x80;
constexpr uint8_t kWidth24 = 0x40;
constexpr uint8_t kPortBits = 0x3F;

[[noreturn]] void refuse(const std::string& why) { throw std::invalid_argument(why); }

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

float leFloat(const uint8_t* p) {
  uint32_t bits = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                  static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

StreamSource parseEntry(const uint8_t* entry, int format, size_t index) {
  StreamSource s;
  s.port = entry[0] & kPortBits;
  s.nBits = (entry[0] & kWidth16) ? 16 : (entry[0] & kWidth24) ? 24 : 8;
  s.divisor = le16(entry + 1);
  s.chMask = format == 1 ? entry[3] : le16(entry + 3);
  const std::string which = "source " + std::to_string(index);
  if (s.divisor == 0) refuse(which + ": frequency divisor 0");
  if (s.chMask == 0) refuse(which + ": no channel");
  return s;
}

}  // namespace

int StreamSource::nChannels() const {
  int n = 0;
  for (unsigned m = chMask; m != 0; m &= m - 1) ++n;
  return n;
}

StartRequest parseStartCommand(const std::vector<uint8_t>& payload) {
  if (payload.size() < kFirstEntry + 1 || payload[0] != kStart) {
    refuse("not a start command of at least 22 bytes");
  }
  StartRequest req;
  req.format = payload[1];
  if (req.format != 1 && req.format != 2) refuse("unknown format " + std::to_string(req.format));
  const size_t count = payload[kCountOffset];
  const size_t entrySize = req.format == 1 ? 8 : 9;
  if (count == 0) refuse("no source");
  if (payload.size() != kFirstEntry + entrySize * count + 1) {
    refuse(std::to_string(payload.size()) + " bytes for " + std::to_string(count) +
           " sources of format " + std::to_string(req.format));
  }
  req.baseRate = leFloat(payload.data() + kRateOffset);
  if (!std::isfinite(req.baseRate) || req.baseRate <= 0 || req.baseRate > kMaxBaseRate) {
    refuse("base rate " + std::to_string(req.baseRate) + " Hz out of range");
  }
  std::set<int> ports;
  for (size_t i = 0; i < count; ++i) {
    req.sources.push_back(parseEntry(payload.data() + kFirstEntry + entrySize * i, req.format, i));
    if (!ports.insert(req.sources.back().port).second) {
      refuse("port " + std::to_string(req.sources.back().port) + " given twice");
    }
  }
  return req;
}

}  // namespace vexa_sim
