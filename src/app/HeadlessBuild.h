#pragma once
// The training build without windows: `vopa-training --build --user NAME --password PASS --yes
// [--company ID]` runs the start-up, the sign-in and the build procedures the windows run, with messages
// on standard error and questions answered by the flags. For scheduled refreshes of the training copy.

#include <string>
#include <vector>

namespace vopa::app {

// True when the command line asks for the headless build (or its help).
bool wantsHeadlessBuild(const std::vector<std::string>& arguments);

// Runs it; the exit status: 0 only when the build completed with every table copied, 1 when it did not
// complete or a table is incomplete, 2 for a wrong command line.
int runHeadlessBuild(const std::vector<std::string>& arguments);

}  // namespace vopa::app
