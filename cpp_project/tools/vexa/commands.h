// The subcommands of the vexa tool. Each adds itself to the application;
// when it is the one chosen, running it sets the process's exit status.
#ifndef VEXA_TOOLS_VEXA_COMMANDS_H_
#define VEXA_TOOLS_VEXA_COMMANDS_H_

#include <CLI/CLI.hpp>

namespace vexa_cli {

enum ExitStatus { kOk = 0, kFailure = 1, kUsage = 2 };

void addScan(CLI::App& app, int& status);
void addInfo(CLI::App& app, int& status);
void addRecord(CLI::App& app, int& status);
void addSim(CLI::App& app, int& status);

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_COMMANDS_H_
