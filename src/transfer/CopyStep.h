#pragma once
// The copy step of a training build: every catalogued table copied inside the server, one INSERT ...
// SELECT per table from the company database into VoPaDatiTraining with its identity values, group by
// group with the group's error mode; the projects refreshed row by row after their copy; then the
// budget and funder accounts tables.

#include <functional>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "state/GlobalState.h"

namespace vopa::transfer {

// What the copy step tells its caller.
struct CopyReporter {
    int maximum = 1200;                                                // the progress bar's maximum
    std::function<void(int value)> progress;                           // the bar's new value
    std::function<void(const std::string& table, int index, int count)> table;  // the table being copied
    std::function<void(const std::string& table, const std::string& error)> failure;  // a copy that failed
};

// The steps that follow the groups (the budget and the funder accounts tables); empty ones are skipped.
struct FollowingSteps {
    std::function<void(state::GlobalState&)> budget;
    std::function<void(state::GlobalState&)> funderAccounts;
};

// Runs the copy step with `entries` (the program passes catalogue()). Failures of the copy statements
// are handled by their group's mode; a failure to reach the server passes on.
void runCopyStep(state::GlobalState& g, const std::vector<CatalogueEntry>& entries, const CopyReporter& reporter,
                 const FollowingSteps& following = {});

// The project refresh: every project row of the training database takes the company row's values again.
// Each assignment, save and company-row look-up fails on its own and the other projects are still
// refreshed; a failed move to the next row ends the walk. A failure to re-open the copy connection or
// to open the training projects passes on.
void refreshProjects(state::GlobalState& g);

}  // namespace vopa::transfer
