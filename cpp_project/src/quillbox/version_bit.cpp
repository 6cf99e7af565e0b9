// The compact board's version line, read during the handshake.
#include <cctype>
#include <cstring>

#include "base/decimal.h"
#include "base/x.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

[[noreturn]] void badLine() {
  VEXA_THROW(Notification::ContactingDevice);
}

// One of the two version numbers: 0 to 255.
int32_t versionNumber(const char*& p) {
  int64_t value = 0;
  if (!readDecimal(p, value)) badLine();
  if (value < 0 || value > 255) badLine();
  return static_cast<int32_t>(value);
}

}  // namespace

void BaseDev::X::parseVersionBit(const char* line) {
  if (std::strncmp(line, "Quillbox", 8) != 0) badLine();

  int32_t major = 0;
  const char* v = line + 8;
  while (*v != '\0' && std::tolower(static_cast<unsigned char>(*v)) != 'v') ++v;
  if (*v != '\0') {
    const char* p = v + 1;
    major = versionNumber(p);
    if (*p != '.') badLine();
    ++p;
    int32_t minor = versionNumber(p);
    insertProperty("fwVersion", PropertyValue(major * 256 + minor));
  }

  insertProperty("description", PropertyValue(std::string("Quillbox")));
  insertProperty("productID", PropertyValue(major < 5 ? 1537 : 1538));
  family = DeviceFamily::kCompactBoard;
}

}  // namespace Vexa
