// The steps of vexa check: each talks to the device briefly and adds what
// it measured to the report.
#ifndef VEXA_TOOLS_VEXA_CHECK_STEPS_H_
#define VEXA_TOOLS_VEXA_CHECK_STEPS_H_

#include <string>

#include "check_report.h"

namespace vexa_cli {

// Runs every step against the device at path and appends them to report;
// sets report.unusable when the device cannot be used at all. With a
// non-empty tracePath every link the check opens is traced to that file.
void runCheck(const std::string& path, const std::string& tracePath, CheckReport& report);

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_CHECK_STEPS_H_
