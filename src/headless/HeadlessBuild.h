#pragma once
// The training build without windows: `vopa-build --user NAME [--password-stdin | --password PASS] --yes
// [--company ID] [--anonymise]` (or `vopa-training --build ...`) runs the start-up, the sign-in and the build procedures
// the windows run, with messages on standard error and questions answered by the flags. For scheduled
// refreshes of the training copy on machines without Qt. Nothing here includes Qt.

#include <iosfwd>
#include <string>
#include <vector>

namespace vopa::headless {

// What the headless build's command line asks for.
struct HeadlessOptions {
    bool help = false;
    std::string user;
    std::string password;
    bool yes = false;
    double company = 0;
    bool anonymise = false;  // --anonymise: the copy's personal data replaced by pseudonyms
};

// Reads the command line. The password is the one of --password; else, with --password-stdin, the first
// line of `input` without its line ending; else `environmentPassword` (VOPA_PASSWORD, null when unset);
// else empty. A password on the command line is readable by every user of the machine; the other two
// are not. Throws std::invalid_argument for a wrong command line.
HeadlessOptions readHeadlessOptions(const std::vector<std::string>& arguments, std::istream& input,
                                    const char* environmentPassword);

// True when the command line asks for the headless build (or its help).
bool wantsHeadlessBuild(const std::vector<std::string>& arguments);

// Runs it; the exit status: 0 only when the build completed with every table copied, 1 when it did not
// complete or a table is incomplete, 2 for a wrong command line. `command` is how the user started it
// ("vopa-build" or "vopa-training --build"): the usage text shows it, and messages start with its first
// word.
int runHeadlessBuild(const std::vector<std::string>& arguments, const std::string& command);

}  // namespace vopa::headless
