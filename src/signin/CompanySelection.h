#pragma once
// Switching the program to another company of the registry: the list of companies, the current one
// preselected, the chosen one opened at once, and its data sources registered when the choice closes.

#include <string>
#include <vector>

#include "state/GlobalState.h"

namespace vopa::signin {

struct CompanyEntry {
    double id = 0;
    std::string name;
};

class CompanySelection {
public:
    explicit CompanySelection(state::GlobalState& g) : g_(g) {}

    // Window load: the current company opened again, the registry's companies by name, and the one to
    // preselect (this computer's last company, else the current company by name).
    void load();
    const std::vector<CompanyEntry>& companies() const { return companies_; }
    // The name shown in the list when the window opens (empty when none matched).
    const std::string& preselectedName() const { return preselected_; }

    // The operator picked a company in the list.
    void choose(double companyId);
    // The list lost the focus: the chosen company is opened (nothing when none was chosen).
    void openChosen();
    // The window closes: the data sources of the company are registered.
    void close();

private:
    void registerDataSources();

    state::GlobalState& g_;
    std::vector<CompanyEntry> companies_;
    std::string preselected_;
};

}  // namespace vopa::signin
