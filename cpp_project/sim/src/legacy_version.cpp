#include "vexa_sim/legacy_version.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace vexa_sim {
namespace {

int numberAt(const std::string& text, size_t pos) {
  return pos < text.size() ? std::atoi(text.c_str() + pos) : 0;
}

}  // namespace

uint16_t cadriumFirmware(const std::string& versionLine) {
  size_t v = versionLine.find("v.");
  if (v == std::string::npos) return 0;
  int major = numberAt(versionLine, v + 2);
  int minor = numberAt(versionLine, v + 4);
  return static_cast<uint16_t>((major & 0xFF) << 8 | (minor & 0xFF));
}

int quillboxMajor(const std::string& versionLine) {
  for (size_t i = 8; i < versionLine.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(versionLine[i])) != 'v') continue;
    unsigned short major = 0, minor = 0;
    if (std::sscanf(versionLine.c_str() + i + 1, "%hu.%hu", &major, &minor) != 2) return 0;
    return major;
  }
  return 0;
}

}  // namespace vexa_sim
