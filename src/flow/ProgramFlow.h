#pragma once
// The program's flow, without windows: start-up -> sign-in -> main window (company switch) -> build ->
// end. One method per step; each calls the procedures of the lower layers in the program's order and
// returns what the caller needs to choose the next step. The windows call these methods from their
// event handlers, one step at a time; the headless build runs them straight through. Nothing here
// includes Qt. Messages a step shows itself go through the message service; the outcomes whose
// wording differs between the windows and the headless build are returned for the caller to tell.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "signin/CompanySelection.h"
#include "signin/SignIn.h"
#include "state/GlobalState.h"
#include "training/BuildDriver.h"

namespace vopa::flow {

// What keeps the program from starting, looked at before anything is opened.
struct Preconditions {
    // A drive C: folder that exists but that this user may not read, write or enter: the text names the
    // folder and the permission. Nothing when the drive is usable.
    std::optional<std::string> driveProblem;
    // C:\vopa\IndirizzoServer.txt is there: an installation is configured.
    bool installed = false;
};

enum class StartupOutcome {
    SignIn,         // the operator signs in
    MainWindow,     // the company has no users: entered with every right but projects, no sign-in
    NoSuchCompany,  // the company asked for is not in the registry (or the registry cannot be read)
    DatabaseMissing,  // the company asked for names a database that is not on the server
    CompanyNotOpened,  // the company asked for could not be opened
};

struct StartupResult {
    StartupOutcome outcome = StartupOutcome::SignIn;
    std::string database;  // the database of the company asked for (with DatabaseMissing)
};

enum class BuildPermission {
    Allowed,
    NotAdministrator,  // the operator has not the administrator right (the build alters the company database)
    NotHeadOffice,     // the open company is not the head office's database (the message was shown)
};

class ProgramFlow {
public:
    explicit ProgramFlow(state::GlobalState& g) : g_(g), signIn_(g), companies_(g) {}
    ProgramFlow(const ProgramFlow&) = delete;
    ProgramFlow& operator=(const ProgramFlow&) = delete;

    state::GlobalState& state() { return g_; }

    // Before the first window: this computer's name and the program's folder, then what keeps the
    // program from starting (callers say it in their own order and words).
    Preconditions begin();

    // The start-up. The first time, the company this computer used last is opened (or, with
    // `companyId`, that company or none: checked against the registry and the server before anything
    // changes) and `companyOpened` hears its name; each time, the maintenance pass runs and the
    // company's users decide the next step.
    StartupResult startUp(double companyId = 0,
                          const std::function<void(const std::string& companyName)>& companyOpened = {});

    // The sign-in, driven one key at a time by a window (its load, activation and boxes).
    signin::SignInProcedure& signIn() { return signIn_; }
    // The sign-in straight through: load, activation, the name entered, the password entered; the
    // outcome of the password (ShowMainWindow: signed in).
    signin::SignInOutcome signInWith(const std::string& userName, const std::string& password);

    // The main window's data: the company opened again, its database probed, SharedConnection, office.
    // False when the company database cannot be reached: the program cannot go on.
    bool openMainWindow();
    // The maintenance statements each time the main window becomes active (each failure is skipped).
    void mainWindowActivated();

    // The company switch: the registry's companies (the current one reopened first) and the name to
    // preselect; then the company picked is opened at once; the end of the switch registers its data
    // sources. The sign-in follows, as users and rights live in the company database.
    const std::vector<signin::CompanyEntry>& companiesToSwitchTo(std::string& preselected);
    void switchCompany(double companyId);
    void endCompanySwitch();

    // Whether the operator may start a build (asked when the build is requested): Allowed or
    // NotAdministrator.
    BuildPermission userMayBuild() const;
    // Whether the build may run on this company (asked when the build window becomes active; the
    // message is shown here): Allowed or NotHeadOffice.
    BuildPermission officeAllowsBuild();
    // The build, from its question to its closing message and report.
    training::BuildResult runBuild(training::BuildObserver& observer, const training::BuildOptions& options);

    // The end of the program: the company defaults of link_programma row 1, the "Qen_Server" system
    // data source, and every connection closed. The windows are unloaded by the caller.
    void endProgram();

    // The start-up's last part alone, after the maintenance pass: a company without users is entered
    // without a sign-in (SignIn or MainWindow).
    StartupOutcome dispatchAfterStartup();

private:
    void prepareStartup();

    state::GlobalState& g_;
    signin::SignInProcedure signIn_;
    signin::CompanySelection companies_;
    bool companyOpened_ = false;
};

// The drive C: check of `begin`, alone.
std::optional<std::string> driveProblem();

}  // namespace vopa::flow
