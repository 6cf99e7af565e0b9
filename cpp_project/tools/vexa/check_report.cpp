#include "check_report.h"

#include <algorithm>
#include <cstdio>

#include "commands.h"

namespace vexa_cli {
namespace {

const char* resultName(StepResult r) {
  switch (r) {
    case StepResult::kPass:
      return "pass";
    case StepResult::kFail:
      return "fail";
    case StepResult::kNotApplicable:
      break;
  }
  return "not applicable";
}

// A JSON string literal: quotes, backslashes and control characters
// escaped; other bytes (UTF-8 included) as they are.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

int checkStatus(const CheckReport& report) {
  if (!report.unusable.empty()) return kFailure;
  const bool failed = std::any_of(report.steps.begin(), report.steps.end(),
                                  [](const CheckStep& s) { return s.result == StepResult::kFail; });
  return failed ? kStepFailed : kOk;
}

void printText(std::ostream& out, const CheckReport& report) {
  out << "vexa check " << report.path << "\nlibrary: " << report.version << "\nlink: " << report.link << "\n";
  size_t width = 0;
  for (const CheckStep& s : report.steps) width = std::max(width, s.name.size());
  for (const CheckStep& s : report.steps) {
    out << "  " << s.name << std::string(width - s.name.size() + 2, ' ') << resultName(s.result);
    if (!s.figure.empty()) out << "  " << s.figure;
    if (!s.detail.empty()) out << "  (" << s.detail << ")";
    out << "\n";
  }
  if (!report.unusable.empty()) {
    out << "result: the device could not be used: " << report.unusable << "\n";
    return;
  }
  out << "result: " << (checkStatus(report) == kOk ? "every step passed" : "a step failed") << "\n";
}

void printJson(std::ostream& out, const CheckReport& report) {
  const int status = checkStatus(report);
  out << "{\"version\":" << quoted(report.version) << ",\"path\":" << quoted(report.path)
      << ",\"link\":" << quoted(report.link) << ",\"steps\":[";
  for (size_t i = 0; i < report.steps.size(); ++i) {
    const CheckStep& s = report.steps[i];
    out << (i ? "," : "") << "{\"name\":" << quoted(s.name) << ",\"result\":" << quoted(resultName(s.result))
        << ",\"figure\":" << quoted(s.figure) << ",\"detail\":" << quoted(s.detail) << "}";
  }
  out << "],\"passed\":" << (status == kOk ? "true" : "false") << ",\"exit\":" << status;
  if (!report.unusable.empty()) out << ",\"error\":" << quoted(report.unusable);
  out << "}\n";
}

}  // namespace vexa_cli
