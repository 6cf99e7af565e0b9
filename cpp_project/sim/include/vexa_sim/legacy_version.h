// What the legacy families' version lines say about the firmware, read the
// way the host reads them.
#ifndef VEXA_SIM_LEGACY_VERSION_H_
#define VEXA_SIM_LEGACY_VERSION_H_

#include <cstdint>
#include <string>

namespace vexa_sim {

// Oldest family: major = the number after the first "v.", minor = the
// number four characters after it (after a one-digit major and its dot);
// (major & 0xFF) << 8 | (minor & 0xFF). 0 when there is no "v.".
uint16_t cadriumFirmware(const std::string& versionLine);

// Compact board: the major number of "major.minor" after the first 'v' or
// 'V' from index 8 on; 0 when there is none or it is not readable.
int quillboxMajor(const std::string& versionLine);

}  // namespace vexa_sim

#endif  // VEXA_SIM_LEGACY_VERSION_H_
