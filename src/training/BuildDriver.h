#pragma once
// The training build: the company database brought up to the current structure and indexed, the
// database VoPaDatiTraining dropped and created again with its tables, the company's rows copied into
// it, the copy registered as the company "Training Sede", and its keys and indexes made. Every question
// and message box goes through the message service; progress goes to a BuildObserver.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BuildObserver.h"
#include "state/GlobalState.h"

namespace vopa::training {

// The copy step: fills the training database from the company database. It runs with ServerConnection
// open on the training database's server and advances the progress through the observer.
// It adds the tables it could not copy completely to `incomplete`.
using CopyStep = std::function<void(state::GlobalState&, BuildObserver&, int progressMaximum,
                                    std::vector<std::string>& incomplete)>;

struct BuildOptions {
    CopyStep copy;               // empty: nothing is copied
    int progressMaximum = 1200;  // the progress bar's maximum
    // Set (from another thread or a signal handler) to stop the build after the statement that is
    // running; null: the build cannot be stopped.
    const std::atomic<bool>* stop = nullptr;
    // Replace the personal data of the copy with pseudonyms, after the copy and before the keys and
    // indexes; off, the copy stays exact.
    bool anonymise = false;
};

// The steps of a build, in order, as the observer and the report name them. The anonymisation is a
// step of an anonymised build only.
inline constexpr int kBuildStepCount = 10;
inline constexpr const char* kAnonymisationStep = "Anonimizzazione dati personali";
inline constexpr const char* kBuildSteps[kBuildStepCount] = {
    "Aggiornamento database azienda", "Indici database azienda", "Eliminazione database training",
    "Creazione database training",    "Creazione tabelle",       "Copia tabelle",
    kAnonymisationStep,               "Registrazione azienda Training Sede", "Indici database training",
    "Verifica della copia"};
// The number of steps of a build, and the 1-based position of `step` among them (0 for another name).
int stepCount(bool anonymise);
int stepNumber(const std::string& step, bool anonymise);

// A column whose personal data an anonymised build replaced, with the rows that changed.
struct AnonymisedColumn {
    std::string column;  // Table.Column
    long long rows = 0;
};

// Where a build's report went, and how many of its tables arrived complete.
struct BuildSummary {
    std::string reportFile;  // as the program names it (C:\Vopa\Log\build-....txt)
    bool written = false;    // false: the report could not be written, for `writeError`
    std::string writeError;
    int tables = 0;          // tables whose rows were compared (none when the copy did not end)
    int complete = 0;
};

enum class BuildOutcome {
    Completed,  // the build ran to its end
    Declined,   // the operator answered No
    Refused,    // the build may not run here (the training database is the open company)
    Abandoned,  // a step failed; the failure was shown
    Interrupted,  // the operator stopped it
};

struct BuildResult {
    BuildOutcome outcome = BuildOutcome::Completed;
    bool closeWindow = true;  // false: the window stays open and idle, the operator may try again
    std::vector<std::string> incompleteTables;  // tables whose rows did not all arrive
    std::vector<std::string> failures;          // what ended the build or left it short (a registration)
    bool copyEnded = false;                     // the copy step ran to its end
    bool anonymised = false;                    // the personal data of the copy were replaced
    std::vector<AnonymisedColumn> anonymisedColumns;
    BuildSummary summary;                       // the report of a build that ran

    // The build ran to its end, registered the copy, every table arrived whole and the report is written.
    bool complete() const;
};

// The program's copy step: the catalogue's tables, then the budget and funder accounts tables. Tells
// the observer each table and each failure, and adds the failed tables to `incomplete`.
CopyStep standardCopyStep();

// The build window's check when it becomes active: false (after the message) away from the head office.
bool officeAllowsBuild(state::GlobalState& g);

// The server string of the build: "Driver=SQL Server;Server=" + ServerName + ";UID=;PWD=;".
std::string serverString(const state::GlobalState& g);
// The training string: server string + "database=VoPaDatiTraining;".
std::string trainingString(const state::GlobalState& g);

// Registers the training database in link_programma of the registry (overwriting its row when there is
// one). Every failure is skipped; the result is the first of them when the row is not there afterwards.
std::optional<std::string> registerTrainingDatabase(state::GlobalState& g);

// The whole build, from the confirmation question to the end: its report is written (see BuildReport.h)
// and a completed build ends with a message saying how many tables arrived complete and where the
// report is.
BuildResult runBuild(BuildObserver& observer, const BuildOptions& options, state::GlobalState& g);

// The message a completed build ends with: the summary, the incomplete tables, what went wrong.
std::string closingText(const BuildResult& result);

}  // namespace vopa::training
