#pragma once
// What the program's windows do at start-up, on the main window and at the end, without the windows:
// the start-up window's preparation and its dispatch to the sign-in, the main window's loading and its
// maintenance statements, and the end of the program.

#include <optional>
#include <string>

#include "state/GlobalState.h"

namespace vopa::company {

// What keeps the program from working on the drive C: a folder that exists but that this user may
// not read, write or enter; names the folder and the permission. Nothing when the drive is usable.
std::optional<std::string> driveProblem();

// The start-up window's load: this computer's name, the company it used last opened, SharedConnection
// on its database, the office.
void prepareStartup(state::GlobalState& g);

enum class StartupDestination { MainWindow, SignIn };

// After the maintenance pass: a company without users is entered with every right and no sign-in;
// otherwise the operator signs in (also when the user table cannot be read).
StartupDestination dispatchAfterStartup(state::GlobalState& g);

// Whether the company database's AbilitazioneAccessi has rows (also true when it cannot be read, so
// that an unreadable user table never lets anyone in without a sign-in). Without rows, the operator
// gets every right but projects.
bool companyHasUsers(state::GlobalState& g);

// The main window's load. False when the company database cannot be reached: the window then closes.
bool prepareMainWindow(state::GlobalState& g);

// The statements the main window runs each time it becomes active (each one's failure is skipped).
void runMainWindowMaintenance(state::GlobalState& g);

// The end of the program: the company defaults of link_programma row 1, the "Qen_Server" system data
// source, and every connection closed. The windows are unloaded by the caller.
void endProgram(state::GlobalState& g);

}  // namespace vopa::company
