// The training build on a small installation: the question, the refusals, a first build and a rebuild,
// and the failures that abandon it.

#include <gtest/gtest.h>

#include "build/BuildDriver.h"
#include "company/CompanyOpening.h"
#include "platform/files/Files.h"
#include "platform/ui/ScriptedMessageService.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"

using namespace vopa;
using build::BuildOutcome;
using vopa::testing::SmallInstallation;

namespace {

struct RecordingObserver : build::BuildObserver {
    std::vector<std::string> steps;
    std::vector<int> progressValues;
    std::vector<bool> animations;
    void stepStarted(const std::string& step, int, int) override { steps.push_back(step); }
    void progress(int value, int) override { progressValues.push_back(value); }
    void animation(bool running) override { animations.push_back(running); }
};

struct Fixture {
    vopa::testing::TempDrive drive;
    ui::ScopedScriptedMessages messages;
    state::GlobalState g;
    SmallInstallation installation{{{1, "Alfa Onlus", "VoPaDatiAlfa"}}};
    RecordingObserver observer;

    Fixture() {
        g.ComputerName = "PC_UFFICIO";
        double id = 1;
        company::openCompany(id, g);
        g.CurrentOfficeNumber = 1;
    }
    bool trainingExists() {
        return SmallInstallation::count("master", "SELECT name FROM master.dbo.sysdatabases WHERE name = 'VoPaDatiTraining'") == 1;
    }
    int companyTables() { return SmallInstallation::count("VoPaDatiAlfa", "SELECT * FROM INFORMATION_SCHEMA.TABLES"); }
};

TEST(BuildDriver, NoAtTheQuestionChangesNothing) {
    Fixture f;
    const int tables = f.companyTables();
    f.messages->queueAnswer(ui::Answer::No);
    const build::BuildResult r = build::runBuild(f.observer, {}, f.g);
    EXPECT_EQ(r.outcome, BuildOutcome::Declined);
    EXPECT_TRUE(r.closeWindow);
    EXPECT_FALSE(f.trainingExists());
    EXPECT_EQ(f.companyTables(), tables);
    EXPECT_TRUE(f.observer.steps.empty());
    EXPECT_EQ(f.messages->texts(), std::vector<std::string>{"Sei sicuro di voler creare il DB?"});
}

TEST(BuildDriver, RefusesToBuildFromTheTrainingDatabaseItself) {
    Fixture f;
    f.g.CompanyDatabaseName = "vopadatitraining";
    const build::BuildResult r = build::runBuild(f.observer, {}, f.g);
    EXPECT_EQ(r.outcome, BuildOutcome::Refused);
    EXPECT_FALSE(r.closeWindow);
    ASSERT_EQ(f.messages->boxes().size(), 1u);  // no question: nothing may start
    EXPECT_EQ(f.messages->boxes()[0].buttons, ui::Buttons::Ok);
    EXPECT_FALSE(f.trainingExists());
}

TEST(BuildDriver, OnlyTheHeadOfficeBuilds) {
    Fixture f;
    EXPECT_TRUE(build::officeAllowsBuild(f.g));
    f.g.CurrentOfficeNumber = 2;
    EXPECT_FALSE(build::officeAllowsBuild(f.g));
    EXPECT_EQ(f.messages->boxes().size(), 1u);
}

TEST(BuildDriver, BuildsRegistersAndRebuildsOverTheOldDatabase) {
    Fixture f;
    int copies = 0;
    build::BuildOptions options;
    options.copy = [&](state::GlobalState& g, build::BuildObserver&, int, std::vector<std::string>&) {
        ++copies;
        // The copy runs on the new database's tables, before the registration.
        EXPECT_EQ(g.ServerConnectionString, build::trainingString(g));
        if (copies == 1) {
            EXPECT_EQ(SmallInstallation::count("VoPaDatiAzienda", "SELECT * FROM link_programma WHERE dbname = 'VoPaDatiTraining'"), 0);
        }
    };
    f.messages->queueAnswer(ui::Answer::Yes);
    build::BuildResult r = build::runBuild(f.observer, options, f.g);
    ASSERT_EQ(r.outcome, BuildOutcome::Completed) << ::testing::PrintToString(f.messages->texts());
    EXPECT_TRUE(r.closeWindow);
    EXPECT_EQ(copies, 1);
    EXPECT_TRUE(f.trainingExists());
    EXPECT_EQ(SmallInstallation::count("VoPaDatiTraining", "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_TYPE = 'BASE TABLE'"), 355);
    EXPECT_EQ(f.g.SharedConnection.execute("SELECT DB_NAME()")->field(0).toString(), "VoPaDatiTraining");
    EXPECT_EQ(f.g.ServerConnectionString, "Driver=SQL Server;Server=(local);UID=;PWD=;database=VoPaDatiTraining;");
    EXPECT_EQ(f.observer.progressValues.front(), 600);
    EXPECT_EQ(f.observer.progressValues.back(), 1200);
    EXPECT_EQ(f.observer.animations, (std::vector<bool>{true, false}));
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAzienda",
                                        "SELECT NomeAzienda + '|' + Stringa_connessione_sql + '|' + qen_access + '|' + "
                                        "qen_sql + '|' + Nserver + '|' + CAST(Ultimo AS varchar(5)) FROM link_programma "
                                        "WHERE dbname = 'VoPaDatiTraining'"),
              "Training Sede|VoPaDatiTraining|Qen_locale_sql.mdb|Qen_locale_sql.mdb|(local)|0");
    // The build also brought the company database up to date (a column of the build's own statements).
    EXPECT_EQ(SmallInstallation::count("VoPaDatiAlfa", "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 'ProgettiSedi'"), 1);

    // A rebuild from the company: the old database goes, the registry row is overwritten.
    SmallInstallation::run("VoPaDatiTraining", "CREATE TABLE avanzo (x int)");
    double id = 1;
    company::openCompany(id, f.g);
    f.messages->queueAnswer(ui::Answer::Yes);
    r = build::runBuild(f.observer, options, f.g);
    EXPECT_EQ(r.outcome, BuildOutcome::Completed);
    EXPECT_EQ(SmallInstallation::count("VoPaDatiTraining", "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 'avanzo'"), 0);
    EXPECT_EQ(SmallInstallation::count("VoPaDatiAzienda", "SELECT * FROM link_programma WHERE dbname = 'VoPaDatiTraining'"), 1);
    // Each build asked once and ended with its summary, naming its report.
    const std::vector<std::string> texts = f.messages->texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "Sei sicuro di voler creare il DB?");
    EXPECT_EQ(texts[2], "Sei sicuro di voler creare il DB?");
    EXPECT_EQ(texts[3].rfind("Database di training creato.\n", 0), 0u) << texts[3];
    EXPECT_NE(texts[3].find("Resoconto: " + r.summary.reportFile), std::string::npos) << texts[3];
    const std::string report = f.drive.readRaw(r.summary.reportFile.substr(3));
    EXPECT_NE(report.find("Creazione tabelle"), std::string::npos);
    EXPECT_NE(report.find("Verifica delle righe"), std::string::npos);
    EXPECT_EQ(r.summary.tables, 242);

    // Again in the same session, straight after: the company database is upgraded and the training
    // database the last build left SharedConnection on is dropped and made again.
    SmallInstallation::run("VoPaDatiTraining", "CREATE TABLE avanzo (x int)");
    SmallInstallation::run("VoPaDatiAlfa", "DROP TABLE ProgettiSedi");
    f.messages->queueAnswer(ui::Answer::Yes);
    r = build::runBuild(f.observer, options, f.g);
    EXPECT_EQ(r.outcome, BuildOutcome::Completed) << ::testing::PrintToString(f.messages->texts());
    EXPECT_EQ(SmallInstallation::count("VoPaDatiTraining", "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 'avanzo'"), 0);
    EXPECT_EQ(SmallInstallation::count("VoPaDatiAlfa", "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 'ProgettiSedi'"), 1);
    EXPECT_EQ(f.g.SharedConnection.execute("SELECT DB_NAME()")->field(0).toString(), "VoPaDatiTraining");
}

