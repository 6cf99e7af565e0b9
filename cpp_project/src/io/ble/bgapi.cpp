#include "io/ble/bgapi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace Vexa {
namespace bgapi {
namespace {

Bytes command(uint8_t cls, uint8_t id, Bytes payload) {
  Bytes out(kHeaderSize + payload.size());
  out[0] = kResponseType;
  out[1] = static_cast<uint8_t>(payload.size());
  out[2] = cls;
  out[3] = id;
  std::copy(payload.begin(), payload.end(), out.begin() + kHeaderSize);
  return out;
}

void appendLe16(Bytes& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One number as scanf's %x reads it (leading blanks, an optional 0x); keeps
// its low 8 bits. False when no digit is there.
bool readHexByte(const std::string& text, size_t& pos, uint8_t& byte) {
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  if (pos + 2 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
      hexDigit(text[pos + 2]) >= 0) {
    pos += 2;
  }
  unsigned value = 0;
  size_t start = pos;
  for (int d; pos < text.size() && (d = hexDigit(text[pos])) >= 0; ++pos) {
    value = ((value << 4) | static_cast<unsigned>(d)) & 0xFF;
  }
  byte = static_cast<uint8_t>(value);
  return pos > start;
}

}  // namespace

Bytes systemReset() { return command(kClassSystem, 0, {0}); }

Bytes endProcedure() { return command(kClassGap, 4, {}); }

// Interval 0x3200 and window 0x1900 (units of 0.625 ms), active scanning.
Bytes setScanParameters() { return command(kClassGap, 7, {0x00, 0x32, 0x00, 0x19, 0x01}); }

Bytes discoverGeneric() { return command(kClassGap, 2, {0x01}); }

// Public address; interval 6..6 (7.5 ms), supervision time-out 500 ms,
// latency 0.
Bytes connectDirect(const Address& address) {
  Bytes payload(address.begin(), address.end());
  payload.insert(payload.end(), {0x00, 0x06, 0x00, 0x06, 0x00, 0x32, 0x00, 0x00, 0x00});
  return command(kClassGap, 3, std::move(payload));
}

// Every handle, group type 0x2800 (primary service).
Bytes readPrimaryServices(uint8_t connection) {
  return command(kClassAttClient, 1, {connection, 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x28});
}

Bytes findInformation(uint8_t connection, uint16_t start, uint16_t end) {
  Bytes payload = {connection};
  appendLe16(payload, start);
  appendLe16(payload, end);
  return command(kClassAttClient, 3, std::move(payload));
}

Bytes attributeWrite(uint8_t connection, uint16_t handle, const uint8_t* data, int n) {
  Bytes payload = {connection};
  appendLe16(payload, handle);
  payload.push_back(static_cast<uint8_t>(n));
  payload.insert(payload.end(), data, data + n);
  return command(kClassAttClient, 5, std::move(payload));
}

Bytes disconnect(uint8_t connection) { return command(kClassConnection, 0, {connection}); }

std::string pathOf(const Address& a) {
  char text[21];
  std::snprintf(text, sizeof text, "BLE%02X:%02X:%02X:%02X:%02X:%02X", a[5], a[4], a[3], a[2], a[1], a[0]);
  return text;
}

bool parsePath(const std::string& path, Address& address) {
  size_t pos = 0;
  if (path.size() >= 3) {
    std::string prefix = path.substr(0, 3);
    for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (prefix == "BLE") pos = 3;
  }
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && (pos >= path.size() || path[pos++] != ':')) return false;
    if (!readHexByte(path, pos, address[5 - i])) return false;
  }
  return pos == path.size();  // nothing may follow the sixth number
}

}  // namespace bgapi
}  // namespace Vexa
