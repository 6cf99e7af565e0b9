// The subcommands of the vexa tool. Each adds itself to the application;
// when it is the one chosen, running it sets the process's exit status.
#ifndef VEXA_TOOLS_VEXA_COMMANDS_H_
#define VEXA_TOOLS_VEXA_COMMANDS_H_

#include <string>

// CLI11 is header-only and costs seconds per file that includes it: only
// the files that add a subcommand do.
namespace CLI {
class App;
}  // namespace CLI

namespace vexa_cli {

// kStepFailed: vexa check ran, and a step of it failed.
enum ExitStatus { kOk = 0, kFailure = 1, kUsage = 2, kStepFailed = 3 };

void addScan(CLI::App& app, int& status);
void addInfo(CLI::App& app, int& status);
void addRecord(CLI::App& app, int& status);
void addSim(CLI::App& app, int& status);
void addCheck(CLI::App& app, int& status);

// The library's version and how this program was built (compiler,
// platform, date), for --version and reports.
std::string buildText();

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_COMMANDS_H_
