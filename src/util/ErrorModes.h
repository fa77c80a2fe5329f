#pragma once
// The three ways a step treats a failure, so that each step's choice is visible where it runs:
//   ignoreErrors(step)  — the failure is skipped and the caller goes on (the program's "resume next");
//   showErrors(step)    — the failure's description appears in an OK-only box, then the caller goes on;
//   calling the step directly passes the failure on.
// Failures are the runtime errors of the lower layers (data, files, configuration). A request to end
// the program and programming errors always pass on, and so does an internal failure of the embedded
// engine (error 50000): that is a fault of ours, which no step may hide behind "resume next".

#include <optional>
#include <stdexcept>
#include <string>

#include "platform/data/DataError.h"
#include "platform/ui/MessageService.h"

namespace vopa::util {

// The engine's number for a failure of its own (a bug, not a refusal of the server).
inline constexpr int kInternalEngineError = 50000;

inline bool isInternalError(const std::runtime_error& e) {
    const auto* data = dynamic_cast<const data::DataError*>(&e);
    return data && data->number() == kInternalEngineError;
}

// Runs `step`; returns true when it succeeded, false when it failed (the failure is dropped).
template <typename Step>
bool ignoreErrors(Step&& step) {
    try {
        step();
        return true;
    } catch (const std::runtime_error& e) {
        if (isInternalError(e)) throw;
        return false;
    }
}

// Runs `step`; returns the failure's description, nothing on success (the caller decides what to do
// with it).
template <typename Step>
std::optional<std::string> failureOf(Step&& step) {
    try {
        step();
        return std::nullopt;
    } catch (const std::runtime_error& e) {
        if (isInternalError(e)) throw;
        return std::string(e.what());
    }
}

// Runs `step`; on failure shows `prefix` + the description in an OK-only box and returns false.
template <typename Step>
bool showErrors(Step&& step, const std::string& prefix = {}) {
    try {
        step();
        return true;
    } catch (const std::runtime_error& e) {
        if (isInternalError(e)) throw;
        ui::messages().message(prefix + e.what());
        return false;
    }
}

}  // namespace vopa::util
