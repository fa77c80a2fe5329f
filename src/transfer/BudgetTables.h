#pragma once
// The tables whose names come from the company's data, carried into the training database row by row
// at the end of the copy: one budget table per project (named after the project's type and number)
// and one accounts table per funder type (the type followed by "Conti").
//
// Both steps also correct the company database on the way: null quotas of a budget table become 0,
// non-numeric revision values become 0 and non-numeric contribution flags become false.

#include <functional>
#include <string>

#include "state/GlobalState.h"

namespace vopa::transfer {

// How a step tells the build what it is doing. Every member may be left empty.
struct Progress {
    int maximum = 100;                                  // the progress bar's maximum
    std::function<void(int value)> value;               // the bar's new value, 0..maximum
    std::function<void(const std::string&)> table;      // the table being worked on
    std::function<void(const std::string&)> note;       // a failure the step went on after

    void setValue(int v) const;
    void setTable(const std::string& name) const;
    void addNote(const std::string& text) const;
};

// The budget table of a project: its trimmed Type, followed by "_" and its trimmed Number when the
// Number is not empty. Empty for an empty id or an id without a project row. Reads progetti through
// SharedConnection; failures pass on.
std::string budgetTableName(double projectId, state::GlobalState& g);

// "CREATE TABLE <name> ( ID int NULL, ... QuotaAltri decimal(9, 2) not NULL default 0 )".
std::string budgetTableCreation(const std::string& name);

// Runs the creation statement on ServerConnection (the training database); failures pass on.
void createBudgetTable(const std::string& name, state::GlobalState& g);

// Copies the budget table of every project from the company database (SharedConnection) into the
// training database (ServerConnection), creating the training table when it is missing. Rows are
// matched by idconto, so a table met twice (two projects of the same type and number) is not doubled.
// Failures are shown until the first project is done, skipped silently after. Ends with the reset
// routine, which closes ServerConnection.
void runBudgetStep(state::GlobalState& g, const Progress& progress = {});

// "create table <name> (id INT identity(1,1) not null , category varchar(20) NULL, ...)".
std::string funderAccountsCreation(const std::string& name);

// Copies one funder accounts table from the company database (CompanyConnectionString) into the
// training database (ServerConnectionString): created there when missing, emptied first otherwise.
// The training table numbers its own ids. Returns the number of rows written (0 when the company has
// no such table). A row that cannot be written is left out and reported to `note`; a failure to
// create or empty the training table abandons the copy.
int copyFunderAccountsTable(const std::string& name, state::GlobalState& g,
                            const std::function<void(const std::string&)>& note = {});

// Copies the accounts table of every funder type but "ong" (which the catalogue copies), each table
// once, advancing the progress bar from 0 to its maximum. Reopens ServerConnection with
// ServerConnectionString and leaves it open. Every failure is skipped without a message.
void runFunderAccountsStep(state::GlobalState& g, const Progress& progress = {});

}  // namespace vopa::transfer
