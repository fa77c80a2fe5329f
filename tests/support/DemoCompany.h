#pragma once
// A demo installation on a temporary drive and its first company, from which a test builds the training
// database as the operator does. For the test programs that link the training build and the demo tool.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "DemoInstallation.h"
#include "company/CompanyOpening.h"
#include "platform/data/Connection.h"
#include "support/ScriptedMessages.h"
#include "support/TempDrive.h"
#include "training/BuildDriver.h"

namespace vopa::testing {

struct DemoCompany {
    TempDrive drive;
    ScriptedMessages messages;
    state::GlobalState g;
    double companyId = 0;
    std::string database;
    data::Connection server;  // on the demo server, for the test's own queries

    explicit DemoCompany(std::int64_t rows) {
        demo::DemoOptions options;
        options.rows = rows;
        const demo::DemoInstallation installation = demo::createDemoInstallation(options);
        g.ComputerName = "PC_UFFICIO";
        companyId = installation.companies.front().id;
        database = installation.companies.front().databaseName;
        server.open(demo::kDemoServerAddress);
    }

    // A build from the company, opened first at the head office as the operator does (a finished build
    // leaves the shared connection on the training database); its question is answered Yes.
    training::BuildResult build(training::BuildObserver& observer, const training::BuildOptions& options) {
        company::openCompany(companyId, g);
        g.CurrentOfficeNumber = 1;
        EXPECT_EQ(g.CompanyDatabaseName, database);
        messages->clear();
        messages->queueAnswer(ui::Answer::Yes);
        return training::runBuild(observer, options, g);
    }
};

}  // namespace vopa::testing
