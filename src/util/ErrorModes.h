#pragma once
// The three ways a step treats a failure, so that each step's choice is visible where it runs:
//   ignoreErrors(step)  — the failure is skipped and the caller goes on (the program's "resume next");
//   showErrors(step)    — the failure's description appears in an OK-only box, then the caller goes on;
//   calling the step directly passes the failure on.
// Failures are the runtime errors of the lower layers (data, files, configuration). A request to end
// the program and programming errors always pass on.

#include <stdexcept>
#include <string>

#include "platform/ui/MessageService.h"

namespace vopa::util {

// Runs `step`; returns true when it succeeded, false when it failed (the failure is dropped).
template <typename Step>
bool ignoreErrors(Step&& step) {
    try {
        step();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// Runs `step`; on failure shows `prefix` + the description in an OK-only box and returns false.
template <typename Step>
bool showErrors(Step&& step, const std::string& prefix = {}) {
    try {
        step();
        return true;
    } catch (const std::runtime_error& e) {
        ui::messages().message(prefix + e.what());
        return false;
    }
}

}  // namespace vopa::util
