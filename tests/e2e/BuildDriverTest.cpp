// The training build on a small installation: the question, the refusals, a first build and a rebuild,
// and the failures that abandon it.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "training/BuildDriver.h"
#include "training/BuildLock.h"
#include "training/BuildReport.h"
#include "platform/text/Text.h"
#include "company/CompanyOpening.h"
#include "platform/files/Files.h"
#include "support/ScriptedMessageService.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"

using namespace vopa;
using training::BuildOutcome;
using vopa::testing::SmallInstallation;

namespace {

struct RecordingObserver : training::BuildObserver {
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
    // The operator answers Yes to the question.
    training::BuildResult build(const training::BuildOptions& options = {}) {
        messages->queueAnswer(ui::Answer::Yes);
        return training::runBuild(observer, options, g);
    }
    bool trainingExists() {
        return SmallInstallation::count("master", "SELECT name FROM master.dbo.sysdatabases WHERE name = 'VoPaDatiTraining'") == 1;
    }
    int companyTables() { return SmallInstallation::count("VoPaDatiAlfa", "SELECT * FROM INFORMATION_SCHEMA.TABLES"); }
};

int trainingRegistrations() {
    return SmallInstallation::count("VoPaDatiAzienda", "SELECT * FROM link_programma WHERE dbname = 'VoPaDatiTraining'");
}
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Builds that cannot start change nothing, not even the company database: the operator says No, the
// company is the training database itself (refused before the question), or another desk builds on the
// server (refused naming it, until its build ends and lets the lock go).
TEST(BuildDriver, ABuildThatCannotStartChangesNothing) {
    struct Case {
        const char* what;
        const char* companyDatabase;  // replaces the company's when given
        bool lockedByOtherDesk;
        std::optional<ui::Answer> answer;  // none: no question may be asked
        BuildOutcome outcome;
        bool closeWindow;
        const char* lastText;
    };
    const Case cases[] = {
        {"No at the question", nullptr, false, ui::Answer::No, BuildOutcome::Declined, true, "Sei sicuro di voler creare il DB?"},
        {"the training database itself", "vopadatitraining", false, std::nullopt, BuildOutcome::Refused, false, ""},
        {"another desk's build", nullptr, true, ui::Answer::Yes, BuildOutcome::Refused, false, "PC_SEGRETERIA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        const int tables = f.companyTables();
        if (c.companyDatabase) f.g.CompanyDatabaseName = c.companyDatabase;
        training::BuildLock lock;
        state::GlobalState desk;
        desk.ComputerName = "PC_SEGRETERIA";
        ASSERT_TRUE(!c.lockedByOtherDesk || lock.acquire(desk) == std::nullopt);
        if (c.answer) f.messages->queueAnswer(*c.answer);
        const training::BuildResult r = training::runBuild(f.observer, {}, f.g);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.closeWindow, c.closeWindow);
        ASSERT_EQ(f.messages->boxes().size(), c.answer && c.outcome == BuildOutcome::Refused ? 2u : 1u);
        EXPECT_EQ(f.messages->boxes().front().buttons == ui::Buttons::Ok, !c.answer);
        EXPECT_TRUE(contains(f.messages->texts().back(), c.lastText)) << f.messages->texts().back();
        EXPECT_FALSE(f.trainingExists());
        EXPECT_EQ(f.companyTables(), tables);
        EXPECT_TRUE(f.observer.steps.empty());
        if (!c.lockedByOtherDesk) continue;
        lock.release();
        EXPECT_EQ(f.build().outcome, BuildOutcome::Completed) << ::testing::PrintToString(f.messages->texts());
        EXPECT_EQ(lock.acquire(desk), std::nullopt) << "the build lets the lock go";
    }
}

TEST(BuildDriver, BuildsRegistersAndRebuildsOverTheOldDatabase) {
    Fixture f;
    SmallInstallation::run("VoPaDatiAlfa", "CREATE TABLE UnMastro (idAutonumber int NULL, Mastro nvarchar(10) NULL, Descrizione nvarchar(50) NULL)\n"
                                           "INSERT INTO UnMastro VALUES (1, 'A', 'a')\n"
                                           "CREATE TABLE UnSottoMastro (x int NULL)");
    int copies = 0;
    training::BuildOptions options;
    options.copy = [&](state::GlobalState& g, training::BuildObserver& observer, int, std::vector<std::string>& incomplete) {
        ++copies;
        // The copy runs on the new database's tables, before the registration.
        EXPECT_EQ(g.ServerConnectionString, training::trainingString(g));
        if (copies > 1) return;
        EXPECT_EQ(trainingRegistrations(), 0);
        // UnSottoMastro failed once and was copied on a retry (both sides empty); UnMastro's row never came.
        observer.note("Copia non riuscita: UnSottoMastro: primo tentativo");
        incomplete.push_back("UnSottoMastro");
    };
    training::BuildResult r = f.build(options);
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
    // Only a table whose rows are not all in the training database is named as incomplete: a failure on
    // the way to a table that then arrived whole does not make it so.
    EXPECT_EQ(std::count(r.incompleteTables.begin(), r.incompleteTables.end(), "UnSottoMastro"), 0);
    EXPECT_EQ(std::count(r.incompleteTables.begin(), r.incompleteTables.end(), "UnMastro"), 1);
    EXPECT_FALSE(contains(f.messages->texts().back(), "\nUnSottoMastro")) << f.messages->texts().back();
    EXPECT_TRUE(contains(f.messages->texts().back(), "\nUnMastro")) << f.messages->texts().back();
    // The build also brought the company database up to date (a column of the build's own statements).
    EXPECT_TRUE(SmallInstallation::hasTable("VoPaDatiAlfa", "ProgettiSedi"));

    // A rebuild from the company: the old database goes, the registry row is overwritten.
    SmallInstallation::run("VoPaDatiTraining", "CREATE TABLE avanzo (x int)");
    double id = 1;
    company::openCompany(id, f.g);
    r = f.build(options);
    EXPECT_EQ(r.outcome, BuildOutcome::Completed);
    EXPECT_FALSE(SmallInstallation::hasTable("VoPaDatiTraining", "avanzo"));
    EXPECT_EQ(trainingRegistrations(), 1);
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
    r = f.build(options);
    EXPECT_EQ(r.outcome, BuildOutcome::Completed) << ::testing::PrintToString(f.messages->texts());
    EXPECT_FALSE(SmallInstallation::hasTable("VoPaDatiTraining", "avanzo"));
    EXPECT_TRUE(SmallInstallation::hasTable("VoPaDatiAlfa", "ProgettiSedi"));
    EXPECT_EQ(f.g.SharedConnection.execute("SELECT DB_NAME()")->field(0).toString(), "VoPaDatiTraining");
}

// Builds that end short of a complete copy: none may report the old training database's rows as its
// own, each says in its report what ended it, and none counts as complete.
TEST(BuildDriver, ABuildThatEndsShortSaysWhyAndIsNotComplete) {
    // What happens during the copy: nothing, the training connection text comes to name a server that
    // does not answer, or a stop is requested (and the next statement must not be sent).
    enum class InCopy { Nothing, ServerLost, Stop };
    struct Case {
        const char* what;
        const char* serverName;    // written in the configuration unless null
        bool trainingInUse;        // another connection stays on the old training database
        const char* registrySql;   // run on the registry first
        InCopy inCopy;
        BuildOutcome outcome;
        bool closeWindow;
        const char* failure;       // in the report, the result and a box
        bool compared;             // the tables were made, copied and compared
        bool trainingLeft;         // a training database is there afterwards
    };
    const Case cases[] = {
        {"an unreachable server", "altroserver", false, "", InCopy::Nothing, BuildOutcome::Abandoned, false, "altroserver", false, true},
        {"a training database in use", nullptr, true, "", InCopy::Nothing, BuildOutcome::Abandoned, false, "in use", false, true},
        // The company's configured data folder does not exist: the server cannot create the files.
        {"a failing creation", nullptr, false, "UPDATE link_programma SET IndirizzoMdf = 'C:\\Manca'", InCopy::Nothing,
         BuildOutcome::Abandoned, false, "C:\\Manca\\VoPaDatiTraining.mdf", false, false},
        {"a registry that refuses the training row", nullptr, false,
         "CREATE UNIQUE INDEX UnNome ON link_programma (NomeAzienda)\nUPDATE link_programma SET NomeAzienda = 'Training Sede'",
         InCopy::Nothing, BuildOutcome::Completed, true, "Registrazione di Training Sede non riuscita", true, true},
        // A failure after the copy (the training database cannot be reopened) closes the window.
        {"a failure after the copy", nullptr, false, "", InCopy::ServerLost, BuildOutcome::Abandoned, true, "altroserver", true, true},
        // A stop request ends the build after the statement that was running; the window stays for another try.
        {"a stop request", nullptr, false, "", InCopy::Stop, BuildOutcome::Interrupted, false, "interrotta", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        // An old training database whose rows must not be taken for the new one's.
        SmallInstallation::run("master", "CREATE DATABASE VoPaDatiTraining");
        if (c.serverName) vopa::files::writeTextFile("C:\\vopa\\NomeServer.txt", c.serverName);
        data::Connection other;
        if (c.trainingInUse) other.open("Driver=SQL Server;Server=(local);UID=;PWD=;database=VoPaDatiTraining;");
        if (*c.registrySql) SmallInstallation::run("VoPaDatiAzienda", c.registrySql);
        // The registry row of the copy takes the user and password of the server address.
        vopa::files::writeTextFile("C:\\vopa\\IndirizzoServer.txt", "Driver=SQL Server;Server=(local);UID=contabile;PWD=chiave;");
        bool copied = false;
        std::atomic<bool> stop{false};
        training::BuildOptions options;
        options.stop = &stop;
        options.copy = [&](state::GlobalState& g, training::BuildObserver&, int, std::vector<std::string>&) {
            copied = true;
            if (c.inCopy == InCopy::ServerLost)
                g.ServerConnectionString = "Driver=SQL Server;Server=altroserver;UID=;PWD=;database=VoPaDatiTraining;";
            if (c.inCopy != InCopy::Stop) return;
            stop = true;
            g.ServerConnection.execute("SELECT 1");
            ADD_FAILURE() << "the copy went on after the stop request";
        };
        const training::BuildResult r = f.build(options);
        EXPECT_EQ(copied, c.compared || c.inCopy != InCopy::Nothing);
        EXPECT_EQ(std::count(f.observer.steps.begin(), f.observer.steps.end(), "Creazione tabelle"), copied ? 1 : 0);
        EXPECT_EQ(trainingRegistrations(), c.inCopy == InCopy::ServerLost ? 1 : 0);
        if (c.inCopy == InCopy::ServerLost) {
            EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAzienda", "SELECT DBname + '|' + nRoot + '|' + nPassw FROM link_programma "
                                                                   "WHERE NomeAzienda = 'Training Sede'"),
                      "VoPaDatiTraining|contabile|chiave");
        }
        EXPECT_EQ(f.trainingExists(), c.trainingLeft);
        EXPECT_EQ(r.closeWindow, c.closeWindow);
        ASSERT_EQ(f.messages->texts().size(), 2u);  // the question and the failure (or the summary naming it)
        EXPECT_TRUE(contains(f.messages->texts()[1], c.failure)) << f.messages->texts()[1];
        EXPECT_EQ(f.observer.animations.back(), false);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_FALSE(r.complete());
        ASSERT_FALSE(r.failures.empty());
        EXPECT_TRUE(contains(r.failures.front(), c.failure)) << r.failures.front();
        ASSERT_TRUE(r.summary.written) << r.summary.writeError;
        const std::string report = f.drive.readRaw(r.summary.reportFile.substr(3));
        EXPECT_TRUE(contains(report, "Errore: " + r.failures.front())) << report;
        EXPECT_EQ(contains(report, "Esito: interrotta"), c.outcome == BuildOutcome::Interrupted) << report;
        EXPECT_EQ(contains(report, "Verifica delle righe non eseguita"), !c.compared) << report;
        EXPECT_EQ(r.summary.tables > 0, c.compared);
    }
}

