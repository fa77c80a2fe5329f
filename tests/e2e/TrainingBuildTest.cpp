// Whole training builds on a generated company: every catalogued table arrives with exactly the
// company's rows.

#include <gtest/gtest.h>

#include "DemoInstallation.h"
#include "training/BuildDriver.h"
#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"
#include "company/CompanyOpening.h"
#include "support/ScriptedMessageService.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"
#include "transfer/Catalogue.h"

using namespace vopa;
using vopa::testing::SmallInstallation;

namespace {

struct Recorder : training::BuildObserver {
    std::vector<std::string> tables;
    std::vector<std::string> notes;
    int lastProgress = 0;
    void currentTable(const std::string& table, int, int) override { tables.push_back(table); }
    void note(const std::string& text) override { notes.push_back(text); }
    void progress(int value, int) override { lastProgress = value; }
};

TEST(TrainingBuild, CopiesEveryCatalogueTableWithTheCompanysRows) {
    vopa::testing::TempDrive drive;
    ui::ScopedScriptedMessages messages;
    demo::DemoOptions options;
    options.rows = 400;
    const demo::DemoInstallation demo = demo::createDemoInstallation(options);
    state::GlobalState g;
    g.ComputerName = "PC_UFFICIO";
    double id = demo.companies.front().id;
    company::openCompany(id, g);
    g.CurrentOfficeNumber = 1;
    const std::string company = g.CompanyDatabaseName;

    Recorder observer;
    messages->queueAnswer(ui::Answer::Yes);
    const training::BuildResult result = training::runBuild(observer, {training::standardCopyStep()}, g);
    ASSERT_EQ(result.outcome, training::BuildOutcome::Completed) << ::testing::PrintToString(messages->texts());
    EXPECT_EQ(observer.lastProgress, 1200);
    for (const std::string& note : observer.notes) ADD_FAILURE() << note;
    EXPECT_TRUE(result.incompleteTables.empty()) << ::testing::PrintToString(result.incompleteTables);

    // Every copied table holds exactly the company's rows: same count, and no company row (over the
    // copied columns) missing from the training table.
    data::Connection server;
    server.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
    auto count = [&](const std::string& query) {
        return static_cast<int>(server.execute("SELECT COUNT(*) FROM (" + query + ") counted")->field(0).toDouble());
    };
    int compared = 0, withRows = 0;
    for (const transfer::CatalogueEntry& e : transfer::catalogue()) {
        if (e.position == 0 || e.insertColumns.empty()) continue;
        std::string columns, items;
        for (const std::string& c : e.insertColumns) columns += (columns.empty() ? "[" : ", [") + c + "]";
        for (std::size_t i = 0; i < e.selectItems.size(); ++i)
            items += (items.empty() ? "" : ", ") + (e.isConstant[i] ? e.selectItems[i] : "[" + e.selectItems[i] + "]");
        const std::string source = "[" + company + "].dbo.[" + e.table + "]";
        const std::string target = "VoPaDatiTraining.dbo.[" + e.table + "]";
        const int rows = count("SELECT * FROM " + source);
        EXPECT_EQ(count("SELECT * FROM " + target), rows) << e.table;
        EXPECT_EQ(count("SELECT " + items + " FROM " + source + " EXCEPT SELECT " + columns +
                                                         " FROM " + target),
                  0)
            << e.table;
        ++compared;
        withRows += rows > 0 ? 1 : 0;
    }
    EXPECT_EQ(compared, 242);
    EXPECT_GT(withRows, 10);
}

}  // namespace
