#pragma once
// The record of a training build: each step with its duration, each failure the build went on after,
// and at the end a verification table — for every catalogued table, budget table and funder accounts
// table, its rows in the company database and in the training database. Written to a text file under
// C:\Vopa\Log (one file per build) whatever the outcome.

#include <chrono>
#include <string>
#include <vector>

#include "BuildDriver.h"
#include "BuildObserver.h"

namespace vopa::training {

struct TableCheck {
    std::string table;
    long long companyRows = -1;   // -1: the table could not be read there
    long long trainingRows = -1;
    bool matches() const { return companyRows >= 0 && companyRows == trainingRows; }
};

// Records what the build does and passes every report on to `next` (the window's or the terminal's
// observer).
class BuildRecorder final : public BuildObserver {
public:
    // withoutValues: an anonymised build's notes, which must not show a value a server message quotes.
    explicit BuildRecorder(BuildObserver& next, bool withoutValues = false);

    void stepStarted(const std::string& step, int number, int count) override;
    void progress(int value, int maximum) override { next_.progress(value, maximum); }
    void currentTable(const std::string& table, int index, int count) override {
        next_.currentTable(table, index, count);
    }
    void note(const std::string& text) override;
    void animation(bool running) override { next_.animation(running); }

    // Closes the last step.
    void finish();

    struct Step {
        std::string name;
        double seconds = 0;
    };
    const std::vector<Step>& steps() const { return steps_; }
    const std::vector<std::string>& notes() const { return notes_; }

private:
    BuildObserver& next_;
    bool withoutValues_;
    std::vector<Step> steps_;
    std::vector<std::string> notes_;
    std::chrono::steady_clock::time_point stepStart_;
};

// The budget and funder accounts tables the company database holds (names made from its projects and
// funders, kept only when the company has the table).
std::vector<std::string> budgetAndFunderTables(state::GlobalState& g, const std::string& companyDatabase);

// Counts the rows of every catalogued, budget and funder accounts table in both databases.
std::vector<TableCheck> verifyCopy(state::GlobalState& g, const std::string& companyDatabase);

// Writes the report and returns where it went and how many tables were copied completely.
BuildSummary writeBuildReport(const BuildRecorder& recorder, const BuildResult& result,
                              const std::vector<TableCheck>& checks, const std::string& companyDatabase);

// "x di y tabelle copiate completamente. Resoconto: C:\Vopa\Log\...".
std::string summaryText(const BuildSummary& summary);

}  // namespace vopa::training
