// The oldest family's version line, read during the handshake.
#include <cstring>

#include "base/decimal.h"
#include "base/x.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr int kMaxLineBytes = 29;

[[noreturn]] void badLine() {
  VEXA_THROW(Notification::ContactingDevice);
}

}  // namespace

void BaseDev::X::recvVersionLine(uint8_t* buf) {
  for (int i = 0; i < kMaxLineBytes; ++i) {
    IO::recvAll(*io, buf + i, 1);
    if (buf[i] == 0x0A) {
      buf[i] = 0;
      return;
    }
  }
  buf[kMaxLineBytes - 1] = 0;
}

void BaseDev::X::parseVersionOld(const char* line) {
  const size_t n = std::strlen(line);
  if (n < 7 || std::strncmp(line, "Cadrium", 7) != 0) badLine();

  // Index 7 is the blank after the product word; the variant tag follows.
  int32_t productId;
  if (n > 8 && line[8] == '2') {
    productId = 513;
  } else if (n >= 11 && std::strncmp(line + 8, "EMG", 3) == 0) {
    productId = 257;
  } else {
    badLine();
  }

  const char* v = std::strstr(line, "v.");
  if (v == nullptr) badLine();
  const char* p = v + 2;
  int64_t major = 0;
  readDecimal(p, major);
  if ((major & 0xFF) == 0) badLine();
  // The minor number is read four characters after "v.", past a one-digit
  // major and its dot; a line that ends before that has minor 0.
  int64_t minor = 0;
  if (std::strlen(v) >= 4) {
    p = v + 4;
    readDecimal(p, minor);
  }

  insertProperty("description", PropertyValue(std::string("Cadrium")));
  insertProperty("productID", PropertyValue(productId));
  insertProperty("fwVersion", PropertyValue(static_cast<int32_t>((major & 0xFF) * 256 + (minor & 0xFF))));
  family = DeviceFamily::kOldest;
}

}  // namespace Vexa
