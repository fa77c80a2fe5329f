#pragma once
// The routine work done on the server and the company database each time the program starts, before
// anyone signs in: a server setting, the scratch database, orphan rows, this computer's work tables,
// the version mark. Every step skips its own failure.

#include <string>

#include "state/GlobalState.h"

namespace vopa::company {

// The whole pass, in order (the sign-in dispatch that follows it belongs to the start-up window).
void runMaintenancePass(state::GlobalState& g);

// The CREATE TABLE statement of a computer's work table ("InserimentoProgetto" or
// "CorrezioneContabilita" + computer name); IdSedeAmm defaults to `officeId`.
std::string workTableStatement(const std::string& prefix, const std::string& computerName, double officeId);

// Writes `value` into the version row of the scratch database, or reads it when `value` is 0 (empty);
// returns the value written or read (0 when there is none).
double versionRecord(double value, state::GlobalState& g);

// The version mark of a program: 2 for "qen_donazioni", 1 for any other name.
double versionMarkOf(const std::string& programName);

}  // namespace vopa::company
