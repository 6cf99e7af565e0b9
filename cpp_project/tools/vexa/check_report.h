// What vexa check found, as text for a person or one JSON object for a
// machine.
#ifndef VEXA_TOOLS_VEXA_CHECK_REPORT_H_
#define VEXA_TOOLS_VEXA_CHECK_REPORT_H_

#include <ostream>
#include <string>
#include <vector>

namespace vexa_cli {

enum class StepResult { kPass, kFail, kNotApplicable };

struct CheckStep {
  std::string name;
  StepResult result = StepResult::kPass;
  std::string figure;  // the measured figure, short
  std::string detail;  // what else a reader needs, or why it failed
};

struct CheckReport {
  std::string version;  // the library's version and build
  std::string path;
  std::string link;  // the kind of link and how it was opened
  std::vector<CheckStep> steps;
  // Set when the device or link could not be used at all.
  std::string unusable;
  // Set when the wire trace could not be written in full.
  std::string traceFailure;
};

// 0 every step passed (not applicable counts as passed), 3 a step failed,
// 1 the device could not be used.
int checkStatus(const CheckReport& report);

void printText(std::ostream& out, const CheckReport& report);
void printJson(std::ostream& out, const CheckReport& report);

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_CHECK_REPORT_H_