// The headless build's exit status: complete only when nothing at all fell short.
TEST(BuildDriver, ABuildIsCompleteOnlyWhenEveryPartOfItIs) {
    training::BuildResult whole;
    whole.copyEnded = true;
    whole.summary.written = true;
    whole.summary.tables = whole.summary.complete = 242;
    ASSERT_TRUE(whole.complete());
    const std::pair<const char*, std::function<void(training::BuildResult&)>> shortfalls[] = {
        {"interrupted", [](auto& r) { r.outcome = BuildOutcome::Interrupted; }},
        {"copy did not end", [](auto& r) { r.copyEnded = false; }},
        {"a failure", [](auto& r) { r.failures.push_back("registrazione"); }},
        {"a table short", [](auto& r) { r.incompleteTables.push_back("Conti"); }},
        {"no report", [](auto& r) { r.summary.written = false; }},
        {"nothing compared", [](auto& r) { r.summary.tables = r.summary.complete = 0; }},
        {"fewer tables whole", [](auto& r) { r.summary.complete = 241; }},
    };
    for (const auto& [what, change] : shortfalls) {
        training::BuildResult r = whole;
        change(r);
        EXPECT_FALSE(r.complete()) << what;
    }
}

TEST(BuildReport, NamesLineUpAndEachBuildGetsItsOwnFileOrSaysWhyNot) {
    vopa::testing::TempDrive drive;
    RecordingObserver observer;
    training::BuildRecorder recorder(observer);
    training::BuildResult result;
    result.copyEnded = true;
    const std::vector<training::TableCheck> checks = {{"ProgettiDettaglioAttività", 12, 12}, {"conti", 13, 2}};
    const training::BuildSummary first = training::writeBuildReport(recorder, result, checks, "VoPaDatiAlfa");
    const training::BuildSummary second = training::writeBuildReport(recorder, result, checks, "VoPaDatiAlfa");
    ASSERT_TRUE(first.written && second.written);
    EXPECT_NE(first.reportFile, second.reportFile);  // in the same second
    EXPECT_EQ(first.complete, 1);
    // The counts stand in the same column, whatever the bytes of the name before them.
    std::vector<std::size_t> columns;
    const std::string report = drive.readRaw(first.reportFile.substr(3));
    for (const char* name : {"ProgettiDettaglioAttività", "conti"}) {
        const std::size_t line = report.find("  " + std::string(name));
        const std::string text = report.substr(line, report.find('\n', line) - line);
        columns.push_back(vopa::text::lengthInChars(text.substr(0, text.find_first_of("0123456789"))));
    }
    EXPECT_EQ(columns[0], columns[1]) << report;

    // The log folder cannot be made: nothing is named as written, and the reason is given.
    const std::filesystem::path folder = vopa::files::mapPath("C:\\Vopa\\Log");
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "a file where the folder should be";
    const training::BuildSummary refused = training::writeBuildReport(recorder, result, checks, "VoPaDatiAlfa");
    EXPECT_FALSE(refused.written);
    EXPECT_FALSE(refused.writeError.empty());
    EXPECT_TRUE(contains(training::summaryText(refused), "Il resoconto non è stato scritto")) << training::summaryText(refused);
}

}  // namespace