TEST(BuildDriver, AnUnreachableServerReachesTheFirstHandlerAfterOneMessage) {
    Fixture f;
    // The server name of the configuration names a server that does not answer.
    vopa::files::writeTextFile("C:\\vopa\\NomeServer.txt", "altroserver");
    f.messages->queueAnswer(ui::Answer::Yes);
    const build::BuildResult r = build::runBuild(f.observer, {}, f.g);
    EXPECT_EQ(r.outcome, BuildOutcome::Abandoned);
    EXPECT_FALSE(r.closeWindow);
    EXPECT_EQ(f.messages->boxes().size(), 2u);  // the question and the error
    EXPECT_EQ(f.observer.animations.back(), false);
}

TEST(BuildDriver, AFailingCreationAbandonsTheBuildBeforeAnyTable) {
    Fixture f;
    // The company's configured data folder does not exist: the server cannot create the files.
    SmallInstallation::run("VoPaDatiAzienda", "UPDATE link_programma SET IndirizzoMdf = 'C:\\Manca'");
    bool copied = false;
    build::BuildOptions options;
    options.copy = [&](state::GlobalState&, build::BuildObserver&, int, std::vector<std::string>&) { copied = true; };
    f.messages->queueAnswer(ui::Answer::Yes);
    const build::BuildResult r = build::runBuild(f.observer, options, f.g);
    EXPECT_EQ(r.outcome, BuildOutcome::Abandoned);
    EXPECT_FALSE(r.closeWindow);
    ASSERT_EQ(f.messages->boxes().size(), 2u);
    EXPECT_NE(f.messages->texts()[1].find("C:\\Manca\\VoPaDatiTraining.mdf"), std::string::npos) << f.messages->texts()[1];
    EXPECT_FALSE(copied);
    EXPECT_FALSE(f.trainingExists());
    EXPECT_EQ(std::count(f.observer.steps.begin(), f.observer.steps.end(), "Creazione tabelle"), 0);
}

}  // namespace
